// The printers file: what langmon-printer --list writes and langmon
// --printers reads. One printer a line: its device URI, then optionally its
// name: a word, or a text in double quotes that may hold blanks; in either
// a backslash takes the next character as it is ("Queue 7", Queue\ 7), and a
// quote inside a word is part of it. A name with blanks, quotes, backslashes
// or a leading "#" is written in double quotes, with \" and \\ inside. Blank
// lines and lines that begin with "#" are comments, and so is the rest of a
// line from a "#" that begins a word.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace langmon::sim {

// The most a printers file may hold (sim/input_file.h): about 50 000 lines.
inline constexpr std::size_t kMaxPrintersFileBytes = 4u << 20;

struct PrintersLine {
  bool comment = true;  // nothing but blanks and a comment
  std::string uri;
  std::string name;  // empty when the line names none
};

// Splits one line (without its line end). False with `error` saying what is
// wrong, without the line's place.
bool ReadPrintersLine(std::string_view line, PrintersLine& out, std::string& error);

// A name as a printers file writes it: as it is, or in quotes when it needs
// them.
std::string QuotePrinterName(std::string_view name);

// One printer of a printers file, and the line it stands on (from 1).
struct PrintersEntry {
  std::string uri;
  std::string name;
  int line = 0;
};

// The first line of a file that is wrong, and why.
struct PrintersFault {
  int line = 0;
  std::string reason;
};

// Why a device URI cannot be used, or empty: the reader of the file knows
// its lines, the caller what a URI may be.
using UriCheck = std::function<std::string(const std::string& uri)>;

// The printers a file's text names, in line order (LF or CR LF line ends;
// comments and blank lines left out). False with `fault` for the first line
// that is wrong: its shape, or what `checkUri` says of its URI.
bool ReadPrintersText(std::string_view text, std::vector<PrintersEntry>& printers,
                      PrintersFault& fault, const UriCheck& checkUri = {});

// A printers file: each comment on a line of its own after "# ", then one
// line per printer, its URI and its name quoted as it needs.
std::string WritePrintersText(const std::vector<std::string>& comments,
                              const std::vector<PrintersEntry>& printers);

}  // namespace langmon::sim

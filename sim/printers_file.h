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
#include <string>
#include <string_view>

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

}  // namespace langmon::sim

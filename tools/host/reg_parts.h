// The parts of the .reg reader and loader (reg_file.h), one source each, and
// what they hand each other:
//
//   reg_decode.cpp  the file's bytes as UTF-8 text, whatever encoding they
//                   came in (text_encoding.h converts)
//   reg_lines.cpp   the text's lines: their numbers, and the hex data that
//                   continues over several of them
//   reg_value.cpp   a value's data (a dword, hex bytes, a string or a
//                   deletion), read from the text handed to it: it moves no
//                   line
//   reg_file.cpp    keys and values: what is kept, replaced, deleted or left
//                   out (ParseRegFile)
//   reg_load.cpp    the printers' key paths and the load into the host
//                   registry (LoadPrinterSettings)
//
// Every fault is a RegFileError: the line it is on, and the reason.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ascii.h"
#include "reg_file.h"

namespace langmon::host {

using sim::TrimBlanks;

// ---- reg_decode -------------------------------------------------------------

// The file's bytes as UTF-8 text: UTF-16LE (with a byte-order mark or
// without), UTF-8, or 8-bit text read as Latin-1. False with `error` for
// UTF-16 big-endian and for text that is not well-formed.
bool DecodeRegText(std::string_view bytes, std::string& text, RegFileError& error);

// ---- reg_lines --------------------------------------------------------------

// A value's data joined from the lines it stands on, and the line each part
// came from, so that a fault in it is named at its own line.
struct RegData {
  std::string text;
  std::vector<std::pair<std::size_t, int>> parts;  // offset in text, line number

  void Append(std::string_view part, int line);
  // A fault at `offset` in the text; npos is a fault of the whole data,
  // named at its first line.
  RegFileError FaultAt(std::size_t offset, std::string reason) const;
};

// The lines of the text, numbered from 1, without their line ends (LF or
// CR LF) and their outer blanks.
class RegLines {
 public:
  explicit RegLines(std::string_view text);

  // Moves to the next line; false after the last.
  bool Next();
  std::string_view Line() const { return TrimBlanks(lines_[index_]); }
  int Number() const { return static_cast<int>(index_) + 1; }
  std::size_t Count() const { return lines_.size(); }

  // The data of a value that begins on the current line with `first`. Hex
  // data whose line ends in a backslash continues on the next line; the
  // lines it continues on are taken, and Next() goes on after them. False
  // with `error` at the line of the fault: data continued past the end of
  // the file (blank lines there do not count), an empty line where it
  // should continue, a NUL character.
  bool ValueData(std::string_view first, RegData& data, RegFileError& error);

 private:
  bool OnlyBlankLinesFollow() const;

  std::vector<std::string_view> lines_;
  std::size_t index_ = 0;
  bool started_ = false;
};

// ---- reg_value --------------------------------------------------------------

// Reads a double-quoted text at the start of `s` with the .reg escapes for
// a backslash and a quote. On success `s` is left behind the closing quote.
bool ReadQuoted(std::string_view& s, std::string& out);

struct RegValue {
  enum Kind { Delete, Dword, String, Binary } kind = Dword;
  std::string typeName;  // as written, for the left-out messages
  DWORD dword = 0;
  std::string bytes;  // Binary
  unsigned hexType = REG_BINARY;
};

// The value a value line's data (after the '=') gives. False with `error`
// at the line of the fault.
bool ParseRegValue(const RegData& data, RegValue& value, RegFileError& error);

}  // namespace langmon::host

#include "printers_file.h"

namespace langmon::sim {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

void SkipBlanks(std::string_view& text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
}

// Whether only blanks and a comment are left.
bool AtLineEnd(std::string_view text) {
  SkipBlanks(text);
  return text.empty() || text.front() == '#';
}

// A name in double quotes; `text` starts at the opening quote and is left
// behind the closing one.
bool ReadQuoted(std::string_view& text, std::string& name, std::string& error) {
  for (std::size_t i = 1; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      name += text[++i];
    } else if (text[i] == '"') {
      text.remove_prefix(i + 1);
      return true;
    } else {
      name += text[i];
    }
  }
  error = "the printer name has no closing quote";
  return false;
}

// A name without quotes: up to the next blank, a backslash taking the
// character after it as it is.
void ReadBare(std::string_view& text, std::string& name) {
  while (!text.empty() && !IsBlank(text.front())) {
    if (text.front() == '\\' && text.size() > 1) text.remove_prefix(1);
    name += text.front();
    text.remove_prefix(1);
  }
}

bool ReadName(std::string_view& text, std::string& name, std::string& error) {
  if (text.front() != '"') {
    ReadBare(text, name);
    return true;
  }
  if (!ReadQuoted(text, name, error)) return false;
  if (name.empty()) error = "the printer name in quotes is empty";
  return !name.empty();
}

}  // namespace

bool ReadPrintersLine(std::string_view line, PrintersLine& out, std::string& error) {
  out = PrintersLine{};
  if (AtLineEnd(line)) return true;
  out.comment = false;
  SkipBlanks(line);
  while (!line.empty() && !IsBlank(line.front())) {
    out.uri += line.front();
    line.remove_prefix(1);
  }
  if (AtLineEnd(line)) return true;
  SkipBlanks(line);
  if (!ReadName(line, out.name, error)) return false;
  if (AtLineEnd(line)) return true;
  error =
      "expected a device URI and an optional printer name, found more after the name (a name "
      "with blanks goes in quotes: \"first printer\")";
  return false;
}

std::string QuotePrinterName(std::string_view name) {
  const bool plain = !name.empty() && name.front() != '#' &&
                     name.find_first_of(" \t\"\\") == std::string_view::npos;
  if (plain) return std::string(name);
  std::string quoted = "\"";
  for (char c : name) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

}  // namespace langmon::sim

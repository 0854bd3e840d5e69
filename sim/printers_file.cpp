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

// The name: in double quotes up to the closing one, else up to a blank; in
// either a backslash takes the next character as it is. False with `error`
// for a quote left open or an empty name in quotes.
bool ReadName(std::string_view& text, std::string& name, std::string& error) {
  const bool quoted = text.front() == '"';
  if (quoted) text.remove_prefix(1);
  while (!text.empty() && (quoted ? text.front() != '"' : !IsBlank(text.front()))) {
    if (text.front() == '\\' && text.size() > 1) text.remove_prefix(1);
    name += text.front();
    text.remove_prefix(1);
  }
  if (!quoted) return true;
  if (text.empty()) {
    error = "the printer name has no closing quote";
    return false;
  }
  text.remove_prefix(1);
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

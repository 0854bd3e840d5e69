#include "printers_file.h"

#include <algorithm>

#include "ascii.h"

namespace langmon::sim {

namespace {

// Whether only blanks and a comment are left.
bool AtLineEnd(std::string_view text) {
  text = SkipBlanks(text);
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
  line = SkipBlanks(line);
  while (!line.empty() && !IsBlank(line.front())) {
    out.uri += line.front();
    line.remove_prefix(1);
  }
  if (AtLineEnd(line)) return true;
  line = SkipBlanks(line);
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

bool ReadPrintersText(std::string_view text, std::vector<PrintersEntry>& printers,
                      PrintersFault& fault, const UriCheck& checkUri) {
  for (int number = 1; !text.empty(); ++number) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    PrintersLine parsed;
    fault.line = number;
    if (!ReadPrintersLine(line, parsed, fault.reason)) return false;
    if (parsed.comment) continue;
    if (checkUri) fault.reason = checkUri(parsed.uri);
    if (!fault.reason.empty()) return false;
    printers.push_back({parsed.uri, parsed.name, number});
  }
  return true;
}

std::string WritePrintersText(const std::vector<std::string>& comments,
                              const std::vector<PrintersEntry>& printers) {
  std::string text;
  for (const std::string& comment : comments) text.append("# ").append(comment).append("\n");
  for (const PrintersEntry& p : printers)
    text.append(p.uri).append(" ").append(QuotePrinterName(p.name)).append("\n");
  return text;
}

}  // namespace langmon::sim

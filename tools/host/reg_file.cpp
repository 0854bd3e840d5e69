#include "reg_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "config/config.h"
#include "text_encoding.h"

namespace langmon::host {

namespace {

constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kHeader4 = "REGEDIT4";

struct Failure {
  int line;
  std::string reason;
};

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return AsciiLower(x) == AsciiLower(y);
         });
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualNoCase(text.substr(0, prefix.size()), prefix);
}

bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() &&
         EqualNoCase(text.substr(text.size() - suffix.size()), suffix);
}

std::string_view Trim(std::string_view s) {
  const auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}

int HexNibble(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = AsciiLower(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The monitor's key path parts as they stand in a .reg file's key lines.
const std::string& PrintersKeyPrefix() {
  static const std::string prefix = "HKEY_LOCAL_MACHINE\\" + Utf16ToUtf8(kDriverDataKeyPrefix);
  return prefix;
}

const std::string& DriverDataKeySuffix() {
  static const std::string suffix = Utf16ToUtf8(kDriverDataKeySuffix);
  return suffix;
}

int LineAt(std::string_view text, std::size_t offset) {
  return 1 + static_cast<int>(std::count(text.begin(), text.begin() + offset, '\n'));
}

// UTF-16LE bytes (without the byte-order mark) to UTF-8.
bool DecodeUtf16Le(std::string_view bytes, std::string& out, Failure& failure) {
  std::u16string units(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i)
    units[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                     (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  out.clear();
  for (std::size_t i = 0; i < units.size();) {
    char32_t cp;
    const std::size_t n = DecodeUtf16At(units, i, cp);
    if (n == 0) {
      failure = {LineAt(out, out.size()), "unpaired UTF-16 surrogate"};
      return false;
    }
    AppendUtf8(out, cp);
    i += n;
  }
  if (bytes.size() % 2 != 0) {
    failure = {LineAt(out, out.size()), "UTF-16 text ends in the middle of a character"};
    return false;
  }
  return true;
}

// Brings the file's bytes to UTF-8 text, whatever encoding it came in.
bool DecodeText(std::string_view bytes, std::string& text, Failure& failure) {
  if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE')
    return DecodeUtf16Le(bytes.substr(2), text, failure);
  if (bytes.size() >= 2 && bytes[0] == '\xFE' && bytes[1] == '\xFF') {
    failure = {1, "UTF-16 big-endian text is not supported (save the file as UTF-16LE or UTF-8)"};
    return false;
  }
  // UTF-16LE without a byte-order mark: the header's first letter is ASCII.
  if (bytes.size() >= 2 && bytes[0] != '\0' && bytes[1] == '\0')
    return DecodeUtf16Le(bytes, text, failure);
  bool bom = false;
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    bytes.remove_prefix(3);
    bom = true;
  }
  const std::size_t bad = FirstInvalidUtf8(bytes);
  if (bad == std::string_view::npos) {
    text.assign(bytes);
    return true;
  }
  if (bom) {
    failure = {LineAt(bytes, bad), "invalid UTF-8"};
    return false;
  }
  // 8-bit text as REGEDIT4 writes it: read it as Latin-1.
  text.clear();
  for (char c : bytes) AppendUtf8(text, static_cast<unsigned char>(c));
  return true;
}

// Reads a double-quoted text at the start of `s` with the .reg escapes for
// a backslash and a quote. On success `s` is left behind the closing quote.
bool ReadQuoted(std::string_view& s, std::string& out) {
  out.clear();
  for (std::size_t i = 1; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size()) {
      out += s[++i];
    } else if (s[i] == '"') {
      s.remove_prefix(i + 1);
      return true;
    } else {
      out += s[i];
    }
  }
  return false;
}

struct Value {
  enum Kind { Delete, Dword, String, Binary } kind = Dword;
  std::string typeName;  // as written, for warnings
  DWORD dword = 0;
  std::string bytes;  // Binary
  unsigned hexType = 3;
};

bool AllHex(std::string_view digits) {
  return std::all_of(digits.begin(), digits.end(), [](char c) { return HexNibble(c) >= 0; });
}

// "string": a string value, checked for its syntax only.
bool ParseStringData(std::string_view data, Value& value, std::string& reason) {
  std::string ignored;
  if (!ReadQuoted(data, ignored)) {
    reason = "string value has no closing quote";
    return false;
  }
  if (!Trim(data).empty()) {
    reason = "unexpected text after the string value";
    return false;
  }
  value.kind = Value::String;
  value.typeName = "string";
  return true;
}

// dword:XXXXXXXX
bool ParseDwordData(std::string_view digits, Value& value, std::string& reason) {
  if (digits.empty() || digits.size() > 8 || !AllHex(digits)) {
    reason = "dword value must be 1 to 8 hexadecimal digits, found \"" + std::string(digits) + "\"";
    return false;
  }
  DWORD v = 0;
  for (char c : digits) v = (v << 4) | static_cast<DWORD>(HexNibble(c));
  value.kind = Value::Dword;
  value.dword = v;
  return true;
}

// The "(T)" of hex(T): the registry type in hex; `rest` is left behind it.
bool ParseHexType(std::string_view& rest, Value& value, std::string& reason) {
  const std::size_t close = rest.find(')');
  const std::string_view type = rest.substr(1, close == std::string_view::npos ? 0 : close - 1);
  if (close == std::string_view::npos || type.empty() || type.size() > 8 || !AllHex(type)) {
    reason = "malformed hex(type) prefix";
    return false;
  }
  value.hexType = 0;
  for (char c : type) value.hexType = (value.hexType << 4) | static_cast<unsigned>(HexNibble(c));
  value.typeName = "hex(" + std::string(type) + ")";
  rest = rest.substr(close + 1);
  return true;
}

// The bytes after "hex:" or "hex(T):", two digits each, separated by commas.
bool ParseHexBytes(std::string_view rest, std::string& bytes, std::string& reason) {
  bytes.clear();
  if (Trim(rest).empty()) return true;
  while (true) {
    const std::size_t comma = rest.find(',');
    const std::string_view item = Trim(rest.substr(0, comma));
    if (item.empty() || item.size() > 2 || !AllHex(item)) {
      reason = "bad byte \"" + std::string(item) + "\" in hex data";
      return false;
    }
    int b = HexNibble(item[0]);
    if (item.size() == 2) b = b * 16 + HexNibble(item[1]);
    bytes += static_cast<char>(b);
    if (comma == std::string_view::npos) return true;
    rest.remove_prefix(comma + 1);
  }
}

// hex:..., hex(T):...
bool ParseHexData(std::string_view rest, Value& value, std::string& reason) {
  value.hexType = REG_BINARY;
  value.typeName = "hex";
  if (!rest.empty() && rest.front() == '(' && !ParseHexType(rest, value, reason)) return false;
  if (rest.empty() || rest.front() != ':') {
    reason = "expected ':' after \"" + value.typeName + "\"";
    return false;
  }
  value.kind = Value::Binary;
  return ParseHexBytes(rest.substr(1), value.bytes, reason);
}

bool ParseValueData(std::string_view data, Value& value, std::string& reason) {
  if (data == "-") {
    value.kind = Value::Delete;
    return true;
  }
  if (!data.empty() && data.front() == '"') return ParseStringData(data, value, reason);
  if (StartsWithNoCase(data, "dword:")) return ParseDwordData(data.substr(6), value, reason);
  if (StartsWithNoCase(data, "hex")) return ParseHexData(data.substr(3), value, reason);
  reason = "unknown value type in \"" + std::string(data) + "\"";
  return false;
}

// Where values of the current key go.
struct KeyState {
  enum Kind { NoKey, Printer, Other, Deleted } kind = NoKey;
  std::string printer;
};

// The whole file as it is read, line by line.
struct Reading {
  RegFile& out;
  Failure& failure;
  std::vector<std::string_view> lines;
  std::size_t index = 0;  // of the line being read
  bool header = false;
  KeyState key;

  int LineNo() const { return static_cast<int>(index) + 1; }
  bool Fail(std::string reason) {
    failure = {LineNo(), std::move(reason)};
    return false;
  }
  void Warn(const std::string& what) {
    out.warnings.push_back("line " + std::to_string(LineNo()) + ": " + what);
  }
};

std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  for (std::size_t start = 0;;) {
    const std::size_t lf = text.find('\n', start);
    std::string_view line = text.substr(start, lf == std::string_view::npos ? lf : lf - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    if (lf == std::string_view::npos) return lines;
    start = lf + 1;
  }
}

bool ReadHeader(Reading& r, std::string_view line) {
  if (line.empty()) return true;
  if (line != kHeader5 && line != kHeader4)
    return r.Fail("not a registry export: the first line must be \"" + std::string(kHeader5) +
                  "\" or \"" + std::string(kHeader4) + "\"");
  r.header = true;
  return true;
}

bool KnownRoot(std::string_view path) {
  static constexpr std::string_view kRoots[] = {"HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER",
                                                "HKEY_CLASSES_ROOT", "HKEY_USERS",
                                                "HKEY_CURRENT_CONFIG"};
  const std::string_view root = path.substr(0, path.find('\\'));
  return std::any_of(std::begin(kRoots), std::end(kRoots),
                     [&](std::string_view r) { return EqualNoCase(r, root); });
}

// The printer whose driver-data key the path names, or false.
bool PrinterOfKey(std::string_view path, std::string& printer) {
  const std::string& prefix = PrintersKeyPrefix();
  const std::string& suffix = DriverDataKeySuffix();
  if (!StartsWithNoCase(path, prefix) || !EndsWithNoCase(path, suffix) ||
      path.size() <= prefix.size() + suffix.size())
    return false;
  printer = path.substr(prefix.size(), path.size() - prefix.size() - suffix.size());
  return true;
}

// [key] or [-key].
bool ReadKeyLine(Reading& r, std::string_view line) {
  if (line.back() != ']') return r.Fail("key line does not end with ']'");
  std::string_view path = line.substr(1, line.size() - 2);
  const bool deleting = !path.empty() && path.front() == '-';
  if (deleting) path.remove_prefix(1);
  if (path.empty()) return r.Fail("empty key name");
  if (!KnownRoot(path))
    return r.Fail("unknown root key \"" + std::string(path.substr(0, path.find('\\'))) + "\"");
  std::string printer;
  if (!PrinterOfKey(path, printer)) {
    r.Warn("key [" + std::string(path) + "] is not a printer's PrinterDriverData key; left out");
    r.key = {deleting ? KeyState::Deleted : KeyState::Other, {}};
    return true;
  }
  if (deleting) {
    std::erase_if(r.out.values, [&](const RegDword& v) { return EqualNoCase(v.printer, printer); });
    r.key = {KeyState::Deleted, {}};
  } else {
    r.key = {KeyState::Printer, std::move(printer)};
  }
  return true;
}

// "name" or @ at the start of a value line; `rest` is left behind it.
bool ReadValueName(Reading& r, std::string_view& rest, std::string& name, bool& unnamed) {
  unnamed = rest.front() == '@';
  if (unnamed) {
    rest.remove_prefix(1);
    return true;
  }
  if (rest.front() != '"') return r.Fail("expected a quoted value name, '@' or a [key] line");
  if (!ReadQuoted(rest, name)) return r.Fail("value name has no closing quote");
  return true;
}

// The data after '='. Hex data may continue over several lines, each but
// the last ending in a backslash.
bool ReadValueData(Reading& r, std::string_view rest, std::string& data) {
  const int lineNo = r.LineNo();
  data.assign(Trim(rest));
  while (!data.empty() && data.back() == '\\' && StartsWithNoCase(data, "hex")) {
    data.pop_back();
    if (r.index + 1 >= r.lines.size()) {
      r.failure = {lineNo, "hex data continues past the end of the file"};
      return false;
    }
    data += Trim(r.lines[++r.index]);
  }
  return true;
}

std::vector<RegDword>::iterator FindValue(RegFile& out, const std::string& printer,
                                          const std::string& name) {
  return std::find_if(out.values.begin(), out.values.end(), [&](const RegDword& v) {
    return EqualNoCase(v.printer, printer) && EqualNoCase(v.name, name);
  });
}

// A value of a printer's driver-data key: dwords are kept, deletions
// remove, anything else is left out with a warning.
void StoreValue(Reading& r, int lineNo, const std::string& name, Value& value) {
  if (value.kind == Value::Binary && value.hexType == REG_DWORD && value.bytes.size() == 4) {
    // hex(4) is a REG_DWORD written as its four little-endian bytes.
    value.kind = Value::Dword;
    value.dword = 0;
    for (int b = 3; b >= 0; --b)
      value.dword = (value.dword << 8) | static_cast<unsigned char>(value.bytes[b]);
  }
  const auto found = FindValue(r.out, r.key.printer, name);
  if (value.kind == Value::Delete) {
    if (found != r.out.values.end()) r.out.values.erase(found);
  } else if (value.kind == Value::Dword && found != r.out.values.end()) {
    found->value = value.dword;
    found->line = lineNo;
  } else if (value.kind == Value::Dword) {
    r.out.values.push_back({r.key.printer, name, value.dword, lineNo});
  } else {
    r.out.warnings.push_back("line " + std::to_string(lineNo) + ": \"" + name + "\" is a " +
                             value.typeName +
                             " value; stored settings are dword values, so it is left out");
  }
}

// "name"=data or @=data.
bool ReadValueLine(Reading& r, std::string_view line) {
  if (r.key.kind == KeyState::NoKey) return r.Fail("value line before any [key] line");
  if (r.key.kind == KeyState::Deleted) return r.Fail("value line under a key deletion ([-key])");
  const int lineNo = r.LineNo();
  std::string_view rest = line;
  std::string name;
  bool unnamed = false;
  if (!ReadValueName(r, rest, name, unnamed)) return false;
  rest = Trim(rest);
  if (rest.empty() || rest.front() != '=') return r.Fail("expected '=' after the value name");
  std::string data;
  if (!ReadValueData(r, rest.substr(1), data)) return false;
  Value value;
  std::string reason;
  if (!ParseValueData(data, value, reason)) {
    r.failure = {lineNo, reason};
    return false;
  }
  if (r.key.kind != KeyState::Printer) return true;  // warned at the key line
  if (unnamed) {
    r.out.warnings.push_back("line " + std::to_string(lineNo) +
                             ": the unnamed (default) value is not a setting; left out");
    return true;
  }
  StoreValue(r, lineNo, name, value);
  return true;
}

bool ReadLine(Reading& r) {
  const std::string_view line = Trim(r.lines[r.index]);
  if (line.find('\0') != std::string_view::npos) return r.Fail("NUL character in the text");
  if (!r.header) return ReadHeader(r, line);
  if (line.empty() || line.front() == ';') return true;
  if (line.front() == '[') return ReadKeyLine(r, line);
  return ReadValueLine(r, line);
}

bool ParseText(std::string_view text, RegFile& out, Failure& failure) {
  Reading r{out, failure, SplitLines(text), 0, false, KeyState{}};
  for (r.index = 0; r.index < r.lines.size(); ++r.index)
    if (!ReadLine(r)) return false;
  if (!r.header) {
    failure = {1, "empty file: no registry export header"};
    return false;
  }
  return true;
}

}  // namespace

bool ParseRegFile(std::string_view bytes, RegFile& out, RegFileError& error) {
  RegFile result;
  std::string text;
  Failure failure{0, {}};
  if (!DecodeText(bytes, text, failure) || !ParseText(text, result, failure)) {
    error = {failure.line, failure.reason};
    return false;
  }
  out = std::move(result);
  return true;
}

bool ReadRegFile(const std::string& path, RegFile& out, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = path + ": cannot open: " + std::strerror(errno);
    return false;
  }
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) {
    error = path + ": read error";
    return false;
  }
  RegFileError failure;
  if (!ParseRegFile(bytes, out, failure)) {
    error = path + ":" + std::to_string(failure.line) + ": " + failure.reason;
    return false;
  }
  return true;
}

std::u16string DriverDataKeyPath(const std::u16string& printer) {
  WCHAR path[kKeyPathCapacity];
  if (!BuildDriverDataKeyPath(printer.c_str(), path, kKeyPathCapacity)) return {};
  return path;
}

bool CreateDriverDataKey(const std::u16string& printer, HKEY& key, std::string& error) {
  key = nullptr;
  const std::u16string path = DriverDataKeyPath(printer);
  if (path.empty()) {
    error = "printer name \"" + Utf16ToUtf8(printer) +
            "\" gives no driver-data key: it is empty or longer than " +
            std::to_string(kMaxPrinterNameLength) + " characters";
    return false;
  }
  const LONG rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr,
                                  REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key, nullptr);
  if (rc != ERROR_SUCCESS) {
    key = nullptr;
    error = "cannot create the printer's registry key (error " + std::to_string(rc) + ")";
    return false;
  }
  return true;
}

int LoadPrinterSettings(const RegFile& file, const std::u16string& printer,
                        std::vector<std::string>& warnings, std::string& error,
                        const std::string& from) {
  const std::string wanted = from.empty() ? Utf16ToUtf8(printer) : from;
  std::vector<std::string> others;
  HKEY key = nullptr;
  int written = 0;
  for (const RegDword& v : file.values) {
    if (!EqualNoCase(v.printer, wanted)) {
      if (std::none_of(others.begin(), others.end(),
                       [&](const std::string& o) { return EqualNoCase(o, v.printer); })) {
        others.push_back(v.printer);
        warnings.push_back("line " + std::to_string(v.line) + ": settings for printer \"" +
                           v.printer + "\" left out (this run uses printer \"" + wanted +
                           "\"; choose it with --printer-name)");
      }
      continue;
    }
    if (!key && !CreateDriverDataKey(printer, key, error)) return -1;
    const std::u16string name = Utf8ToUtf16(v.name);
    const DWORD data = v.value;
    const LONG rc = RegSetValueExW(key, name.c_str(), 0, REG_DWORD,
                                   reinterpret_cast<const BYTE*>(&data), sizeof data);
    if (rc != ERROR_SUCCESS) {
      RegCloseKey(key);
      error = "cannot store \"" + v.name + "\" (error " + std::to_string(rc) + ")";
      return -1;
    }
    ++written;
  }
  if (key) RegCloseKey(key);
  return written;
}

std::vector<std::string> PrintersIn(const RegFile& file) {
  std::vector<std::string> printers;
  for (const RegDword& v : file.values)
    if (std::none_of(printers.begin(), printers.end(),
                     [&](const std::string& p) { return EqualNoCase(p, v.printer); }))
      printers.push_back(v.printer);
  return printers;
}

}  // namespace langmon::host

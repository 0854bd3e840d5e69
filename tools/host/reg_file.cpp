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

bool ParseValueData(std::string_view data, Value& value, std::string& reason) {
  if (data == "-") {
    value.kind = Value::Delete;
    return true;
  }
  if (!data.empty() && data.front() == '"') {
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
  if (StartsWithNoCase(data, "dword:")) {
    const std::string_view digits = data.substr(6);
    if (digits.empty() || digits.size() > 8 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return HexNibble(c) >= 0; })) {
      reason =
          "dword value must be 1 to 8 hexadecimal digits, found \"" + std::string(digits) + "\"";
      return false;
    }
    DWORD v = 0;
    for (char c : digits) v = (v << 4) | static_cast<DWORD>(HexNibble(c));
    value.kind = Value::Dword;
    value.dword = v;
    return true;
  }
  if (StartsWithNoCase(data, "hex")) {
    std::string_view rest = data.substr(3);
    value.hexType = REG_BINARY;
    value.typeName = "hex";
    if (!rest.empty() && rest.front() == '(') {
      const std::size_t close = rest.find(')');
      const std::string_view type = rest.substr(1, close == std::string_view::npos ? 0 : close - 1);
      if (close == std::string_view::npos || type.empty() || type.size() > 8 ||
          !std::all_of(type.begin(), type.end(), [](char c) { return HexNibble(c) >= 0; })) {
        reason = "malformed hex(type) prefix";
        return false;
      }
      value.hexType = 0;
      for (char c : type)
        value.hexType = (value.hexType << 4) | static_cast<unsigned>(HexNibble(c));
      value.typeName = "hex(" + std::string(type) + ")";
      rest = rest.substr(close + 1);
    }
    if (rest.empty() || rest.front() != ':') {
      reason = "expected ':' after \"" + value.typeName + "\"";
      return false;
    }
    rest.remove_prefix(1);
    value.kind = Value::Binary;
    value.bytes.clear();
    if (Trim(rest).empty()) return true;
    while (true) {
      const std::size_t comma = rest.find(',');
      const std::string_view item = Trim(rest.substr(0, comma));
      if (item.empty() || item.size() > 2 || HexNibble(item[0]) < 0 ||
          (item.size() == 2 && HexNibble(item[1]) < 0)) {
        reason = "bad byte \"" + std::string(item) + "\" in hex data";
        return false;
      }
      int b = HexNibble(item[0]);
      if (item.size() == 2) b = b * 16 + HexNibble(item[1]);
      value.bytes += static_cast<char>(b);
      if (comma == std::string_view::npos) break;
      rest.remove_prefix(comma + 1);
    }
    return true;
  }
  reason = "unknown value type in \"" + std::string(data) + "\"";
  return false;
}

// Where values of the current key go.
struct KeyState {
  enum Kind { NoKey, Printer, Other, Deleted } kind = NoKey;
  std::string printer;
};

bool ParseText(std::string_view text, RegFile& out, Failure& failure) {
  std::vector<std::string_view> lines;
  for (std::size_t start = 0;;) {
    const std::size_t lf = text.find('\n', start);
    std::string_view line = text.substr(start, lf == std::string_view::npos ? lf : lf - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    if (lf == std::string_view::npos) break;
    start = lf + 1;
  }

  bool header = false;
  KeyState key;
  const auto warn = [&](int line, const std::string& what) {
    out.warnings.push_back("line " + std::to_string(line) + ": " + what);
  };
  const auto find = [&](const std::string& printer, const std::string& name) {
    return std::find_if(out.values.begin(), out.values.end(), [&](const RegDword& v) {
      return EqualNoCase(v.printer, printer) && EqualNoCase(v.name, name);
    });
  };

  for (std::size_t i = 0; i < lines.size(); ++i) {
    const int lineNo = static_cast<int>(i) + 1;
    const std::string_view line = Trim(lines[i]);
    if (line.find('\0') != std::string_view::npos) {
      failure = {lineNo, "NUL character in the text"};
      return false;
    }
    if (!header) {
      if (line.empty()) continue;
      if (line != kHeader5 && line != kHeader4) {
        failure = {lineNo, "not a registry export: the first line must be \"" +
                               std::string(kHeader5) + "\" or \"" + std::string(kHeader4) + "\""};
        return false;
      }
      header = true;
      continue;
    }
    if (line.empty() || line.front() == ';') continue;

    if (line.front() == '[') {
      if (line.back() != ']') {
        failure = {lineNo, "key line does not end with ']'"};
        return false;
      }
      std::string_view path = line.substr(1, line.size() - 2);
      const bool deleting = !path.empty() && path.front() == '-';
      if (deleting) path.remove_prefix(1);
      if (path.empty()) {
        failure = {lineNo, "empty key name"};
        return false;
      }
      const std::string_view root = path.substr(0, path.find('\\'));
      static constexpr std::string_view kRoots[] = {"HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER",
                                                    "HKEY_CLASSES_ROOT", "HKEY_USERS",
                                                    "HKEY_CURRENT_CONFIG"};
      if (std::none_of(std::begin(kRoots), std::end(kRoots),
                       [&](std::string_view r) { return EqualNoCase(r, root); })) {
        failure = {lineNo, "unknown root key \"" + std::string(root) + "\""};
        return false;
      }
      const std::string& prefix = PrintersKeyPrefix();
      const std::string& suffix = DriverDataKeySuffix();
      const bool printerKey = StartsWithNoCase(path, prefix) && EndsWithNoCase(path, suffix) &&
                              path.size() > prefix.size() + suffix.size();
      if (!printerKey) {
        warn(lineNo,
             "key [" + std::string(path) + "] is not a printer's PrinterDriverData key; left out");
        key = {deleting ? KeyState::Deleted : KeyState::Other, {}};
        continue;
      }
      std::string printer(path.substr(prefix.size(), path.size() - prefix.size() - suffix.size()));
      if (deleting) {
        std::erase_if(out.values,
                      [&](const RegDword& v) { return EqualNoCase(v.printer, printer); });
        key = {KeyState::Deleted, {}};
      } else {
        key = {KeyState::Printer, std::move(printer)};
      }
      continue;
    }

    // A value line: "name"=data or @=data.
    if (key.kind == KeyState::NoKey) {
      failure = {lineNo, "value line before any [key] line"};
      return false;
    }
    if (key.kind == KeyState::Deleted) {
      failure = {lineNo, "value line under a key deletion ([-key])"};
      return false;
    }
    std::string_view rest = line;
    std::string name;
    bool unnamed = false;
    if (rest.front() == '@') {
      unnamed = true;
      rest.remove_prefix(1);
    } else if (rest.front() == '"') {
      if (!ReadQuoted(rest, name)) {
        failure = {lineNo, "value name has no closing quote"};
        return false;
      }
    } else {
      failure = {lineNo, "expected a quoted value name, '@' or a [key] line"};
      return false;
    }
    rest = Trim(rest);
    if (rest.empty() || rest.front() != '=') {
      failure = {lineNo, "expected '=' after the value name"};
      return false;
    }
    std::string data(Trim(rest.substr(1)));
    // Hex data may continue over several lines, each but the last ending in
    // a backslash.
    while (!data.empty() && data.back() == '\\' && StartsWithNoCase(data, "hex")) {
      data.pop_back();
      if (i + 1 >= lines.size()) {
        failure = {lineNo, "hex data continues past the end of the file"};
        return false;
      }
      data += Trim(lines[++i]);
    }
    Value value;
    std::string reason;
    if (!ParseValueData(data, value, reason)) {
      failure = {lineNo, reason};
      return false;
    }
    if (key.kind != KeyState::Printer) continue;  // warned at the key line
    if (unnamed) {
      warn(lineNo, "the unnamed (default) value is not a setting; left out");
      continue;
    }
    if (value.kind == Value::Binary && value.hexType == REG_DWORD && value.bytes.size() == 4) {
      // hex(4) is a REG_DWORD written as its four little-endian bytes.
      value.kind = Value::Dword;
      value.dword = 0;
      for (int b = 3; b >= 0; --b)
        value.dword = (value.dword << 8) | static_cast<unsigned char>(value.bytes[b]);
    }
    switch (value.kind) {
      case Value::Delete: {
        auto it = find(key.printer, name);
        if (it != out.values.end()) out.values.erase(it);
        break;
      }
      case Value::Dword: {
        auto it = find(key.printer, name);
        if (it != out.values.end()) {
          it->value = value.dword;
          it->line = lineNo;
        } else {
          out.values.push_back({key.printer, name, value.dword, lineNo});
        }
        break;
      }
      default:
        warn(lineNo, "\"" + name + "\" is a " + value.typeName +
                         " value; stored settings are dword values, so it is left out");
        break;
    }
  }
  if (!header) {
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
                        std::vector<std::string>& warnings, std::string& error) {
  const std::string wanted = Utf16ToUtf8(printer);
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

}  // namespace langmon::host

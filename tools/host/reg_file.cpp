#include "reg_file.h"

#include <algorithm>
#include <iterator>
#include <unordered_map>
#include <utility>

#include "ascii.h"
#include "config/config.h"
#include "plumbing.h"
#include "text_encoding.h"

namespace langmon::host {

namespace {

using sim::EndsWithNoCase;
using sim::EqualNoCase;
using sim::FoldCase;
using sim::HexValue;
using sim::StartsWithNoCase;

constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kHeader4 = "REGEDIT4";

struct Failure {
  int line;
  std::string reason;
};

std::string_view Trim(std::string_view s) {
  const auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}

// The monitor's key path parts as they stand in a .reg file's key lines,
// below the root key.
const std::string& PrintersKeyPrefix() {
  static const std::string prefix = Utf16ToUtf8(kDriverDataKeyPrefix);
  return prefix;
}

const std::string& DriverDataKeySuffix() {
  static const std::string suffix = Utf16ToUtf8(kDriverDataKeySuffix);
  return suffix;
}

int LineAt(std::string_view text, std::size_t offset) {
  return 1 + static_cast<int>(std::count(text.begin(), text.begin() + offset, '\n'));
}

// UTF-16LE bytes (without the byte-order mark) to UTF-8; a fault is on the
// line the text before it ends on.
bool DecodeUtf16Le(std::string_view bytes, std::string& out, Failure& failure) {
  std::string reason;
  if (Utf16LeToUtf8(bytes, out, reason)) return true;
  failure = {LineAt(out, out.size()), reason};
  return false;
}

// Brings the file's bytes to UTF-8 text, whatever encoding it came in.
bool DecodeText(std::string_view bytes, std::string& text, Failure& failure) {
  if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE')
    return DecodeUtf16Le(bytes.substr(2), text, failure);
  // UTF-16 without a byte-order mark: the header's first letter is ASCII, so
  // one of its two bytes is zero; big-endian, with a mark or without one, is
  // refused as such.
  const bool bigEndianMark = bytes.size() >= 2 && bytes[0] == '\xFE' && bytes[1] == '\xFF';
  if (bigEndianMark || (bytes.size() >= 2 && bytes[0] == '\0' && bytes[1] != '\0')) {
    failure = {1, "UTF-16 big-endian text is not supported (save the file as UTF-16LE or UTF-8)"};
    return false;
  }
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
  text = Latin1ToUtf8(bytes);
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
  std::string typeName;  // as written, for the left-out messages
  DWORD dword = 0;
  std::string bytes;  // Binary
  unsigned hexType = 3;
};

// What is wrong with a value's data, and where in the data text: `where`
// points into it, or is null for its start.
struct DataFault {
  const char* where = nullptr;
  std::string reason;

  bool Fail(std::string why, const char* at = nullptr) {
    where = at;
    reason = std::move(why);
    return false;
  }
};

bool AllHex(std::string_view digits) {
  return std::all_of(digits.begin(), digits.end(), [](char c) { return HexValue(c) >= 0; });
}

// "string": a string value, checked for its syntax only.
bool ParseStringData(std::string_view data, Value& value, DataFault& fault) {
  std::string ignored;
  if (!ReadQuoted(data, ignored)) return fault.Fail("string value has no closing quote");
  if (!Trim(data).empty()) return fault.Fail("unexpected text after the string value");
  value.kind = Value::String;
  value.typeName = "string";
  return true;
}

// dword:XXXXXXXX
bool ParseDwordData(std::string_view digits, Value& value, DataFault& fault) {
  if (digits.empty() || digits.size() > 8 || !AllHex(digits))
    return fault.Fail("dword value must be 1 to 8 hexadecimal digits, found " +
                      QuoteShortened(digits));
  DWORD v = 0;
  for (char c : digits) v = (v << 4) | static_cast<DWORD>(HexValue(c));
  value.kind = Value::Dword;
  value.dword = v;
  return true;
}

// The "(T)" of hex(T): the registry type in hex; `rest` is left behind it.
bool ParseHexType(std::string_view& rest, Value& value, DataFault& fault) {
  const std::size_t close = rest.find(')');
  const std::string_view type = rest.substr(1, close == std::string_view::npos ? 0 : close - 1);
  if (close == std::string_view::npos || type.empty() || type.size() > 8 || !AllHex(type))
    return fault.Fail("malformed hex(type) prefix");
  value.hexType = 0;
  for (char c : type) value.hexType = (value.hexType << 4) | static_cast<unsigned>(HexValue(c));
  value.typeName = "hex(" + std::string(type) + ")";
  rest = rest.substr(close + 1);
  return true;
}

// The bytes after "hex:" or "hex(T):", two digits each, separated by commas.
bool ParseHexBytes(std::string_view rest, std::string& bytes, DataFault& fault) {
  bytes.clear();
  if (Trim(rest).empty()) return true;
  while (true) {
    const std::size_t comma = rest.find(',');
    const std::string_view item = Trim(rest.substr(0, comma));
    if (item.empty() && comma == std::string_view::npos)
      return fault.Fail("hex data ends with ',' and no byte after it", rest.data());
    if (item.empty())
      return fault.Fail("hex data has two commas with no byte between", rest.data());
    if (item.size() > 2 || !AllHex(item))
      return fault.Fail("bad byte " + QuoteShortened(item) + " in hex data", item.data());
    int b = HexValue(item[0]);
    if (item.size() == 2) b = b * 16 + HexValue(item[1]);
    bytes += static_cast<char>(b);
    if (comma == std::string_view::npos) return true;
    rest.remove_prefix(comma + 1);
  }
}

// hex:..., hex(T):...
bool ParseHexData(std::string_view rest, Value& value, DataFault& fault) {
  value.hexType = REG_BINARY;
  value.typeName = "hex";
  if (!rest.empty() && rest.front() == '(' && !ParseHexType(rest, value, fault)) return false;
  if (rest.empty() || rest.front() != ':')
    return fault.Fail("expected ':' after " + QuoteShortened(value.typeName));
  value.kind = Value::Binary;
  return ParseHexBytes(rest.substr(1), value.bytes, fault);
}

bool ParseValueData(std::string_view data, Value& value, DataFault& fault) {
  if (data == "-") {
    value.kind = Value::Delete;
    return true;
  }
  if (!data.empty() && data.front() == '"') return ParseStringData(data, value, fault);
  if (StartsWithNoCase(data, "dword:")) return ParseDwordData(data.substr(6), value, fault);
  if (StartsWithNoCase(data, "hex")) return ParseHexData(data.substr(3), value, fault);
  return fault.Fail("unknown value type in " + QuoteShortened(data));
}

// The values read so far. Replacements and value deletions find their value
// by printer and name, key deletions a printer's values, through hash tables
// on the folded names, so that reading stays linear in the file's size;
// removed values are marked and dropped once, at the end.
class ValueTable {
 public:
  // The line of the value this one replaces, or 0.
  int Set(const std::string& printer, std::string name, DWORD value, int line) {
    auto& byName = printers_[FoldCase(printer)];
    const auto [it, added] = byName.try_emplace(FoldCase(name), values_.size());
    if (!added) {
      const int replaced = values_[it->second].line;
      values_[it->second].value = value;
      values_[it->second].line = line;
      return replaced;
    }
    values_.push_back({printer, std::move(name), value, line});
    removed_.push_back(false);
    return 0;
  }
  void Remove(const std::string& printer, const std::string& name) {
    const auto p = printers_.find(FoldCase(printer));
    if (p == printers_.end()) return;
    const auto it = p->second.find(FoldCase(name));
    if (it == p->second.end()) return;
    removed_[it->second] = true;
    p->second.erase(it);
  }
  void RemovePrinter(const std::string& printer) {
    const auto p = printers_.find(FoldCase(printer));
    if (p == printers_.end()) return;
    for (const auto& entry : p->second) removed_[entry.second] = true;
    printers_.erase(p);
  }
  // Room for as many values as the file has lines, so that they are not
  // moved as the table grows.
  void Reserve(std::size_t lines) {
    values_.reserve(lines);
    removed_.reserve(lines);
  }
  // The surviving values, closed up in place.
  std::vector<RegDword> Take() {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < values_.size(); ++i) {
      if (removed_[i]) continue;
      if (kept != i) values_[kept] = std::move(values_[i]);
      ++kept;
    }
    values_.resize(kept);
    return std::move(values_);
  }

 private:
  std::vector<RegDword> values_;
  std::vector<bool> removed_;
  // Folded printer name to its live values: folded value name to index.
  std::unordered_map<std::string, std::unordered_map<std::string, std::size_t>> printers_;
};

// Where values of the current key go.
struct KeyState {
  enum Kind { NoKey, Printer, Other, Deleted } kind = NoKey;
  std::string printer;
};

// A value's data joined from its lines, and the line each part came from.
struct DataText {
  std::string text;
  std::vector<std::pair<std::size_t, int>> parts;  // offset in text, line number

  void Append(std::string_view part, int line) {
    parts.emplace_back(text.size(), line);
    text += part;
  }
  // The line of a place in the text; a fault with no place is on the first.
  int LineOf(const char* where) const {
    if (where == nullptr) return parts.front().second;
    const auto offset = static_cast<std::size_t>(where - text.data());
    int line = parts.front().second;
    for (const auto& [start, number] : parts)
      if (start <= offset) line = number;
    return line;
  }
};

// The whole file as it is read, line by line.
struct Reading {
  RegFile& out;
  Failure& failure;
  std::vector<std::string_view> lines;
  std::size_t index = 0;  // of the line being read
  bool header = false;
  KeyState key;
  ValueTable values;

  int LineNo() const { return static_cast<int>(index) + 1; }
  bool Fail(std::string reason) { return FailAt(LineNo(), std::move(reason)); }
  bool FailAt(int line, std::string reason) {
    failure = {line, std::move(reason)};
    return false;
  }
  void LeaveOut(int line, LeftOutKind kind, std::string message) {
    out.leftOut.push_back({line, kind, key.printer, std::move(message)});
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

// The root keys by the names regedit takes, the full and the short one. The
// first, the local machine's, holds the printers' keys.
struct RootName {
  std::string_view full;
  std::string_view abbreviation;
};
constexpr RootName kRoots[] = {{"HKEY_LOCAL_MACHINE", "HKLM"},
                               {"HKEY_CURRENT_USER", "HKCU"},
                               {"HKEY_CLASSES_ROOT", "HKCR"},
                               {"HKEY_USERS", "HKU"},
                               {"HKEY_CURRENT_CONFIG", "HKCC"}};

const RootName* FindRoot(std::string_view root) {
  for (const RootName& name : kRoots)
    if (EqualNoCase(root, name.full) || EqualNoCase(root, name.abbreviation)) return &name;
  return nullptr;
}

// The printer whose driver-data key the path below the root names, or false.
bool PrinterOfKey(const RootName& root, std::string_view below, std::string& printer) {
  const std::string& prefix = PrintersKeyPrefix();
  const std::string& suffix = DriverDataKeySuffix();
  const bool localMachine = &root == &kRoots[0];
  if (!localMachine || !StartsWithNoCase(below, prefix) || !EndsWithNoCase(below, suffix) ||
      below.size() <= prefix.size() + suffix.size())
    return false;
  printer = below.substr(prefix.size(), below.size() - prefix.size() - suffix.size());
  return true;
}

// The key a [key] or [-key] line opens, once its root is known.
void EnterKey(Reading& r, std::string_view path, const RootName& root, bool deleting) {
  const std::size_t slash = path.find('\\');
  const std::string_view below =
      slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
  std::string printer;
  if (!PrinterOfKey(root, below, printer)) {
    r.key = {deleting ? KeyState::Deleted : KeyState::Other, {}};
    r.LeaveOut(
        r.LineNo(), LeftOutKind::OtherKey,
        "key [" + Shortened(path, 120) + "] is not a printer's PrinterDriverData key; left out");
  } else if (deleting) {
    r.values.RemovePrinter(printer);
    r.key = {KeyState::Deleted, {}};
  } else {
    r.out.printerKeys.push_back({printer, r.LineNo()});
    r.key = {KeyState::Printer, std::move(printer)};
  }
}

// [key] or [-key].
bool ReadKeyLine(Reading& r, std::string_view line) {
  if (line.back() != ']') return r.Fail("key line does not end with ']'");
  std::string_view path = line.substr(1, line.size() - 2);
  const bool deleting = !path.empty() && path.front() == '-';
  if (deleting) path.remove_prefix(1);
  if (path.empty()) return r.Fail("empty key name");
  const std::string_view rootName = path.substr(0, path.find('\\'));
  const RootName* root = FindRoot(rootName);
  if (root == nullptr)
    return r.Fail("unknown root key " + QuoteShortened(rootName) +
                  "\" (HKEY_LOCAL_MACHINE or HKLM holds the printers' keys)");
  EnterKey(r, path, *root, deleting);
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

// Whether only blank lines follow the line being read.
bool OnlyBlankLinesFollow(const Reading& r) {
  for (std::size_t i = r.index + 1; i < r.lines.size(); ++i)
    if (!Trim(r.lines[i]).empty()) return false;
  return true;
}

// The data after '='. Hex data may continue over several lines, each but
// the last ending in a backslash; a fault in the continuation is reported
// at the line that has it.
bool ReadValueData(Reading& r, std::string_view rest, DataText& data) {
  data.Append(Trim(rest), r.LineNo());
  while (!data.text.empty() && data.text.back() == '\\' && StartsWithNoCase(data.text, "hex")) {
    data.text.pop_back();
    if (OnlyBlankLinesFollow(r)) return r.Fail("hex data continues past the end of the file");
    ++r.index;
    const std::string_view next = Trim(r.lines[r.index]);
    if (next.empty()) return r.Fail("empty line where the hex data of the line before continues");
    if (next.find('\0') != std::string_view::npos) return r.Fail("NUL character in the text");
    data.Append(next, r.LineNo());
  }
  return true;
}

// A value of a printer's driver-data key: dwords are kept, deletions
// remove, anything else is left out.
void StoreValue(Reading& r, int lineNo, const std::string& name, Value& value) {
  const bool hexDword = value.kind == Value::Binary && value.hexType == REG_DWORD;
  if (hexDword && value.bytes.size() == 4) {
    // hex(4) is a REG_DWORD written as its four little-endian bytes.
    value.kind = Value::Dword;
    value.dword = 0;
    for (int b = 3; b >= 0; --b)
      value.dword = (value.dword << 8) | static_cast<unsigned char>(value.bytes[b]);
  }
  if (value.kind == Value::Delete) {
    r.values.Remove(r.key.printer, name);
  } else if (value.kind == Value::Dword) {
    const int replaced = r.values.Set(r.key.printer, name, value.dword, lineNo);
    if (replaced != 0)
      r.LeaveOut(lineNo, LeftOutKind::Replaced,
                 QuoteShortened(name) +
                     " is given again: this line's value replaces the one of "
                     "line " +
                     std::to_string(replaced));
  } else if (hexDword) {
    r.LeaveOut(lineNo, LeftOutKind::WrongLength,
               QuoteShortened(name) + " is a dword of " + std::to_string(value.bytes.size()) +
                   (value.bytes.size() == 1 ? " byte" : " bytes") +
                   " (hex(4) data must be 4 bytes); left out");
  } else {
    r.LeaveOut(lineNo, LeftOutKind::NotDword,
               QuoteShortened(name) + " is a " + value.typeName +
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
  DataText data;
  if (!ReadValueData(r, rest.substr(1), data)) return false;
  Value value;
  DataFault fault;
  if (!ParseValueData(data.text, value, fault))
    return r.FailAt(data.LineOf(fault.where), fault.reason);
  if (r.key.kind != KeyState::Printer) return true;  // left out at the key line
  if (unnamed) {
    r.LeaveOut(lineNo, LeftOutKind::Unnamed,
               "the unnamed (default) value is not a setting; left out");
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
  Reading r{out, failure, SplitLines(text), 0, false, KeyState{}, ValueTable{}};
  r.values.Reserve(r.lines.size());
  for (r.index = 0; r.index < r.lines.size(); ++r.index)
    if (!ReadLine(r)) return false;
  if (!r.header) {
    failure = {1, "empty file: no registry export header"};
    return false;
  }
  out.values = r.values.Take();
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

std::u16string DriverDataKeyPath(const std::u16string& printer) {
  WCHAR path[kKeyPathCapacity];
  if (!BuildDriverDataKeyPath(printer.c_str(), path, kKeyPathCapacity)) return {};
  return path;
}

std::string PrinterNameProblem(std::string_view printer) {
  if (printer.empty()) return "the printer name is empty";
  const std::size_t length = Utf8ToUtf16(printer).size();
  if (length <= kMaxPrinterNameLength) return {};
  return "the printer name " + QuoteShortened(printer) + " is longer than the " +
         std::to_string(kMaxPrinterNameLength) + " characters the driver-data key path can hold";
}

bool CreateDriverDataKey(const std::u16string& printer, HKEY& key, std::string& error) {
  key = nullptr;
  const std::u16string path = DriverDataKeyPath(printer);
  if (path.empty()) {
    error = PrinterNameProblem(Utf16ToUtf8(printer));
    return false;
  }
  const LONG rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr,
                                  REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key, nullptr);
  if (rc != ERROR_SUCCESS) {
    key = nullptr;
    error = "cannot create the printer's registry key (" +
            ports::Win32ErrorText(static_cast<DWORD>(rc)) + ")";
    return false;
  }
  return true;
}

namespace {

// What the file leaves out of `wanted`'s settings, in line order: its own
// left-out content of that printer and of other keys, and the driver-data
// keys of other printers (whose values are never listed one by one).
std::vector<LeftOut> LeftOutFor(const RegFile& file, const std::string& wanted) {
  std::vector<LeftOut> own, otherPrinters;
  for (const LeftOut& item : file.leftOut)
    if (item.printer.empty() || EqualNoCase(item.printer, wanted)) own.push_back(item);
  for (const RegKeyLine& key : file.printerKeys)
    if (!EqualNoCase(key.printer, wanted))
      otherPrinters.push_back({key.line, LeftOutKind::OtherPrinter, key.printer,
                               "settings for printer " + QuoteShortened(key.printer) +
                                   " left out (this run uses printer \"" + wanted +
                                   "\"; choose it with --printer-name)"});
  std::vector<LeftOut> merged;
  merged.reserve(own.size() + otherPrinters.size());
  std::merge(own.begin(), own.end(), otherPrinters.begin(), otherPrinters.end(),
             std::back_inserter(merged),
             [](const LeftOut& a, const LeftOut& b) { return a.line < b.line; });
  return merged;
}

}  // namespace

int LoadPrinterSettings(const RegFile& file, const std::u16string& printer,
                        std::vector<LeftOut>& leftOut, std::string& error,
                        const std::string& from) {
  const std::string wanted = from.empty() ? Utf16ToUtf8(printer) : from;
  leftOut = LeftOutFor(file, wanted);
  HKEY key = nullptr;
  int written = 0;
  for (const RegDword& v : file.values) {
    if (!EqualNoCase(v.printer, wanted)) continue;
    if (!key && !CreateDriverDataKey(printer, key, error)) return -1;
    const std::u16string name = Utf8ToUtf16(v.name);
    const DWORD data = v.value;
    const LONG rc = RegSetValueExW(key, name.c_str(), 0, REG_DWORD,
                                   reinterpret_cast<const BYTE*>(&data), sizeof data);
    if (rc != ERROR_SUCCESS) {
      RegCloseKey(key);
      error = "cannot store " + QuoteShortened(v.name) + " (" +
              ports::Win32ErrorText(static_cast<DWORD>(rc)) + ")";
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

std::string LeftOutSummary(const std::vector<LeftOut>& leftOut, const std::u16string& printer) {
  // One phrase per kind, in the order of LeftOutKind: for one, for several.
  static constexpr std::pair<std::string_view, std::string_view> kPhrases[] = {
      {"key of another printer", "keys of other printers"},
      {"other key", "other keys"},
      {"value that is not a dword", "values that are not dwords"},
      {"dword of the wrong length", "dwords of the wrong length"},
      {"unnamed value", "unnamed values"},
      {"dword replaced by a later line", "dwords replaced by later lines"},
  };
  std::size_t counts[std::size(kPhrases)] = {};
  for (const LeftOut& item : leftOut) ++counts[static_cast<std::size_t>(item.kind)];
  std::string summary;
  for (std::size_t kind = 0; kind < std::size(kPhrases); ++kind) {
    if (counts[kind] == 0) continue;
    summary += (summary.empty() ? "left out " : ", ") + std::to_string(counts[kind]) + " " +
               std::string(counts[kind] == 1 ? kPhrases[kind].first : kPhrases[kind].second);
    if (static_cast<LeftOutKind>(kind) == LeftOutKind::OtherPrinter)
      summary += " (this run uses printer \"" + Utf16ToUtf8(printer) +
                 "\"; choose another with --printer-name)";
  }
  return summary;
}

}  // namespace langmon::host

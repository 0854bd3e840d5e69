#include "reg_file.h"

#include <algorithm>
#include <iterator>
#include <unordered_map>
#include <utility>

#include "ascii.h"
#include "config/config.h"
#include "reg_parts.h"
#include "text_encoding.h"

namespace langmon::host {

namespace {

using sim::EndsWithNoCase;
using sim::EqualNoCase;
using sim::FoldCase;
using sim::StartsWithNoCase;

constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kHeader4 = "REGEDIT4";

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

// The whole file as it is read, line by line.
struct Reading {
  RegFile& out;
  RegFileError& error;
  RegLines lines;
  bool header = false;
  KeyState key;
  ValueTable values;

  int LineNo() const { return lines.Number(); }
  bool Fail(std::string reason) {
    error = {LineNo(), std::move(reason)};
    return false;
  }
  void LeaveOut(int line, LeftOutKind kind, std::string message) {
    out.leftOut.push_back({line, kind, key.printer, std::move(message)});
  }
};

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
                  " (HKEY_LOCAL_MACHINE or HKLM holds the printers' keys)");
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

// A value of a printer's driver-data key: dwords are kept, deletions
// remove, anything else is left out.
void StoreValue(Reading& r, int lineNo, const std::string& name, RegValue& value) {
  const bool hexDword = value.kind == RegValue::Binary && value.hexType == REG_DWORD;
  if (hexDword && value.bytes.size() == 4) {
    // hex(4) is a REG_DWORD written as its four little-endian bytes.
    value.kind = RegValue::Dword;
    value.dword = 0;
    for (int b = 3; b >= 0; --b)
      value.dword = (value.dword << 8) | static_cast<unsigned char>(value.bytes[b]);
  }
  if (value.kind == RegValue::Delete) {
    r.values.Remove(r.key.printer, name);
  } else if (value.kind == RegValue::Dword) {
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
  rest = TrimBlanks(rest);
  if (rest.empty() || rest.front() != '=') return r.Fail("expected '=' after the value name");
  RegData data;
  RegValue value;
  if (!r.lines.ValueData(rest.substr(1), data, r.error) || !ParseRegValue(data, value, r.error))
    return false;
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
  const std::string_view line = r.lines.Line();
  if (line.find('\0') != std::string_view::npos) return r.Fail("NUL character in the text");
  if (!r.header) return ReadHeader(r, line);
  if (line.empty() || line.front() == ';') return true;
  if (line.front() == '[') return ReadKeyLine(r, line);
  return ReadValueLine(r, line);
}

bool ParseText(std::string_view text, RegFile& out, RegFileError& error) {
  Reading r{out, error, RegLines(text), false, KeyState{}, ValueTable{}};
  r.values.Reserve(r.lines.Count());
  while (r.lines.Next())
    if (!ReadLine(r)) return false;
  if (!r.header) {
    error = {1, "empty file: no registry export header"};
    return false;
  }
  out.values = r.values.Take();
  return true;
}

}  // namespace

bool ParseRegFile(std::string_view bytes, RegFile& out, RegFileError& error) {
  RegFile result;
  std::string text;
  if (!DecodeRegText(bytes, text, error) || !ParseText(text, result, error)) return false;
  out = std::move(result);
  return true;
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

#include "ascii.h"
#include "reg_parts.h"
#include "text_encoding.h"

namespace langmon::host {

namespace {

using sim::ParseHex32;
using sim::StartsWithNoCase;

constexpr std::size_t kWhole = std::string::npos;

// A value's data as it is read: the joined text, and where a fault goes.
struct DataReading {
  const RegData& data;
  RegFileError& error;

  // Where `part` (a piece of the text) starts in the text.
  std::size_t At(std::string_view part) const {
    return static_cast<std::size_t>(part.data() - data.text.data());
  }
  bool Fail(std::string reason, std::size_t at = kWhole) {
    error = data.FaultAt(at, std::move(reason));
    return false;
  }
};

// "string": a string value, checked for its syntax only.
bool ParseStringData(DataReading& r, std::string_view data, RegValue& value) {
  std::string ignored;
  if (!ReadQuoted(data, ignored)) return r.Fail("string value has no closing quote");
  if (!TrimBlanks(data).empty()) return r.Fail("unexpected text after the string value");
  value.kind = RegValue::String;
  value.typeName = "string";
  return true;
}

// dword:XXXXXXXX
bool ParseDwordData(DataReading& r, std::string_view digits, RegValue& value) {
  if (!ParseHex32(digits, &value.dword))
    return r.Fail("dword value must be 1 to 8 hexadecimal digits, found " + QuoteShortened(digits));
  value.kind = RegValue::Dword;
  return true;
}

// The "(T)" of hex(T): the registry type in hex; `rest` is left behind it.
bool ParseHexType(DataReading& r, std::string_view& rest, RegValue& value) {
  const std::size_t close = rest.find(')');
  const std::string_view type = rest.substr(1, close == std::string_view::npos ? 0 : close - 1);
  DWORD hexType = 0;
  if (close == std::string_view::npos || !ParseHex32(type, &hexType))
    return r.Fail("malformed hex(type) prefix");
  value.hexType = hexType;
  value.typeName = "hex(" + std::string(type) + ")";
  rest = rest.substr(close + 1);
  return true;
}

// The bytes after "hex:" or "hex(T):", two digits each, separated by commas.
bool ParseHexBytes(DataReading& r, std::string_view rest, std::string& bytes) {
  bytes.clear();
  if (TrimBlanks(rest).empty()) return true;
  while (true) {
    const std::size_t comma = rest.find(',');
    const std::string_view item = TrimBlanks(rest.substr(0, comma));
    if (item.empty() && comma == std::string_view::npos)
      return r.Fail("hex data ends with ',' and no byte after it", r.At(rest));
    if (item.empty()) return r.Fail("hex data has two commas with no byte between", r.At(rest));
    DWORD byte = 0;
    if (item.size() > 2 || !ParseHex32(item, &byte))
      return r.Fail("bad byte " + QuoteShortened(item) + " in hex data", r.At(item));
    bytes += static_cast<char>(byte);
    if (comma == std::string_view::npos) return true;
    rest.remove_prefix(comma + 1);
  }
}

// hex:..., hex(T):...
bool ParseHexData(DataReading& r, std::string_view rest, RegValue& value) {
  value.hexType = REG_BINARY;
  value.typeName = "hex";
  if (!rest.empty() && rest.front() == '(' && !ParseHexType(r, rest, value)) return false;
  if (rest.empty() || rest.front() != ':')
    return r.Fail("expected ':' after " + QuoteShortened(value.typeName));
  value.kind = RegValue::Binary;
  return ParseHexBytes(r, rest.substr(1), value.bytes);
}

}  // namespace

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

bool ParseRegValue(const RegData& data, RegValue& value, RegFileError& error) {
  DataReading r{data, error};
  const std::string_view text = data.text;
  if (text == "-") {
    value.kind = RegValue::Delete;
    return true;
  }
  if (!text.empty() && text.front() == '"') return ParseStringData(r, text, value);
  if (StartsWithNoCase(text, "dword:")) return ParseDwordData(r, text.substr(6), value);
  if (StartsWithNoCase(text, "hex")) return ParseHexData(r, text.substr(3), value);
  return r.Fail("unknown value type in " + QuoteShortened(text));
}

}  // namespace langmon::host

#include "object_store.h"

#include "wire_text.h"

namespace langmon::sim {

namespace {

using enum ValueType;

// Length of a number by the Number rule: at most 254 is 1 byte, at most
// 65534 is 2, at most 0xFFFFFE is 3, anything else 4.
DWORD NumberLength(DWORD value) {
  if (value < 0xFF) return 1;
  if (value < 0xFFFF) return 2;
  if (value < 0xFFFFFF) return 3;
  return 4;
}

constexpr char kStringPrefix[] = "0115";  // leads every PrefixedString value
constexpr char kNoDigits[] = "ffff";      // stands for the digits of a length of 0

// The value digits of a string type, and the length they announce.
std::string StringDigits(ValueType type, const std::string& value, DWORD* length) {
  const bool prefixed = type == PrefixedString;
  const std::string text = value.substr(0, prefixed ? kMaxPrefixedStringLength : kMaxStringLength);
  *length = static_cast<DWORD>(text.size()) + (prefixed ? 2 : 0);
  return (prefixed ? kStringPrefix : "") + HexBytes(text);
}

DWORD NumberTypeLength(ValueType type, DWORD number) {
  switch (type) {
    case Empty:
      return 0;
    case Number32:
      return 4;
    case Byte:
      return 1;
    default: {
      const DWORD length = NumberLength(number);
      return type == PaddedNumber && length < 4 ? length + 1 : length;
    }
  }
}

bool DecodeStringValue(ValueType type, DWORD length, const std::string& digits, SimObject* value) {
  std::string hex = digits;
  DWORD count = length;
  if (type == PrefixedString) {
    if (length < 2 || digits.size() < 4 || digits.substr(0, 4) != kStringPrefix) return false;
    hex = digits.substr(4);
    count = length - 2;
  }
  if (hex.size() != 2 * static_cast<std::size_t>(count)) return false;
  return ParseHexBytes(hex, &value->text);
}

// The word announces 2 bytes; the digits are either the low 16 bits or the
// whole 32-bit two's complement. Either way the negative number is kept in
// 32 bits.
bool DecodeNegativeValue(DWORD length, const std::string& digits, SimObject* value) {
  DWORD raw = 0;
  if (!ParseHex32(digits, &raw)) return false;
  if (digits.size() == 2 * static_cast<std::size_t>(length) && length < 4) {
    const DWORD bits = 8 * length;
    if (raw & (1u << (bits - 1))) raw |= ~((1u << bits) - 1);
  } else if (digits.size() != 8) {
    return false;
  }
  value->type = PaddedNumber;
  value->number = raw;
  return true;
}

}  // namespace

const char* const kDefaultDeviceId =
    "MFG:Langmon;MDL:Simulated Laser;CMD:PJL,PCL,POSTSCRIPT;CLS:PRINTER;"
    "DES:Simulated PJL laser printer;";

SimObjectMap DefaultObjects() {
  auto num = [](ValueType type, DWORD value) { return SimObject{type, value, {}}; };
  return {
      {"050103030104", num(PaddedNumber, 1)},          // copies
      {"050103030126", num(Number, 0)},                // dark Courier
      {"050104010105", num(PaddedNumber, 3)},          // density (driver 6)
      {"050104010607", num(PaddedNumber, 15)},         // power saver minutes
      {"05010303010b", num(PaddedNumber, 60)},         // form lines
      {"070104010303010d", num(PaddedNumber, 0)},      // fuser tray 1 (driver 60)
      {"070104010303020d", num(PaddedNumber, 0)},      // fuser tray 2
      {"07020802010d0103", num(Number, 1)},            // tray 3 present
      {"070104010303030d", num(PaddedNumber, 0)},      // fuser tray 3
      {"06030203010501", num(PaddedNumber, 8388608)},  // installed memory
      {"050102010105", num(Number, 3)},                // I/O buffer (auto)
      {"050102010106", num(PaddedNumber, 100)},        // I/O buffer size
      {"06020501010201", num(PaddedNumber, 1)},        // language (driver 23)
      {"07020f0101070101", num(Number, 3)},            // orientation (driver 39)
      {"05010303010d", num(Number, 2)},                // paper size (driver 42)
      {"07020f0101020105", num(Number, 6)},            // PostScript installed
      {"05010303040b", num(Number, 1)},                // PostScript errors
      {"050103030106", num(Number, 3)},                // resource save (auto)
      {"050103030302", num(PaddedNumber, 400)},        // resource save PCL, KB
      {"050103030402", num(PaddedNumber, 800)},        // resource save PS, KB
      {"050103030108", num(PaddedNumber, 600)},        // resolution (driver 10)
      {"050103030124", num(Number, 2)},                // reprint
      {"050104010605", num(Number, 1)},                // smoothing
      {"06010401030106", num(AltNumber, 2)},           // tray lock
      {"050103030125", num(Number, 0)},                // wide A4
  };
}

bool IsStringType(ValueType type) {
  return type == String || type == PrefixedString || type == AltString;
}

std::string EncodeRecord(const std::string& objectId, const SimObject& object) {
  ValueType type = object.type;
  if (type == NegativeNumber) type = PaddedNumber;  // kept as 32 bits
  DWORD length = 0;
  std::string digits;
  if (IsStringType(type)) {
    digits = StringDigits(type, object.text, &length);
  } else {
    length = NumberTypeLength(type, object.number);
    if (length != 0) digits = HexText(object.number, static_cast<int>(2 * length));
  }
  if (length == 0) digits = kNoDigits;
  const DWORD word = (static_cast<DWORD>(type) & 0x3F) * 1024 + length;
  return "800000" + objectId + HexText(word, 4) + digits;
}

bool DecodeSetValue(ValueType type, DWORD length, const std::string& digits, SimObject* value) {
  value->type = type;
  value->number = 0;
  value->text.clear();
  if (type == Empty) return true;
  if (length == 0) {
    // A zero length carries the placeholder "ffff" in place of digits.
    if (FoldCase(digits) != kNoDigits) return false;
    if (type == NegativeNumber) value->type = PaddedNumber;
    return type != PrefixedString;
  }
  if (IsStringType(type)) return DecodeStringValue(type, length, digits, value);
  if (type == NegativeNumber) return DecodeNegativeValue(length, digits, value);
  if (length > 4 || digits.size() != 2 * static_cast<std::size_t>(length)) return false;
  return ParseHex32(digits, &value->number);
}

}  // namespace langmon::sim

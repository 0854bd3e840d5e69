// DMINFO query and DMCMD set-line texts. Every line is built in the caller's
// buffer; hex digits are formatted by hand, uppercase, with no library
// formatting at all.
#include <cstring>

#include "pjl/pjl_internal.h"

namespace langmon {

namespace {

using enum ValueType;

constexpr char kLineEnd[] = "\"\r\n";
constexpr char kNoDigits[] = "FFFF";      // value digits of a length of 0
constexpr char kStringPrefix[] = "0115";  // leads every PrefixedString value

bool IsStringType(ValueType type) {
  return type == String || type == PrefixedString || type == AltString;
}

// Appends a number as uppercase hex with at least minDigits digits; a value
// with more significant digits is written in full, never cut. minDigits is
// at most 8.
char* AppendHexNumber(char* end, DWORD value, int minDigits) {
  int digits = 1;
  while (digits < 8 && (value >> (4 * digits)) != 0) ++digits;
  if (digits < minDigits) digits = minDigits;
  for (int i = digits - 1; i >= 0; --i) *end++ = HexDigitChar(value >> (4 * i));
  *end = '\0';
  return end;
}

}  // namespace

char HexDigitChar(DWORD nibble) {
  nibble &= 0xF;
  return static_cast<char>(nibble < 10 ? nibble + 0x30 : nibble + 0x37);
}

void FormatHexByte(char* out, BYTE value) {
  out[0] = HexDigitChar(value >> 4);
  out[1] = HexDigitChar(value);
}

BOOL BuildQueryLine(char* buffer, const char* objectId) {
  if (!buffer || !objectId) return FALSE;
  char* end = buffer;
  std::memcpy(end, kQueryPrefix, sizeof kQueryPrefix - 1);
  end += sizeof kQueryPrefix - 1;
  const std::size_t idLength = std::strlen(objectId);
  std::memcpy(end, objectId, idLength);
  end += idLength;
  std::memcpy(end, kLineEnd, sizeof kLineEnd);
  return TRUE;
}

DWORD ValueLength(ValueType type, PjlValue value) {
  switch (type) {
    case String:
    case AltString:
    case PrefixedString: {
      const DWORD count = value.text ? static_cast<DWORD>(std::strlen(value.text)) : 0;
      return type == PrefixedString ? count + 2 : count;
    }
    case Number32:
      return 4;
    case Byte:
      return 1;
    case Empty:
      return 0;
    case NegativeNumber:
      return 2;
    case Number:
    case PaddedNumber:
    case AltNumber: {
      // Deliberately "below 0xFF", not "at most": 255 is announced as two
      // bytes, as the printer has always been sent it.
      DWORD length = value.number < 0xFF       ? 1
                     : value.number < 0xFFFF   ? 2
                     : value.number < 0xFFFFFF ? 3
                                               : 4;
      if (type == PaddedNumber && length < 4) ++length;
      return length;
    }
    default:
      return 0;
  }
}

void FormatTypeLength(ValueType type, DWORD length, char out[5]) {
  const DWORD word = static_cast<DWORD>(type) * 1024 + length;
  FormatHexByte(out, static_cast<BYTE>((word >> 8) & 0xFF));
  FormatHexByte(out + 2, static_cast<BYTE>(word & 0xFF));
  out[4] = '\0';
}

void FormatValue(char* text, ValueType type, DWORD length, PjlValue value) {
  char* end = text + std::strlen(text);
  if (length == 0) {
    std::memcpy(end, kNoDigits, sizeof kNoDigits);
    return;
  }
  if (IsStringType(type)) {
    if (type == PrefixedString) {
      std::memcpy(end, kStringPrefix, 4);
      end += 4;
      length = length >= 2 ? length - 2 : 0;
    }
    // The length comes from the string itself; never read past its end even
    // when a caller hands in a larger one.
    const char* s = value.text ? value.text : "";
    for (DWORD i = 0; i < length && s[i] != '\0'; ++i) {
      FormatHexByte(end, static_cast<BYTE>(s[i]));
      end += 2;
    }
    *end = '\0';
    return;
  }
  DWORD number = value.number;
  // The record announces exactly one or two bytes for these types, so only
  // that many go on the wire: -1 as a NegativeNumber is "FFFF".
  if (type == NegativeNumber) number &= 0xFFFF;
  if (type == Byte) number &= 0xFF;
  const int minDigits = length >= 4 ? 8 : static_cast<int>(length) * 2;
  AppendHexNumber(end, number, minDigits);
}

void AppendSetLine(char* text, const char* objectId, ValueType type, PjlValue value) {
  if (!text || !objectId || type > NegativeNumber) return;
  const DWORD length = ValueLength(type, value);
  if (length > kMaxStringLength) return;  // would run into the type bits

  char* end = text + std::strlen(text);
  std::memcpy(end, kSetPrefix, sizeof kSetPrefix);
  end += sizeof kSetPrefix - 1;
  const std::size_t idLength = std::strlen(objectId);
  std::memcpy(end, objectId, idLength);
  end += idLength;
  FormatTypeLength(type, length, end);
  FormatValue(end, type, length, value);
  end += std::strlen(end);
  std::memcpy(end, kLineEnd, sizeof kLineEnd);
}

}  // namespace langmon

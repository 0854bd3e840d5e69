// Decoding of the value record in a DMINFO reply.
//
// Digits are read the way the driver and the printers have always agreed
// on: 'a'-'f' are hex letters, anything else counts from '0', so 'A'-'F'
// read as 17-22 and are not masked away. Numbers store only the bits their
// case names; the rest of the destination keeps what it held. Every read of
// the reply text stops at its terminating zero, and every store stays
// inside the destination's capacity.
#include <cstring>

#include "pjl/pjl_internal.h"

namespace langmon {

namespace {

using enum ValueType;

constexpr char kReplyMarker[] = "\"800000";
constexpr std::size_t kReplyMarkerLength = sizeof kReplyMarker - 1;
constexpr std::size_t kTypeLengthDigits = 4;
constexpr std::size_t kStringPrefixDigits = 4;

// True when text holds at least count characters before its zero; never
// looks at a byte behind the zero.
bool HasCharacters(const char* text, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i)
    if (text[i] == '\0') return false;
  return true;
}

DWORD LoadNumber(const void* destination) {
  DWORD value;
  std::memcpy(&value, destination, sizeof value);
  return value;
}

// Replaces the bits of the destination that mask selects.
void StoreBits(void* destination, DWORD mask, DWORD bits) {
  const DWORD value = (LoadNumber(destination) & ~mask) | (bits & mask);
  std::memcpy(destination, &value, sizeof value);
}

// Six digits read as the low three bytes of a number whose top byte is 0.
DWORD ParseHex24(const char* digits) {
  char eight[8] = {'0', '0'};
  std::memcpy(eight + 2, digits, 6);
  return ParseHexDword(eight);
}

// Number of digits a number of the given length occupies (lengths above 4
// read only their first four bytes).
std::size_t NumberDigits(WORD length) { return length >= 4 ? 8 : length * 2u; }

BOOL DecodeString(const char* digits, std::size_t count, BYTE* destination, std::size_t capacity) {
  if (count + 1 > capacity || !HasCharacters(digits, 2 * count)) return FALSE;
  for (std::size_t i = 0; i < count; ++i)
    destination[i] = static_cast<BYTE>(ParseHexByte(digits + 2 * i) & 0xFF);
  destination[count] = 0;
  return TRUE;
}

BOOL DecodeNumber(const char* digits, WORD length, void* destination) {
  if (!HasCharacters(digits, NumberDigits(length))) return FALSE;
  switch (length) {
    case 0:
      StoreBits(destination, 0xFF, 0);
      break;
    case 1:
      StoreBits(destination, 0xFFFF, ParseHexByte(digits));
      break;
    case 2:
      StoreBits(destination, 0xFFFF, ParseHexWord(digits));
      break;
    case 3:
      StoreBits(destination, 0xFFFFFF, ParseHex24(digits));
      break;
    default:
      StoreBits(destination, 0xFFFFFFFF, ParseHexDword(digits));
      break;
  }
  return TRUE;
}

// A NegativeNumber carries a signed value in its length's bytes; it is
// widened, sign included, to all 32 bits, so that the "FFFF" sent for -1
// reads back as -1.
BOOL DecodeNegativeNumber(const char* digits, WORD length, void* destination) {
  if (length == 0 || !HasCharacters(digits, NumberDigits(length))) return FALSE;
  std::int32_t value;
  switch (length) {
    case 1:
      value = static_cast<std::int8_t>(ParseHexByte(digits) & 0xFF);
      break;
    case 2:
      value = static_cast<std::int16_t>(ParseHexWord(digits));
      break;
    case 3: {
      const DWORD bits = ParseHex24(digits) & 0xFFFFFF;
      value = static_cast<std::int32_t>(bits << 8) >> 8;
      break;
    }
    default:
      value = static_cast<std::int32_t>(ParseHexDword(digits));
      break;
  }
  StoreBits(destination, 0xFFFFFFFF, static_cast<DWORD>(value));
  return TRUE;
}

}  // namespace

WORD HexDigitValue(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  return static_cast<WORD>(u >= 0x61 ? u - 0x57 : u - 0x30);
}

WORD ParseHexByte(const char* text) {
  return static_cast<WORD>((HexDigitValue(text[0]) << 4) | HexDigitValue(text[1]));
}

WORD ParseHexWord(const char* text) {
  return static_cast<WORD>(((ParseHexByte(text) & 0xFF) << 8) | ParseHexByte(text + 2));
}

DWORD ParseHexDword(const char* text) {
  return (static_cast<DWORD>(ParseHexWord(text)) << 16) | ParseHexWord(text + 4);
}

void ParseTypeLength(const char* text, WORD* type, WORD* length) {
  const WORD word = ParseHexWord(text);
  *type = static_cast<WORD>(word >> 10);
  *length = static_cast<WORD>(word & 0x3FF);
}

BOOL DecodeValue(const char* digits, WORD type, WORD length, void* destination,
                 std::size_t capacity) {
  if (!digits || !destination) return FALSE;
  BYTE* bytes = static_cast<BYTE*>(destination);
  const ValueType valueType = static_cast<ValueType>(type);
  switch (valueType) {
    case String:
    case AltString:
      return DecodeString(digits, length, bytes, capacity);
    case PrefixedString:
      // The length counts the prefix; a record too short to hold it is
      // malformed and stores nothing.
      if (length < 2 || !HasCharacters(digits, kStringPrefixDigits)) return FALSE;
      return DecodeString(digits + kStringPrefixDigits, length - 2u, bytes, capacity);
    default:
      break;
  }
  if (capacity < sizeof(DWORD)) return FALSE;
  switch (valueType) {
    case Number:
    case PaddedNumber:
    case AltNumber:
      return DecodeNumber(digits, length, destination);
    case Number32:
      if (!HasCharacters(digits, 8)) return FALSE;
      StoreBits(destination, 0xFFFFFFFF, ParseHexDword(digits));
      return TRUE;
    case Byte:
      if (!HasCharacters(digits, 2)) return FALSE;
      StoreBits(destination, 0xFFFF, ParseHexByte(digits));
      return TRUE;
    case Empty:
      StoreBits(destination, 0xFF, 0);
      return TRUE;
    case NegativeNumber:
      return DecodeNegativeNumber(digits, length, destination);
    default:
      return FALSE;  // no value type the printer is known to send
  }
}

BOOL ReadReplyValue(const char* reply, const char* objectId, void* destination,
                    std::size_t capacity) {
  if (!reply || !objectId || !destination) return FALSE;
  // Only the first record is looked at, whatever follows it.
  const char* record = std::strstr(reply, kReplyMarker);
  if (!record) return FALSE;
  record += kReplyMarkerLength;
  const std::size_t idLength = std::strlen(objectId);
  if (std::strncmp(record, objectId, idLength) != 0) return FALSE;
  record += idLength;
  if (!HasCharacters(record, kTypeLengthDigits)) return FALSE;
  WORD type = 0;
  WORD length = 0;
  ParseTypeLength(record, &type, &length);
  return DecodeValue(record + kTypeLengthDigits, type, length, destination, capacity);
}

}  // namespace langmon

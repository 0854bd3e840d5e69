// PJL device-management wire: DMINFO query and DMCMD set-line texts, the
// query exchange over the port and the decoding of reply values. Nothing
// here allocates heap memory; every buffer belongs to the caller.
#pragma once

#include "monitor/monitor.h"

namespace langmon {

// Value type codes carried in the type/length word.
enum ValueType : DWORD {
  String = 0,
  Number = 1,
  PaddedNumber = 2,
  Number32 = 3,
  PrefixedString = 4,
  AltString = 5,
  Byte = 6,
  Empty = 7,
  AltNumber = 8,
  NegativeNumber = 9,
};

// A value handed to the set-line builder: a number, or for the string types
// (String, PrefixedString, AltString) a zero-terminated 8-bit string.
struct PjlValue {
  DWORD number;
  const char* text;
};

// ---- command texts --------------------------------------------------------

// Longest string the 10-bit length can announce (two fewer for
// PrefixedString, whose prefix counts too).
constexpr DWORD kMaxStringLength = 1023;

BOOL BuildQueryLine(char* buffer, const char* objectId);
// Appends one DMCMD set line to the zero-terminated text. A string value too
// long for the 10-bit length is refused: nothing is appended.
void AppendSetLine(char* text, const char* objectId, DWORD type, PjlValue value);
DWORD ValueLength(DWORD type, PjlValue value);
void FormatTypeLength(DWORD type, DWORD length, char out[5]);
void FormatValue(char* text, DWORD type, DWORD length, PjlValue value);
void FormatHexByte(char* out, BYTE value);
char HexDigitChar(DWORD nibble);

// ---- query exchange -------------------------------------------------------

constexpr DWORD kCollectionBufferSize = 5120;
constexpr DWORD kReplyBufferSize = 256;
constexpr DWORD kExchangeTimeLimitMs = 5000;

// Writes the request and collects the first reply that repeats it, within
// the time limit. replyBuffer holds kReplyBufferSize bytes.
BOOL ExchangeQuery(PortEntry* entry, const char* request, char* replyBuffer, DWORD* replyLength);
BOOL ScanReply(const char* request, DWORD compareLength, char* replyBuffer, DWORD* replyLength,
               char* collection, DWORD* held);
BOOL SendEchoProbe(PortEntry* entry);

// ---- reply decoding -------------------------------------------------------

// Destination of a decoded value: a 32-bit number for the number types, or a
// byte array of `capacity` bytes for the string types (capacity 4 when the
// destination is one ConfigRecord field).
BOOL ReadReplyValue(const char* reply, const char* objectId, void* destination,
                    std::size_t capacity);
void ParseTypeLength(const char* text, WORD* type, WORD* length);
void DecodeValue(const char* digits, WORD type, WORD length, void* destination,
                 std::size_t capacity);
DWORD ParseHexDword(const char* text);
WORD ParseHexWord(const char* text);
WORD ParseHexByte(const char* text);
WORD HexDigitValue(char c);

}  // namespace langmon

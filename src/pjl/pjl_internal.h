// The steps inside the PJL wire, shared by its three source files and looked
// at one by one by their tests, fuzz targets and benchmarks. Nothing outside
// src/pjl/ and those uses needs them: the rest of the monitor goes through
// pjl.h.
#pragma once

#include "pjl/pjl.h"

namespace langmon {

// ---- command texts --------------------------------------------------------

// Length in bytes that the type/length word announces for the value. String
// types give their full character count (also when it is too long to be
// sent); unknown types give 0.
DWORD ValueLength(ValueType type, PjlValue value);
void FormatTypeLength(ValueType type, DWORD length, char out[5]);
// Appends the value digits for the type and length to the end of text.
void FormatValue(char* text, ValueType type, DWORD length, PjlValue value);
void FormatHexByte(char* out, BYTE value);
char HexDigitChar(DWORD nibble);

// ---- query exchange -------------------------------------------------------

// Looks through the *held bytes at the start of collection for the first
// complete reply whose first compareLength bytes equal the request's, and
// leaves behind either nothing or one partial reply starting at collection[0].
BOOL ScanReply(const char* request, DWORD compareLength, char* replyBuffer, DWORD* replyLength,
               char* collection, DWORD* held);

// ECHO probe texts.
constexpr DWORD kEchoTokenSize = 32;
constexpr DWORD kEchoRequestSize = 64;
constexpr DWORD kEchoTokenMax = 32767;
// The probe's token for a generator seeded with seed: the first number of
//   state = state * 1103515245 + 12345;  token = (state >> 16) & 0x7FFF
// (unsigned 32-bit arithmetic), the same on every platform.
DWORD EchoToken(DWORD seed);
// Writes kEchoPrefix, the token in decimal, CR LF and a zero into buffer
// (kEchoRequestSize bytes); returns the text's length.
DWORD BuildEchoRequest(char* buffer, DWORD token);

// ---- reply decoding -------------------------------------------------------

// Splits the type/length word (four hex digits) into the wire's value type
// (0 to 63, not only the ten ValueType codes) and length.
void ParseTypeLength(const char* text, WORD* type, WORD* length);
BOOL DecodeValue(const char* digits, WORD type, WORD length, void* destination,
                 std::size_t capacity);
// Read exactly 8, 4 and 2 characters; the caller makes sure they are there.
DWORD ParseHexDword(const char* text);
WORD ParseHexWord(const char* text);
WORD ParseHexByte(const char* text);
WORD HexDigitValue(char c);

}  // namespace langmon

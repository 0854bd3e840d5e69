// PJL device-management wire: DMINFO query and DMCMD set-line texts, the
// query exchange over the port and the decoding of reply values. Nothing
// here allocates heap memory; every buffer belongs to the caller. The parts
// the three pieces share and their tests look at are in pjl_internal.h.
#pragma once

#include "monitor/monitor.h"

namespace langmon {

// Value type codes carried in the type/length word.
enum class ValueType : DWORD {
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

// How the monitor's PJL lines begin: the DMINFO query and the DMCMD set line
// up to the object identifier, the ECHO probe up to its token.
inline constexpr char kQueryPrefix[] = "@PJL DMINFO ASCIIHEX=\"0000";
inline constexpr char kSetPrefix[] = "@PJL DMCMD ASCIIHEX=\"0400";
inline constexpr char kEchoPrefix[] = "@PJL ECHO Getting Configuration";

// Longest string the 10-bit length can announce (two fewer for
// PrefixedString, whose prefix counts too).
constexpr DWORD kMaxStringLength = 1023;
constexpr DWORD kMaxPrefixedStringLength = kMaxStringLength - 2;

// Writes the DMINFO query for objectId, CR LF and a terminating zero into
// buffer (29 characters plus the identifier). FALSE, with nothing written,
// when the buffer or the identifier is missing.
BOOL BuildQueryLine(char* buffer, const char* objectId);
// Appends one DMCMD set line to the zero-terminated text. Nothing is
// appended when the text or identifier is missing, the type is not one of
// the ten value types, or a string value is too long for the 10-bit length.
// A set line carrying a number takes at most 40 characters plus the
// identifier.
void AppendSetLine(char* text, const char* objectId, ValueType type, PjlValue value);

// ---- query exchange -------------------------------------------------------

constexpr DWORD kCollectionBufferSize = 5120;
constexpr DWORD kReplyBufferSize = 256;
// Longest reply handed to a caller: one byte of the reply buffer is always
// left free behind the reply for the zero that the decoder's caller places
// there.
constexpr DWORD kMaxReplyLength = kReplyBufferSize - 1;
constexpr DWORD kExchangeTimeLimitMs = 5000;

// Writes the request and collects the first reply that repeats it, within
// the time limit. replyBuffer holds kReplyBufferSize bytes; on success it
// receives the reply ("@" through form feed, at most kMaxReplyLength bytes,
// no terminator) and *replyLength its length. On failure neither is touched.
BOOL ExchangeQuery(PortEntry* entry, const char* request, char* replyBuffer, DWORD* replyLength);
// The ECHO probe: TRUE when the printer echoed it within the time limit.
BOOL SendEchoProbe(PortEntry* entry);

// ---- reply decoding -------------------------------------------------------

// Destination of a decoded value: a 32-bit number for the number types, or a
// byte array of `capacity` bytes for the string types (capacity 4 when the
// destination is one ConfigRecord field). Both refuse, storing nothing, a
// value they cannot store whole: the reply text ends inside the record, a
// string does not fit with its terminator, a number destination is smaller
// than 4 bytes, or the type is unknown.
BOOL ReadReplyValue(const char* reply, const char* objectId, void* destination,
                    std::size_t capacity);

}  // namespace langmon

// One PJL query and its reply over the port, and the ECHO probe.
//
// The exchange polls the port through the monitor's own ReadPort (whose pace
// the port's read time-outs set), gathering what arrives in a collection
// buffer on the stack, until a reply that repeats the request is complete or
// the time limit has passed. It allocates no heap memory.
#include <cstring>
#include <ctime>

#include "pjl/pjl_internal.h"
#include "port/port_ops.h"

namespace langmon {

namespace {

constexpr char kReplyStart = '@';
constexpr char kReplyEnd = '\x0C';  // form feed

}  // namespace

BOOL ScanReply(const char* request, DWORD compareLength, char* replyBuffer, DWORD* replyLength,
               char* collection, DWORD* held) {
  char* scan = collection;
  DWORD count = *held;  // bytes from scan to the end of the held text
  for (;;) {
    char* start = static_cast<char*>(std::memchr(scan, kReplyStart, count));
    if (!start) {
      *held = 0;  // noise only
      return FALSE;
    }
    count -= static_cast<DWORD>(start - scan);
    char* end = static_cast<char*>(std::memchr(start, kReplyEnd, count));
    if (!end) {
      // An incomplete reply waits at the front for the next read.
      if (count >= kCollectionBufferSize) {
        count = 0;
      } else if (start != collection) {
        std::memmove(collection, start, count);
      }
      *held = count;
      return FALSE;
    }
    const DWORD length = static_cast<DWORD>(end - start) + 1;
    count -= length;
    // A reply shorter than the compare length cannot repeat the request, and
    // the comparison never reaches past this reply's form feed. A reply
    // longer than a caller's reply buffer could hold (with the zero that the
    // decoder needs behind it) is passed over like any other mismatch.
    if (length >= compareLength && length <= kMaxReplyLength &&
        std::memcmp(start, request, compareLength) == 0) {
      *replyLength = length;
      std::memcpy(replyBuffer, start, length);
      std::memmove(collection, end + 1, count);
      *held = count;
      return TRUE;
    }
    if (count == 0) {
      *held = 0;
      return FALSE;
    }
    scan = end + 1;
  }
}

BOOL ExchangeQuery(PortEntry* entry, const char* request, char* replyBuffer, DWORD* replyLength) {
  if (!entry || !request || !replyBuffer || !replyLength) return FALSE;
  const DWORD requestLength = static_cast<DWORD>(std::strlen(request));
  if (requestLength == 0) return FALSE;

  DWORD written = 0;
  if (!WritePort(entry, reinterpret_cast<LPBYTE>(const_cast<char*>(request)), requestLength,
                 &written) ||
      written < requestLength)
    return FALSE;

  // The request less its final LF is what a reply must begin with.
  const DWORD compareLength = requestLength - 1;
  char collection[kCollectionBufferSize] = {};
  DWORD held = 0;
  const DWORD startTime = TickCount();
  for (;;) {
    // Unsigned difference: a wrap of the tick counter does not disturb it.
    if (TickCount() - startTime >= kExchangeTimeLimitMs) return FALSE;
    const DWORD room = kCollectionBufferSize - 1 - held;
    DWORD got = 0;
    if (!ReadPort(entry, reinterpret_cast<LPBYTE>(collection + held), room, &got) || got == 0)
      continue;
    if (got > room) got = room;  // a port monitor that claims more than it was offered
    held += got;
    collection[held] = '\0';
    if (ScanReply(request, compareLength, replyBuffer, replyLength, collection, &held)) return TRUE;
  }
}

DWORD EchoToken(DWORD seed) {
  const DWORD state = seed * 1103515245u + 12345u;
  return (state >> 16) & kEchoTokenMax;
}

DWORD BuildEchoRequest(char* buffer, DWORD token) {
  char digits[kEchoTokenSize];
  DWORD n = 0;
  do {
    digits[n++] = static_cast<char>('0' + token % 10);
    token /= 10;
  } while (token != 0 && n < kEchoTokenSize);

  char* end = buffer;
  std::memcpy(end, kEchoPrefix, sizeof kEchoPrefix - 1);
  end += sizeof kEchoPrefix - 1;
  while (n > 0) *end++ = digits[--n];
  *end++ = '\r';
  *end++ = '\n';
  *end = '\0';
  return static_cast<DWORD>(end - buffer);
}

BOOL SendEchoProbe(PortEntry* entry) {
  // A fresh token for every probe, so that the echo of an earlier probe still
  // on its way back is not taken for this one (probes in the same second
  // share a token).
  char request[kEchoRequestSize];
  BuildEchoRequest(request, EchoToken(static_cast<DWORD>(std::time(nullptr))));
  char reply[kReplyBufferSize];
  DWORD replyLength = 0;
  return ExchangeQuery(entry, request, reply, &replyLength);
}

}  // namespace langmon

// One TCP connection to a printer, the parts the socket port monitor's entry
// points share: connecting within a time, what the printer has acknowledged,
// and the wait at the end of a document for the printer to take it all.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "plumbing.h"

namespace langmon::ports::detail {

// Connects to host:port, trying each address in turn, all before `until`.
// The connected non-blocking socket, or -1 with `error` set to the errno
// that stopped it (ETIMEDOUT when time ran out) or, when the name could not
// be resolved, `error` 0 and `resolveError` set.
int ConnectTo(const std::string& host, unsigned port, Clock::time_point until, int& error,
              std::string& resolveError);

// Bytes handed to the connection that the printer's TCP has not yet
// acknowledged (SIOCOUTQ), not counting the FIN once our side is shut.
std::uint64_t Unacknowledged(int fd, bool shut);

// The pending error of the socket (a reset that arrived), or 0; reading it
// clears it.
int PendingError(int fd);

// While our side is open: raises `seen` to how many of `sent` bytes the
// printer has acknowledged, unless the connection is closed, which then can
// only be a reset: a reset empties the send queue, so a count taken after
// one would call every byte acknowledged. The socket's pending error is left
// for the call that reports it.
void LookAtAcknowledged(int fd, std::uint64_t sent, std::uint64_t& seen);

// How the wait at the end of a document ended.
enum class Delivery {
  Confirmed,  // every byte acknowledged; the printer closed or went quiet
  Failed,     // the connection failed (`error` says how): a reset, usually
  Stalled,    // no byte acknowledged for `stallMs`
  TimeUp,     // the deadline came first
};

struct DeliveryLimits {
  std::uint64_t stallMs;  // fail after this long without progress
  std::uint64_t quietMs;  // once all is acknowledged, wait this long for the close
  Clock::time_point deadline;
  std::function<void()> onProgress = {};  // told of every byte newly acknowledged
};

struct DeliveryOutcome {
  Delivery result;
  int error = 0;  // errno, for Failed
  // Acknowledged before the end (for Failed: before the connection failed).
  std::uint64_t acknowledged = 0;
};

// Shuts our side of the connection and waits, as `limits` bound it, for the
// printer to acknowledge the `sent` bytes and then close or go quiet;
// `acknowledged` is what it had acknowledged so far. What the printer sends
// meanwhile is read and dropped. The socket stays open.
DeliveryOutcome ConfirmDelivery(int fd, std::uint64_t sent, std::uint64_t acknowledged,
                                const DeliveryLimits& limits);

// Shuts our side and reads and drops what the printer still sends until it
// closes or `until` passes, so that unread data does not turn the close into
// a reset; then closes the socket.
void DrainAndClose(int fd, Clock::time_point until);

}  // namespace langmon::ports::detail

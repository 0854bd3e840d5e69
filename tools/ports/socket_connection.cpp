#include "socket_connection.h"

#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <thread>

namespace langmon::ports::detail {

namespace {

// How often the end-of-document wait looks at what was acknowledged.
constexpr int kDeliverySliceMs = 20;

// Connects a non-blocking socket to one address before `until`; 0 on
// success, else the errno that stopped it.
int ConnectOne(int fd, const addrinfo& address, Clock::time_point until) {
  if (::connect(fd, address.ai_addr, address.ai_addrlen) == 0) return 0;
  int error = errno;
  if (error != EINPROGRESS) return error;
  const int ready = PollUntil(fd, POLLOUT, until);
  socklen_t len = sizeof error;
  if (ready == 0) return ETIMEDOUT;
  if (ready < 0 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0) return errno;
  return error;
}

// Reads and drops what is there; 1 when the printer closed its side, -1 on
// an error (errno set), else 0.
int DropInput(int fd) {
  char sink[4096];
  for (;;) {
    const ssize_t n = ::recv(fd, sink, sizeof sink, MSG_DONTWAIT);
    if (n > 0) continue;
    if (n == 0) return 1;
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
  }
}

// Waits one slice for input (dropping it) while the printer's side is open,
// or simply lets the slice pass once it has closed; false on an error.
bool WaitSlice(int fd, bool& peerClosed, int sliceMs) {
  const auto until = Clock::now() + std::chrono::milliseconds(sliceMs);
  if (peerClosed) {
    std::this_thread::sleep_until(until);
    return true;
  }
  if (PollUntil(fd, POLLIN, until) <= 0) return true;
  const int dropped = DropInput(fd);
  if (dropped < 0) return false;
  peerClosed = dropped == 1;
  return true;
}

}  // namespace

int ConnectTo(const std::string& host, unsigned port, Clock::time_point until, int& error,
              std::string& resolveError) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int rc = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
  if (rc != 0) {
    error = 0;
    resolveError = ::gai_strerror(rc);
    return -1;
  }
  std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> list(found, &::freeaddrinfo);
  error = ETIMEDOUT;
  for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
    const int fd =
        ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) {
      error = errno;
      continue;
    }
    error = ConnectOne(fd, *a, until);
    if (error == 0) {
      const int one = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      return fd;
    }
    ::close(fd);
    if (error == ETIMEDOUT) break;  // the time covers all addresses
  }
  return -1;
}

int PendingError(int fd) {
  int error = 0;
  socklen_t len = sizeof error;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0) return errno;
  return error;
}

void LookAtAcknowledged(int fd, std::uint64_t sent, std::uint64_t& seen) {
  const std::uint64_t queued = Unacknowledged(fd, false);
  // The state after the count: a reset before or between the two voids it.
  tcp_info info{};
  socklen_t size = sizeof info;
  if (::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &size) != 0 || info.tcpi_state == TCP_CLOSE)
    return;
  seen = std::max(seen, sent - std::min(sent, queued));
}

std::uint64_t Unacknowledged(int fd, bool shut) {
  int queued = 0;
  if (::ioctl(fd, SIOCOUTQ, &queued) != 0 || queued <= 0) return 0;
  // Once our side is shut, the FIN takes one place in the sequence too.
  return static_cast<std::uint64_t>(queued) - (shut ? 1 : 0);
}

DeliveryOutcome ConfirmDelivery(int fd, std::uint64_t sent, std::uint64_t acknowledged,
                                const DeliveryLimits& limits) {
  std::uint64_t seen = acknowledged;
  if (::shutdown(fd, SHUT_WR) != 0) {
    const int error = PendingError(fd);
    return {Delivery::Failed, error ? error : errno, seen};
  }
  auto progress = Clock::now();
  auto allTaken = Clock::time_point::max();
  bool peerClosed = false;
  for (;;) {
    // The error after the count: a reset before or between the two voids
    // it. Our side is shut, so a closed connection may be a graceful end.
    const std::uint64_t before = seen;
    const std::uint64_t queued = Unacknowledged(fd, true);
    if (const int error = PendingError(fd)) return {Delivery::Failed, error, seen};
    seen = std::max(seen, sent - std::min(sent, queued));
    const auto at = Clock::now();
    if (seen > before) {
      progress = at;
      if (limits.onProgress) limits.onProgress();
    }
    if (seen == sent) {
      allTaken = std::min(allTaken, at);
      if (peerClosed || at >= Within(allTaken, limits.quietMs, limits.deadline))
        return {Delivery::Confirmed, 0, seen};
    } else if (at >= Within(progress, limits.stallMs, Clock::time_point::max())) {
      return {Delivery::Stalled, 0, seen};
    } else if (at >= limits.deadline) {
      return {Delivery::TimeUp, 0, seen};
    }
    const int slice = std::min(kDeliverySliceMs, std::max(1, MillisecondsUntil(limits.deadline)));
    if (!WaitSlice(fd, peerClosed, slice)) return {Delivery::Failed, errno, seen};
  }
}

void DrainAndClose(int fd, Clock::time_point until) {
  if (::shutdown(fd, SHUT_WR) == 0) {
    // Until the time is up, the printer has closed, or a call failed.
    while (PollUntil(fd, POLLIN, until) > 0 && DropInput(fd) == 0) {
    }
  }
  ::close(fd);
}

}  // namespace langmon::ports::detail

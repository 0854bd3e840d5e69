#include "plumbing.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace langmon::ports {

namespace {

constexpr std::chrono::milliseconds::rep kLongestPollMs = 1 << 30;

struct ErrnoCode {
  int error;
  DWORD code;
};

// Only the errno values a port call can meet with a code of their own; the
// rest are the device's failure.
constexpr ErrnoCode kErrnoCodes[] = {
    {ENOENT, ERROR_FILE_NOT_FOUND},
    {ENOTDIR, ERROR_FILE_NOT_FOUND},
    {EACCES, ERROR_ACCESS_DENIED},
    {EPERM, ERROR_ACCESS_DENIED},
    {EROFS, ERROR_ACCESS_DENIED},
    {EBUSY, ERROR_BUSY},
    {ENOMEM, ERROR_NOT_ENOUGH_MEMORY},
    {ENOBUFS, ERROR_NOT_ENOUGH_MEMORY},
    {ETIMEDOUT, ERROR_TIMEOUT},
    {ENOTTY, ERROR_NOT_SUPPORTED},
    {EOPNOTSUPP, ERROR_NOT_SUPPORTED},
    {ECONNREFUSED, ERROR_CONNECTION_REFUSED},
    {ENETUNREACH, ERROR_NETWORK_UNREACHABLE},
    {ENETDOWN, ERROR_NETWORK_UNREACHABLE},
    {EHOSTUNREACH, ERROR_HOST_UNREACHABLE},
    {EHOSTDOWN, ERROR_HOST_UNREACHABLE},
    {ECONNRESET, ERROR_NETNAME_DELETED},
    {EPIPE, ERROR_BROKEN_PIPE},
    {ECONNABORTED, ERROR_CONNECTION_ABORTED},
};

struct CodeText {
  DWORD code;
  const char* text;
};

// Every code the platform layer spells, in words.
constexpr CodeText kCodeTexts[] = {
    {ERROR_SUCCESS, "no failure"},
    {ERROR_FILE_NOT_FOUND, "file not found"},
    {ERROR_ACCESS_DENIED, "access denied"},
    {ERROR_INVALID_HANDLE, "not a handle of this port monitor"},
    {ERROR_NOT_ENOUGH_MEMORY, "out of memory"},
    {ERROR_OUTOFMEMORY, "out of memory"},
    {ERROR_GEN_FAILURE, "the device does not work"},
    {ERROR_NOT_SUPPORTED, "not supported"},
    {ERROR_NETNAME_DELETED, "the connection was reset"},
    {ERROR_BAD_NET_NAME, "the printer's host name cannot be found"},
    {ERROR_INVALID_PARAMETER, "invalid parameter"},
    {ERROR_BROKEN_PIPE, "the connection is closed"},
    {ERROR_INSUFFICIENT_BUFFER, "the buffer is too small"},
    {ERROR_BUSY, "the port is in use"},
    {ERROR_MORE_DATA, "more data than the buffer holds"},
    {ERROR_CONNECTION_REFUSED, "the printer refused the connection"},
    {ERROR_GRACEFUL_DISCONNECT, "the printer closed the connection"},
    {ERROR_NETWORK_UNREACHABLE, "the network cannot be reached"},
    {ERROR_HOST_UNREACHABLE, "the printer's host cannot be reached"},
    {ERROR_CONNECTION_ABORTED, "the connection failed earlier"},
    {ERROR_TIMEOUT, "timed out"},
    {ERROR_INVALID_PRINTER_NAME, "no printer of that name"},
    {ERROR_INVALID_PRINT_MONITOR, "the port monitor lacks a required operation"},
};

thread_local std::string t_lastMessage;

}  // namespace

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = EIO;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

int MillisecondsUntil(Clock::time_point when) {
  const auto now = Clock::now();
  if (when <= now) return 0;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(when - now).count();
  return static_cast<int>(std::min(left, kLongestPollMs));
}

Clock::time_point Within(Clock::time_point from, std::uint64_t ms, Clock::time_point cap) {
  const auto room = std::chrono::duration_cast<std::chrono::milliseconds>(cap - from).count();
  if (room <= 0 || ms >= static_cast<std::uint64_t>(room)) return cap;
  return from + std::chrono::milliseconds(ms);
}

int PollUntil(int fd, short events, Clock::time_point until) {
  for (;;) {
    pollfd p{fd, events, 0};
    const int ready = ::poll(&p, 1, MillisecondsUntil(until));
    if (ready >= 0) return ready > 0 ? 1 : 0;
    if (errno != EINTR) return -1;
  }
}

DWORD Win32ErrorFromErrno(int error) {
  for (const ErrnoCode& e : kErrnoCodes)
    if (e.error == error) return e.code;
  return ERROR_GEN_FAILURE;
}

std::string Win32ErrorText(DWORD code) {
  for (const CodeText& c : kCodeTexts)
    if (c.code == code) return c.text;
  return "an unknown failure (Win32 code " + std::to_string(code) + ")";
}

BOOL Fail(DWORD code, std::string message) {
  t_lastMessage = std::move(message);
  SetLastError(code);
  return FALSE;
}

std::string LastMessage() { return t_lastMessage; }

void ClearLastMessage() { t_lastMessage.clear(); }

}  // namespace langmon::ports

#include "local_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <thread>

#include "plumbing.h"

namespace langmon::ports {

namespace {

struct LocalPort {
  LocalPortTarget target;
  int fd = -1;
  COMMTIMEOUTS timeouts = kDefaultReadTimeouts;
};

// The usblp driver's request for the IEEE 1284 device ID: the answer is the
// ID behind a 2-byte big-endian length that counts itself.
constexpr std::size_t kDeviceIdCapacity = 1024;
constexpr unsigned long kUsbGetDeviceId = _IOC(_IOC_READ, 'P', 1, kDeviceIdCapacity);

const char* KindName(LocalPortKind kind) {
  switch (kind) {
    case LocalPortKind::Parallel:
      return "parallel";
    case LocalPortKind::Usb:
      return "usb";
    case LocalPortKind::File:
      return "file";
  }
  return "local";
}

BOOL FailErrno(const std::string& what, int error) {
  return Fail(Win32ErrorFromErrno(error), what + ": " + std::strerror(error));
}

LocalPort* PortOf(HANDLE handle) { return static_cast<LocalPort*>(handle); }

// `ms` from now, or the run's deadline when that comes first.
Clock::time_point FromNow(std::uint64_t ms, Clock::time_point deadline) {
  return Within(Clock::now(), ms, deadline);
}

bool TimeIsUp(const LocalPort& port) { return Clock::now() >= port.target.deadline; }

// `text` says when, so that no message claims a write took too long when
// the time had run out before it: "the time limit had run out; nothing more
// was written to /dev/null".
BOOL FailTimeUp(std::string text) { return Fail(ERROR_TIMEOUT, std::move(text)); }

// Waits for `events` on the descriptor until the deadline; true when ready,
// false when the time is up or the wait failed (`error` set).
bool WaitFor(int fd, short events, Clock::time_point deadline, int& error) {
  const int ready = PollUntil(fd, events, deadline);
  if (ready < 0) error = errno;
  return ready > 0;
}

BOOL LocalOpenPort(void* context, LPWSTR, PHANDLE handle) {
  const LocalPortTarget* target = &static_cast<const LocalPortMonitor*>(context)->Target();
  int fd;
  if (target->kind == LocalPortKind::File) {
    fd = open(target->path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return FailErrno("open " + target->path, errno);
  } else {
    fd = open(target->path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return FailErrno("open " + target->path, errno);
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) {
      close(fd);
      return Fail(ERROR_INVALID_PARAMETER, "open " + target->path + ": not a character device (a " +
                                               KindName(target->kind) +
                                               ": port needs a printer device)");
    }
  }
  auto* port = new (std::nothrow) LocalPort{*target, fd, kDefaultReadTimeouts};
  if (!port) {
    close(fd);
    return Fail(ERROR_NOT_ENOUGH_MEMORY, "out of memory");
  }
  *handle = port;
  return TRUE;
}

BOOL WINAPI LocalStartDocPort(HANDLE, LPWSTR, DWORD, DWORD, LPBYTE) { return TRUE; }

BOOL WINAPI LocalWritePort(HANDLE handle, LPBYTE data, DWORD count, LPDWORD written) {
  LocalPort* port = PortOf(handle);
  if (written) *written = 0;
  const COMMTIMEOUTS& t = port->timeouts;
  unsigned long long limit =
      static_cast<unsigned long long>(t.WriteTotalTimeoutMultiplier) * count +
      t.WriteTotalTimeoutConstant;
  if (limit == 0) limit = kDefaultWriteLimitMs;
  if (TimeIsUp(*port))
    return FailTimeUp("the time limit had run out; nothing more was written to " +
                      port->target.path);
  const auto deadline = FromNow(limit, port->target.deadline);
  DWORD done = 0;
  while (done < count) {
    const ssize_t n = write(port->fd, data + done, count - done);
    if (n > 0) {
      done += static_cast<DWORD>(n);
      if (written) *written = done;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
      return FailErrno("write " + port->target.path, errno);
    int error = 0;
    if (!WaitFor(port->fd, POLLOUT, deadline, error)) {
      if (error) return FailErrno("write " + port->target.path, error);
      if (deadline == port->target.deadline)
        return FailTimeUp("write " + port->target.path + ": the time limit ran out after " +
                          std::to_string(done) + " of " + std::to_string(count) +
                          " bytes were taken");
      return Fail(ERROR_TIMEOUT, "write " + port->target.path + ": the device took " +
                                     std::to_string(done) + " of " + std::to_string(count) +
                                     " bytes within " + std::to_string(limit) + " ms");
    }
  }
  return TRUE;
}

BOOL WINAPI LocalReadPort(HANDLE handle, LPBYTE buffer, DWORD size, LPDWORD read) {
  LocalPort* port = PortOf(handle);
  if (read) *read = 0;
  if (size == 0) return TRUE;

  const COMMTIMEOUTS& t = port->timeouts;
  const unsigned long long total =
      static_cast<unsigned long long>(t.ReadTotalTimeoutMultiplier) * size +
      t.ReadTotalTimeoutConstant;
  const DWORD interval = t.ReadIntervalTimeout == 0xFFFFFFFF ? 0 : t.ReadIntervalTimeout;
  if (TimeIsUp(*port))
    return FailTimeUp("the time limit ran out before an answer came from " + port->target.path);
  const auto totalDeadline = FromNow(total, port->target.deadline);
  if (port->target.kind == LocalPortKind::File) {
    // A file has no back channel: nothing ever arrives. The read still takes
    // its time-out, as a port with nothing to deliver does, so that a caller
    // polling for a reply waits instead of spinning a core.
    std::this_thread::sleep_until(totalDeadline);
    return TRUE;
  }
  // Wait for the first byte up to the total time-out (or, with no total
  // time-out, up to the interval time-out); then keep reading while bytes
  // follow each other within the interval, until the buffer is full or the
  // total time-out passes.
  auto deadline = total ? totalDeadline : FromNow(interval, port->target.deadline);
  DWORD got = 0;
  while (got < size) {
    int error = 0;
    if (!WaitFor(port->fd, POLLIN, deadline, error)) {
      if (error) return FailErrno("read " + port->target.path, error);
      break;
    }
    const ssize_t n = ::read(port->fd, buffer + got, size - got);
    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    if (n < 0) return FailErrno("read " + port->target.path, errno);
    if (n == 0) break;  // the device has nothing more for now
    got += static_cast<DWORD>(n);
    if (read) *read = got;
    if (interval == 0) break;
    const auto next = FromNow(interval, port->target.deadline);
    deadline = total ? std::min(next, totalDeadline) : next;
  }
  return TRUE;
}

BOOL WINAPI LocalEndDocPort(HANDLE) { return TRUE; }

BOOL WINAPI LocalClosePort(HANDLE handle) {
  LocalPort* port = PortOf(handle);
  if (port->fd >= 0) close(port->fd);
  delete port;
  return TRUE;
}

BOOL WINAPI LocalSetPortTimeOuts(HANDLE handle, LPCOMMTIMEOUTS timeouts, DWORD) {
  if (!timeouts) return Fail(ERROR_INVALID_PARAMETER, "no time-outs given");
  PortOf(handle)->timeouts = *timeouts;
  return TRUE;
}

BOOL WINAPI LocalGetPrinterDataFromPort(HANDLE handle, DWORD controlId, LPWSTR, LPWSTR, DWORD,
                                        LPWSTR outBuffer, DWORD cbOutBuffer, LPDWORD cbReturned) {
  LocalPort* port = PortOf(handle);
  if (cbReturned) *cbReturned = 0;
  if (controlId != IOCTL_PAR_QUERY_DEVICE_ID || port->target.kind != LocalPortKind::Usb)
    return Fail(ERROR_NOT_SUPPORTED, std::string("a ") + KindName(port->target.kind) +
                                         ": port cannot report a device ID");
  unsigned char id[kDeviceIdCapacity] = {};
  if (ioctl(port->fd, kUsbGetDeviceId, id) < 0)
    return FailErrno("device ID of " + port->target.path, errno);
  const std::size_t length = std::min<std::size_t>((id[0] << 8) | id[1], sizeof id);
  if (!outBuffer || cbOutBuffer < length)
    return Fail(ERROR_INSUFFICIENT_BUFFER, "device ID longer than the buffer");
  std::memcpy(outBuffer, id, length);
  if (cbReturned) *cbReturned = static_cast<DWORD>(length);
  return TRUE;
}

constexpr portmonitor::PortOperations kLocalOperations = {
    .OpenPort = &LocalOpenPort,
    .StartDocPort = &LocalStartDocPort,
    .WritePort = &LocalWritePort,
    .ReadPort = &LocalReadPort,
    .EndDocPort = &LocalEndDocPort,
    .ClosePort = &LocalClosePort,
    .GetPrinterDataFromPort = &LocalGetPrinterDataFromPort,
    .SetPortTimeOuts = &LocalSetPortTimeOuts,
};

}  // namespace

LocalPortMonitor::LocalPortMonitor(LocalPortTarget target)
    : target_(std::move(target)), table_(kLocalOperations, this) {}

}  // namespace langmon::ports

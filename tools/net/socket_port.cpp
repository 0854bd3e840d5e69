#include "socket_port.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>

namespace langmon::net {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kPortMagic = 0x534F434B;  // "SOCK"

thread_local std::string t_lastMessage;

std::string Narrow(LPCWSTR name) {
  std::string out;
  if (name == nullptr) return out;
  for (; *name; ++name) out.push_back(*name < 0x80 ? static_cast<char>(*name) : '?');
  return out;
}

struct SocketPort {
  std::uint32_t magic = kPortMagic;
  std::mutex mutex;
  std::string name;
  SocketTarget target;
  int fd = -1;
  bool inDocument = false;
  bool lost = false;  // the connection broke during the current document
  COMMTIMEOUTS timeouts{0, 0, kDefaultReadTimeoutMs, 0, 0};
};

BOOL Fail(DWORD code, std::string message) {
  t_lastMessage = std::move(message);
  SetLastError(code);
  return FALSE;
}

std::string Where(const SocketPort& port) {
  const bool v6 = port.target.host.find(':') != std::string::npos;
  return (v6 ? "[" + port.target.host + "]" : port.target.host) + ":" +
         std::to_string(port.target.port);
}

DWORD MapErrno(int error) {
  switch (error) {
    case ECONNREFUSED:
      return ERROR_CONNECTION_REFUSED;
    case ETIMEDOUT:
      return ERROR_TIMEOUT;
    case ENETUNREACH:
    case ENETDOWN:
      return ERROR_NETWORK_UNREACHABLE;
    case EHOSTUNREACH:
    case EHOSTDOWN:
      return ERROR_HOST_UNREACHABLE;
    case ECONNRESET:
      return ERROR_NETNAME_DELETED;
    case EPIPE:
      return ERROR_BROKEN_PIPE;
    case ECONNABORTED:
      return ERROR_CONNECTION_ABORTED;
    case ENOMEM:
    case ENOBUFS:
      return ERROR_NOT_ENOUGH_MEMORY;
    default:
      return ERROR_GEN_FAILURE;
  }
}

SocketPort* PortOf(HANDLE handle) {
  auto* port = static_cast<SocketPort*>(handle);
  if (port == nullptr || port->magic != kPortMagic) {
    Fail(ERROR_INVALID_HANDLE, "not a socket port handle");
    return nullptr;
  }
  return port;
}

int Remaining(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, 0x7FFFFFFF));
}

// Closes the connection. When `graceful`, our side is shut first and what
// the printer still sends is read and dropped until it closes too (bounded),
// so that unread data does not turn the close into a reset that could make
// the printer drop the end of the job.
void Disconnect(SocketPort& port, bool graceful) {
  if (port.fd < 0) return;
  if (graceful && ::shutdown(port.fd, SHUT_WR) == 0) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(port.target.closeDrainMs);
    char sink[4096];
    for (;;) {
      pollfd p{port.fd, POLLIN, 0};
      const int ready = ::poll(&p, 1, Remaining(deadline));
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) break;
      const ssize_t n = ::recv(port.fd, sink, sizeof sink, MSG_DONTWAIT);
      if (n > 0 || (n < 0 && errno == EINTR)) continue;
      break;  // end of stream or error
    }
  }
  ::close(port.fd);
  port.fd = -1;
}

// Marks the connection as broken and closes it; returns the failure.
BOOL Broken(SocketPort& port, DWORD code, const std::string& message) {
  Disconnect(port, false);
  if (port.inDocument) port.lost = true;
  return Fail(code, message);
}

// Connects a non-blocking socket to one address within the deadline; 0 on
// success, else the errno that stopped it.
int ConnectOne(int fd, const addrinfo& address, Clock::time_point deadline) {
  if (::connect(fd, address.ai_addr, address.ai_addrlen) == 0) return 0;
  int error = errno;
  if (error != EINPROGRESS) return error;
  pollfd p{fd, POLLOUT, 0};
  int ready;
  do {
    ready = ::poll(&p, 1, Remaining(deadline));
  } while (ready < 0 && errno == EINTR);
  socklen_t len = sizeof error;
  if (ready == 0) return ETIMEDOUT;
  if (ready < 0 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0) return errno;
  return error;
}

// Tries the addresses in turn, all within the one connect time-out; the
// connected socket, or -1 with `lastError` set.
int ConnectAny(const addrinfo* addresses, DWORD timeoutMs, int& lastError) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  lastError = ETIMEDOUT;
  for (const addrinfo* a = addresses; a != nullptr; a = a->ai_next) {
    const int fd =
        ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) {
      lastError = errno;
      continue;
    }
    lastError = ConnectOne(fd, *a, deadline);
    if (lastError == 0) return fd;
    ::close(fd);
    if (lastError == ETIMEDOUT) break;  // the time-out covers all addresses
  }
  return -1;
}

BOOL Connect(SocketPort& port) {
  if (port.fd >= 0) return TRUE;
  if (port.lost) {
    // Reconnecting in the middle of a document would hand the printer the
    // rest of a job as if it were a new one.
    return Fail(ERROR_CONNECTION_ABORTED,
                "connection to " + Where(port) + " was lost earlier in this document");
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port.target.port);
  const int rc = ::getaddrinfo(port.target.host.c_str(), service.c_str(), &hints, &found);
  if (rc != 0) {
    return Fail(ERROR_BAD_NET_NAME,
                "cannot resolve " + port.target.host + ": " + ::gai_strerror(rc));
  }
  std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> list(found, &::freeaddrinfo);
  int lastError = 0;
  const int fd = ConnectAny(found, port.target.connectTimeoutMs, lastError);
  if (fd >= 0) {
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    port.fd = fd;
    return TRUE;
  }
  const std::string reason =
      lastError == ETIMEDOUT
          ? "no answer within " + std::to_string(port.target.connectTimeoutMs) + " ms"
          : std::string(std::strerror(lastError));
  return Fail(MapErrno(lastError), "cannot connect to " + Where(port) + ": " + reason);
}

BOOL SocketOpenPort(void* context, LPWSTR name, PHANDLE handle) {
  if (handle == nullptr) return Fail(ERROR_INVALID_PARAMETER, "no handle to fill");
  try {
    auto port = std::make_unique<SocketPort>();
    port->name = Narrow(name);
    port->target = static_cast<const SocketPortMonitor*>(context)->Target();
    if (port->target.host.empty())
      return Fail(ERROR_BAD_NET_NAME, "no printer host for port " + port->name);
    *handle = port.release();
    t_lastMessage.clear();
    return TRUE;
  } catch (...) {
    return Fail(ERROR_NOT_ENOUGH_MEMORY, "out of memory opening a socket port");
  }
}

BOOL WINAPI SocketStartDocPort(HANDLE handle, LPWSTR, DWORD, DWORD, LPBYTE) {
  SocketPort* port = PortOf(handle);
  if (port == nullptr) return FALSE;
  std::lock_guard<std::mutex> guard(port->mutex);
  port->inDocument = true;
  port->lost = false;
  return TRUE;
}

BOOL WINAPI SocketEndDocPort(HANDLE handle) {
  SocketPort* port = PortOf(handle);
  if (port == nullptr) return FALSE;
  std::lock_guard<std::mutex> guard(port->mutex);
  Disconnect(*port, true);
  port->inDocument = false;
  port->lost = false;
  return TRUE;
}

BOOL WINAPI SocketClosePort(HANDLE handle) {
  SocketPort* port = PortOf(handle);
  if (port == nullptr) return FALSE;
  {
    std::lock_guard<std::mutex> guard(port->mutex);
    Disconnect(*port, true);
    port->magic = 0;
  }
  delete port;
  return TRUE;
}

BOOL WINAPI SocketWritePort(HANDLE handle, LPBYTE buffer, DWORD size, LPDWORD written) {
  if (written) *written = 0;
  SocketPort* port = PortOf(handle);
  if (port == nullptr) return FALSE;
  if (buffer == nullptr && size != 0) return Fail(ERROR_INVALID_PARAMETER, "no data buffer");
  std::lock_guard<std::mutex> guard(port->mutex);
  if (!Connect(*port)) return FALSE;
  std::uint64_t limit = port->timeouts.WriteTotalTimeoutConstant +
                        std::uint64_t{port->timeouts.WriteTotalTimeoutMultiplier} * size;
  if (limit == 0) limit = kDefaultWriteTimeoutMs;
  const auto deadline = Clock::now() + std::chrono::milliseconds(limit);
  DWORD sent = 0;
  while (sent < size) {
    const ssize_t n = ::send(port->fd, buffer + sent, size - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      sent += static_cast<DWORD>(n);
      if (written) *written = sent;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      const int left = Remaining(deadline);
      pollfd p{port->fd, POLLOUT, 0};
      if (left == 0 || (::poll(&p, 1, left) == 0 && Remaining(deadline) == 0)) {
        // The printer takes no more data for now. What was sent counts; a
        // write that moved nothing fails so that the host can say why.
        if (sent > 0) return TRUE;
        return Fail(ERROR_TIMEOUT, "printer at " + Where(*port) + " accepted no data within " +
                                       std::to_string(limit) + " ms");
      }
      continue;
    }
    const int error = n < 0 ? errno : EPIPE;
    return Broken(*port, MapErrno(error),
                  "sending to " + Where(*port) + " failed: " + std::strerror(error));
  }
  return TRUE;
}

BOOL WINAPI SocketReadPort(HANDLE handle, LPBYTE buffer, DWORD size, LPDWORD read) {
  if (read) *read = 0;
  SocketPort* port = PortOf(handle);
  if (port == nullptr) return FALSE;
  if (buffer == nullptr && size != 0) return Fail(ERROR_INVALID_PARAMETER, "no data buffer");
  std::lock_guard<std::mutex> guard(port->mutex);
  if (!Connect(*port)) return FALSE;
  const COMMTIMEOUTS& t = port->timeouts;
  std::uint64_t wait =
      t.ReadTotalTimeoutConstant + std::uint64_t{t.ReadTotalTimeoutMultiplier} * size;
  if (t.ReadIntervalTimeout == 0xFFFFFFFFu && t.ReadTotalTimeoutConstant == 0 &&
      t.ReadTotalTimeoutMultiplier == 0) {
    wait = 0;  // return at once with whatever is there
  }
  const auto deadline = Clock::now() + std::chrono::milliseconds(wait);
  for (;;) {
    pollfd p{port->fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, Remaining(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) {
      const int error = errno;
      return Broken(*port, MapErrno(error),
                    std::string("waiting for data failed: ") + std::strerror(error));
    }
    if (ready == 0) return TRUE;  // nothing within the read time-out
    break;
  }
  if (size == 0) return TRUE;
  ssize_t n;
  do {
    n = ::recv(port->fd, buffer, size, MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  if (n > 0) {
    if (read) *read = static_cast<DWORD>(n);
    return TRUE;
  }
  if (n == 0) {
    return Broken(*port, ERROR_GRACEFUL_DISCONNECT,
                  "printer at " + Where(*port) + " closed the connection");
  }
  if (errno == EAGAIN || errno == EWOULDBLOCK) return TRUE;
  const int error = errno;
  return Broken(*port, MapErrno(error),
                "receiving from " + Where(*port) + " failed: " + std::strerror(error));
}

BOOL WINAPI SocketGetPrinterDataFromPort(HANDLE handle, DWORD, LPWSTR, LPWSTR, DWORD, LPWSTR, DWORD,
                                         LPDWORD returned) {
  if (returned) *returned = 0;
  if (PortOf(handle) == nullptr) return FALSE;
  return Fail(ERROR_NOT_SUPPORTED, "a raw TCP port has no device ID or port data");
}

BOOL WINAPI SocketSetPortTimeOuts(HANDLE handle, LPCOMMTIMEOUTS timeouts, DWORD) {
  SocketPort* port = PortOf(handle);
  if (port == nullptr) return FALSE;
  if (timeouts == nullptr) return Fail(ERROR_INVALID_PARAMETER, "no time-outs given");
  std::lock_guard<std::mutex> guard(port->mutex);
  port->timeouts = *timeouts;
  return TRUE;
}

constexpr portmonitor::PortOperations kSocketOperations = {
    .OpenPort = &SocketOpenPort,
    .StartDocPort = &SocketStartDocPort,
    .WritePort = &SocketWritePort,
    .ReadPort = &SocketReadPort,
    .EndDocPort = &SocketEndDocPort,
    .ClosePort = &SocketClosePort,
    .GetPrinterDataFromPort = &SocketGetPrinterDataFromPort,
    .SetPortTimeOuts = &SocketSetPortTimeOuts,
};

}  // namespace

SocketPortMonitor::SocketPortMonitor(SocketTarget target)
    : target_(std::move(target)), table_(kSocketOperations, this) {}

const char* SocketPortLastMessage() { return t_lastMessage.c_str(); }

}  // namespace langmon::net

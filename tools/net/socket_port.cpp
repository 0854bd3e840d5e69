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
#include <map>
#include <memory>
#include <mutex>

namespace langmon::net {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kPortMagic = 0x534F434B;  // "SOCK"

thread_local std::string t_lastMessage;

std::mutex g_targetMutex;
std::map<std::string, SocketTarget> g_targets;

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

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
      return kErrorConnectionRefused;
    case ETIMEDOUT:
      return kErrorTimeout;
    case ENETUNREACH:
    case ENETDOWN:
      return kErrorNetworkUnreachable;
    case EHOSTUNREACH:
    case EHOSTDOWN:
      return kErrorHostUnreachable;
    case ECONNRESET:
      return kErrorNetnameDeleted;
    case EPIPE:
      return kErrorBrokenPipe;
    case ECONNABORTED:
      return kErrorConnectionAborted;
    case ENOMEM:
    case ENOBUFS:
      return kErrorNotEnoughMemory;
    default:
      return kErrorGenFailure;
  }
}

SocketPort* PortOf(HANDLE handle) {
  auto* port = static_cast<SocketPort*>(handle);
  if (port == nullptr || port->magic != kPortMagic) {
    Fail(kErrorInvalidHandle, "not a socket port handle");
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

BOOL Connect(SocketPort& port) {
  if (port.fd >= 0) return TRUE;
  if (port.lost) {
    // Reconnecting in the middle of a document would hand the printer the
    // rest of a job as if it were a new one.
    return Fail(kErrorConnectionAborted,
                "connection to " + Where(port) + " was lost earlier in this document");
  }
  if (port.target.host.empty()) {
    return Fail(kErrorBadNetName, "no socket target bound to port " + port.name);
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port.target.port);
  const int rc = ::getaddrinfo(port.target.host.c_str(), service.c_str(), &hints, &found);
  if (rc != 0) {
    return Fail(kErrorBadNetName, "cannot resolve " + port.target.host + ": " + ::gai_strerror(rc));
  }
  std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> list(found, &::freeaddrinfo);
  const auto deadline = Clock::now() + std::chrono::milliseconds(port.target.connectTimeoutMs);
  int lastError = ETIMEDOUT;
  for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
    const int fd =
        ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) {
      lastError = errno;
      continue;
    }
    int error = 0;
    if (::connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
      error = errno;
      if (error == EINPROGRESS) {
        pollfd p{fd, POLLOUT, 0};
        int ready;
        do {
          ready = ::poll(&p, 1, Remaining(deadline));
        } while (ready < 0 && errno == EINTR);
        socklen_t len = sizeof error;
        if (ready == 0) {
          error = ETIMEDOUT;
        } else if (ready < 0 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0) {
          error = errno;
        }
      }
    }
    if (error == 0) {
      const int one = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      port.fd = fd;
      return TRUE;
    }
    ::close(fd);
    lastError = error;
    if (error == ETIMEDOUT) break;  // the time-out covers all addresses
  }
  const std::string reason =
      lastError == ETIMEDOUT
          ? "no answer within " + std::to_string(port.target.connectTimeoutMs) + " ms"
          : std::string(std::strerror(lastError));
  return Fail(MapErrno(lastError), "cannot connect to " + Where(port) + ": " + reason);
}

BOOL WINAPI SocketOpenPort(LPWSTR name, PHANDLE handle) {
  if (handle == nullptr) return Fail(kErrorInvalidParameter, "no handle to fill");
  try {
    auto port = std::make_unique<SocketPort>();
    port->name = Narrow(name);
    {
      std::lock_guard<std::mutex> guard(g_targetMutex);
      auto found = g_targets.find(Lower(port->name));
      if (found == g_targets.end()) found = g_targets.find("");
      if (found == g_targets.end()) {
        return Fail(kErrorBadNetName, "no socket target bound to port " + port->name);
      }
      port->target = found->second;
    }
    *handle = port.release();
    t_lastMessage.clear();
    return TRUE;
  } catch (...) {
    return Fail(kErrorNotEnoughMemory, "out of memory opening a socket port");
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
  if (buffer == nullptr && size != 0) return Fail(kErrorInvalidParameter, "no data buffer");
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
        return Fail(kErrorTimeout, "printer at " + Where(*port) + " accepted no data within " +
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
  if (buffer == nullptr && size != 0) return Fail(kErrorInvalidParameter, "no data buffer");
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
    return Broken(*port, kErrorGracefulDisconnect,
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
  return Fail(kErrorNotSupported, "a raw TCP port has no device ID or port data");
}

BOOL WINAPI SocketSetPortTimeOuts(HANDLE handle, LPCOMMTIMEOUTS timeouts, DWORD) {
  SocketPort* port = PortOf(handle);
  if (port == nullptr) return FALSE;
  if (timeouts == nullptr) return Fail(kErrorInvalidParameter, "no time-outs given");
  std::lock_guard<std::mutex> guard(port->mutex);
  port->timeouts = *timeouts;
  return TRUE;
}

}  // namespace

bool ParseSocketUri(const std::string& uri, SocketTarget& target, std::string& error) {
  static const std::string kScheme = "socket://";
  if (Lower(uri.substr(0, kScheme.size())) != kScheme) {
    error = "\"" + uri + "\" does not start with socket://";
    return false;
  }
  std::string rest = uri.substr(kScheme.size());
  if (!rest.empty() && rest.back() == '/') rest.pop_back();
  std::string host;
  std::string port;
  bool hasPort = false;
  if (!rest.empty() && rest[0] == '[') {
    const auto close = rest.find(']');
    if (close == std::string::npos) {
      error = "\"" + uri + "\": unclosed [ in the host";
      return false;
    }
    host = rest.substr(1, close - 1);
    const std::string after = rest.substr(close + 1);
    if (!after.empty()) {
      if (after[0] != ':') {
        error = "\"" + uri + "\": junk after the host";
        return false;
      }
      port = after.substr(1);
      hasPort = true;
    }
  } else {
    const auto colon = rest.find(':');
    host = rest.substr(0, colon);
    if (colon != std::string::npos) {
      port = rest.substr(colon + 1);
      hasPort = true;
    }
  }
  if (host.empty() || host.find_first_of("/?#@ ") != std::string::npos) {
    error = "\"" + uri + "\": no host name";
    return false;
  }
  unsigned number = kDefaultSocketPort;
  if (hasPort) {
    if (port.empty() || port.size() > 5 ||
        port.find_first_not_of("0123456789") != std::string::npos ||
        (number = static_cast<unsigned>(std::stoul(port))) == 0 || number > 65535) {
      error = "\"" + uri + "\": the port must be a number from 1 to 65535";
      return false;
    }
  }
  target.host = host;
  target.port = number;
  return true;
}

void SetSocketTarget(const std::string& portName, const SocketTarget& target) {
  std::lock_guard<std::mutex> guard(g_targetMutex);
  g_targets[Lower(portName)] = target;
}

void ClearSocketTargets() {
  std::lock_guard<std::mutex> guard(g_targetMutex);
  g_targets.clear();
}

MONITOR SocketPortMonitorTable() {
  MONITOR table{};
  table.pfnOpenPort = &SocketOpenPort;
  table.pfnStartDocPort = &SocketStartDocPort;
  table.pfnWritePort = &SocketWritePort;
  table.pfnReadPort = &SocketReadPort;
  table.pfnEndDocPort = &SocketEndDocPort;
  table.pfnClosePort = &SocketClosePort;
  table.pfnGetPrinterDataFromPort = &SocketGetPrinterDataFromPort;
  table.pfnSetPortTimeOuts = &SocketSetPortTimeOuts;
  return table;
}

const char* SocketPortLastMessage() { return t_lastMessage.c_str(); }

}  // namespace langmon::net

#include "socket_port.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "requests/requests.h"
#include "socket_connection.h"

namespace langmon::ports {

using namespace detail;

namespace {
constexpr std::uint32_t kPortMagic = 0x534F434B;  // "SOCK"
}  // namespace

// One open port: its target, its connection and what became of it.
struct SocketPort {
  std::uint32_t magic = kPortMagic;
  std::mutex mutex;
  std::string name;
  SocketTarget target;
  SocketPortMonitor* owner = nullptr;
  int fd = -1;
  std::uint64_t sent = 0;  // bytes handed to this connection
  bool inDocument = false;
  // The connection dropped or could not be made (see the header for what
  // ends this); `failure` and `failureCode` say how, `acknowledged` how much
  // of the connection's data the printer had acknowledged by then.
  bool broken = false;
  std::string failure;
  DWORD failureCode = 0;
  std::uint64_t acknowledged = 0;
  bool dropped = false;  // it failed with unread data possibly dropped
  // What the printer had acknowledged the last time the connection was
  // seen whole: a reset empties the send queue, and the count with it.
  std::uint64_t ackedSeen = 0;
  COMMTIMEOUTS timeouts{0, 0, kDefaultReadTimeoutMs, 0, 0};
};

namespace {

// The port's name as the messages show it: the system's ANSI form, as a
// port monitor on Windows would have it ('?' for what it cannot hold).
std::string Narrow(LPCWSTR name) {
  if (name == nullptr || *name == 0) return {};
  const int size = WideCharToMultiByte(CP_ACP, 0, name, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, name, -1, out.data(), size, nullptr, nullptr);
  out.pop_back();  // the terminating NUL
  return out;
}

std::string Where(const SocketPort& port) {
  const bool v6 = port.target.host.find(':') != std::string::npos;
  return (v6 ? "[" + port.target.host + "]" : port.target.host) + ":" +
         std::to_string(port.target.port);
}

SocketPort* PortOf(HANDLE handle) {
  auto* port = static_cast<SocketPort*>(handle);
  if (port == nullptr || port->magic != kPortMagic) {
    Fail(ERROR_INVALID_HANDLE, "not a socket port handle");
    return nullptr;
  }
  return port;
}

bool TimeIsUp(const SocketPort& port) { return Clock::now() >= port.target.deadline; }

// `text` says when, so that no message claims that nothing was sent when
// it was: "the time limit ran out while sending to the printer at ...".
BOOL FailTimeUp(std::string text) { return Fail(ERROR_TIMEOUT, std::move(text)); }

// Closes the connection; `graceful` as DrainAndClose does it, within the
// close time and the deadline.
void Disconnect(SocketPort& port, bool graceful) {
  if (port.fd >= 0 && graceful) {
    DrainAndClose(port.fd, Within(Clock::now(), port.target.closeDrainMs, port.target.deadline));
    port.fd = -1;
  }
  CloseFd(port.fd);
}

// The connection failed: keeps the first failure with what the printer had
// acknowledged, closes the connection, and fails the call with `code`.
BOOL Broken(SocketPort& port, DWORD code, const std::string& message) {
  if (!port.broken) {
    port.broken = true;
    port.failure = message;
    port.failureCode = code;
    port.acknowledged = port.fd < 0 ? 0 : port.ackedSeen;
    port.dropped = port.fd >= 0 && port.sent > 0;
  }
  Disconnect(port, false);
  return Fail(code, message);
}

// A call on a broken port, which may not connect again yet.
BOOL FailBroken(const SocketPort& port) {
  return Fail(ERROR_CONNECTION_ABORTED,
              "no connection to " + Where(port) + ": it failed earlier in this " +
                  (port.inDocument ? "document" : "request") + " (" + port.failure + ")");
}

BOOL Connect(SocketPort& port) {
  const auto now = Clock::now();
  const auto until = Within(now, port.target.connectTimeoutMs, port.target.deadline);
  int error = 0;
  std::string resolveError;
  const int fd = ConnectTo(port.target.host, port.target.port, until, error, resolveError);
  if (fd >= 0) {
    port.fd = fd;
    port.sent = 0;
    port.ackedSeen = 0;
    return TRUE;
  }
  if (!resolveError.empty())
    return Broken(port, ERROR_BAD_NET_NAME,
                  "cannot resolve " + port.target.host + ": " + resolveError);
  std::string reason = std::strerror(error);
  if (error == ETIMEDOUT)
    reason = until == port.target.deadline
                 ? "no answer before the time limit ran out"
                 : "no answer within " + std::to_string(port.target.connectTimeoutMs) + " ms";
  return Broken(port, Win32ErrorFromErrno(error),
                "cannot connect to " + Where(port) + ": " + reason);
}

bool BeginsWithEntryText(const BYTE* data, DWORD size) {
  return size >= kEntryTextLength && std::memcmp(data, kEntryText, kEntryTextLength) == 0;
}

BOOL SendWithin(SocketPort& port, const BYTE* data, DWORD size, DWORD* written);

// Finds or opens the connection a write goes out on, by the rules in the
// header.
BOOL ConnectionFor(SocketPort& port, const BYTE* data, DWORD size) {
  const bool startsRequest = !port.inDocument && BeginsWithEntryText(data, size);
  if (startsRequest) {
    Disconnect(port, true);
    port.broken = false;
  }
  if (port.fd >= 0) return TRUE;
  if (port.broken) return FailBroken(port);
  if (!Connect(port)) return FALSE;
  if (startsRequest || port.inDocument) return TRUE;
  DWORD written = 0;
  return SendWithin(port, reinterpret_cast<const BYTE*>(kEntryText), kEntryTextLength, &written) &&
         written == kEntryTextLength;
}

std::uint64_t WriteLimitMs(const COMMTIMEOUTS& t, DWORD size) {
  const std::uint64_t limit =
      t.WriteTotalTimeoutConstant + std::uint64_t{t.WriteTotalTimeoutMultiplier} * size;
  return limit != 0 ? limit : kDefaultWriteTimeoutMs;
}

// Sends as much as the printer takes within the write time-out (and the
// deadline). What was sent counts; a write that moved nothing fails so that
// the host can say why.
BOOL SendWithin(SocketPort& port, const BYTE* data, DWORD size, DWORD* written) {
  const std::uint64_t limit = WriteLimitMs(port.timeouts, size);
  const auto until = Within(Clock::now(), limit, port.target.deadline);
  DWORD sent = 0;
  while (sent < size) {
    const ssize_t n = ::send(port.fd, data + sent, size - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      sent += static_cast<DWORD>(n);
      port.sent += static_cast<std::uint64_t>(n);
      *written = sent;
      if (port.owner) port.owner->NoteProgress();
      LookAtAcknowledged(port.fd, port.sent, port.ackedSeen);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (PollUntil(port.fd, POLLOUT, until) != 0 || Clock::now() < until) continue;
      if (sent > 0) return TRUE;
      if (until == port.target.deadline)
        return FailTimeUp("the time limit ran out while sending to the printer at " + Where(port));
      return Fail(ERROR_TIMEOUT, "printer at " + Where(port) + " accepted no data within " +
                                     std::to_string(limit) + " ms");
    }
    const int error = n < 0 ? errno : EPIPE;
    return Broken(port, Win32ErrorFromErrno(error),
                  "sending to " + Where(port) + " failed: " + std::strerror(error));
  }
  return TRUE;
}

// Confirms what the connection carried (`what`: "job", "request"): waits
// until the printer has acknowledged every byte and closed or gone quiet,
// then closes it; `delivery` says how far it got.
BOOL ConfirmConnection(SocketPort& port, const char* what, DocumentDelivery& delivery) {
  delivery = {true, port.sent, port.sent, true, false};
  if (port.broken) {
    delivery = {true, port.sent, port.acknowledged, false, port.dropped};
    return Fail(port.failureCode, port.failure);
  }
  if (port.fd < 0) return TRUE;
  const DWORD stall = port.timeouts.WriteTotalTimeoutConstant
                          ? port.timeouts.WriteTotalTimeoutConstant
                          : kDefaultWriteTimeoutMs;
  SocketPortMonitor* owner = port.owner;
  const DeliveryOutcome outcome =
      ConfirmDelivery(port.fd, port.sent, port.ackedSeen,
                      {stall, port.target.closeDrainMs, port.target.deadline, [owner] {
                         if (owner) owner->NoteProgress();
                       }});
  delivery.acknowledged = outcome.acknowledged;
  delivery.confirmed = outcome.result == Delivery::Confirmed;
  delivery.dropped = outcome.result == Delivery::Failed;
  Disconnect(port, false);  // the wait has drained it already
  const std::string printer = "printer at " + Where(port);
  switch (outcome.result) {
    case Delivery::Confirmed:
      return TRUE;
    case Delivery::Failed:
      return Fail(Win32ErrorFromErrno(outcome.error), printer + " did not take the whole " + what +
                                                          ": " + std::strerror(outcome.error));
    case Delivery::Stalled:
      return Fail(ERROR_TIMEOUT, printer + " took no more of the " + what + " for " +
                                     std::to_string(stall) + " ms");
    case Delivery::TimeUp:
      break;
  }
  return FailTimeUp("the time limit ran out while waiting for the whole " + std::string(what) +
                    " to reach the " + printer);
}

// The end of a document: confirms the delivery on the document's connection
// and records what the printer took.
BOOL EndDocument(SocketPort& port) {
  DocumentDelivery delivery;
  const BOOL ok = ConfirmConnection(port, "job", delivery);
  if (port.owner) port.owner->RecordDocument(delivery);
  return ok;
}

BOOL SocketOpenPort(void* context, LPWSTR name, PHANDLE handle) {
  if (handle == nullptr) return Fail(ERROR_INVALID_PARAMETER, "no handle to fill");
  try {
    auto* owner = static_cast<SocketPortMonitor*>(context);
    auto port = std::make_unique<SocketPort>();
    port->name = Narrow(name);
    port->target = owner->Target();
    port->owner = owner;
    if (port->target.host.empty())
      return Fail(ERROR_BAD_NET_NAME, "no printer host for port " + port->name);
    owner->AddPort(port.get());
    *handle = port.release();
    ClearLastMessage();
    return TRUE;
  } catch (...) {
    return Fail(ERROR_NOT_ENOUGH_MEMORY, "out of memory opening a socket port");
  }
}

// A document starts afresh on a connection of its own.
BOOL WINAPI SocketStartDocPort(HANDLE handle, LPWSTR, DWORD, DWORD, LPBYTE) {
  SocketPort* port = PortOf(handle);
  if (port == nullptr) return FALSE;
  std::lock_guard<std::mutex> guard(port->mutex);
  Disconnect(*port, true);
  port->inDocument = true;
  port->broken = false;
  return TRUE;
}

BOOL WINAPI SocketEndDocPort(HANDLE handle) {
  SocketPort* port = PortOf(handle);
  if (port == nullptr) return FALSE;
  std::lock_guard<std::mutex> guard(port->mutex);
  const BOOL ok = port->inDocument ? EndDocument(*port) : TRUE;
  const DWORD error = GetLastError();
  Disconnect(*port, true);
  port->inDocument = false;
  port->broken = false;
  SetLastError(error);
  return ok;
}

BOOL WINAPI SocketClosePort(HANDLE handle) {
  SocketPort* port = PortOf(handle);
  if (port == nullptr) return FALSE;
  if (port->owner) port->owner->RemovePort(port);
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
  if (TimeIsUp(*port))
    return FailTimeUp("the time limit had run out; nothing more was sent to the printer at " +
                      Where(*port));
  if (!ConnectionFor(*port, buffer, size)) return FALSE;
  DWORD sent = 0;
  const BOOL ok = SendWithin(*port, buffer, size, &sent);
  if (written) *written = sent;
  return ok;
}

std::uint64_t ReadWaitMs(const COMMTIMEOUTS& t, DWORD size) {
  // A MAXDWORD interval with zero totals returns at once with what is there.
  if (t.ReadIntervalTimeout == 0xFFFFFFFFu && t.ReadTotalTimeoutConstant == 0 &&
      t.ReadTotalTimeoutMultiplier == 0)
    return 0;
  return t.ReadTotalTimeoutConstant + std::uint64_t{t.ReadTotalTimeoutMultiplier} * size;
}

// Receives what the printer sent, waiting for the first byte until `until`.
BOOL Receive(SocketPort& port, LPBYTE buffer, DWORD size, LPDWORD read, Clock::time_point until) {
  const int ready = PollUntil(port.fd, POLLIN, until);
  if (ready < 0) {
    const int error = errno;
    return Broken(port, Win32ErrorFromErrno(error),
                  std::string("waiting for data failed: ") + std::strerror(error));
  }
  if (ready == 0 || size == 0) return TRUE;  // nothing within the read time-out
  ssize_t n;
  do {
    n = ::recv(port.fd, buffer, size, MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  if (n > 0) {
    if (read) *read = static_cast<DWORD>(n);
    return TRUE;
  }
  if (n == 0)
    return Broken(port, ERROR_GRACEFUL_DISCONNECT,
                  "printer at " + Where(port) + " closed the connection");
  if (errno == EAGAIN || errno == EWOULDBLOCK) return TRUE;
  const int error = errno;
  return Broken(port, Win32ErrorFromErrno(error),
                "receiving from " + Where(port) + " failed: " + std::strerror(error));
}

BOOL WINAPI SocketReadPort(HANDLE handle, LPBYTE buffer, DWORD size, LPDWORD read) {
  if (read) *read = 0;
  SocketPort* port = PortOf(handle);
  if (port == nullptr) return FALSE;
  if (buffer == nullptr && size != 0) return Fail(ERROR_INVALID_PARAMETER, "no data buffer");
  std::lock_guard<std::mutex> guard(port->mutex);
  if (TimeIsUp(*port))
    return FailTimeUp("the time limit ran out before the printer at " + Where(*port) + " answered");
  const auto until = Within(Clock::now(), ReadWaitMs(port->timeouts, size), port->target.deadline);
  if (port->fd >= 0) return Receive(*port, buffer, size, read, until);
  // Without a connection nothing can arrive; the read still takes its time
  // so that a caller polling for a reply waits instead of spinning.
  std::this_thread::sleep_until(until);
  return port->broken ? FailBroken(*port) : TRUE;
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

DocumentDelivery SocketPortMonitor::LastDocument() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return lastDocument_;
}

void SocketPortMonitor::RecordDocument(const DocumentDelivery& delivery) {
  std::lock_guard<std::mutex> guard(mutex_);
  lastDocument_ = delivery;
}

std::chrono::steady_clock::time_point SocketPortMonitor::LastProgress() const {
  return std::chrono::steady_clock::time_point(
      std::chrono::steady_clock::duration(lastProgress_.load()));
}

void SocketPortMonitor::NoteProgress() {
  lastProgress_.store(std::chrono::steady_clock::now().time_since_epoch().count());
}

void SocketPortMonitor::AddPort(SocketPort* port) {
  std::lock_guard<std::mutex> guard(mutex_);
  ports_.push_back(port);
}

void SocketPortMonitor::RemovePort(SocketPort* port) {
  std::lock_guard<std::mutex> guard(mutex_);
  std::erase(ports_, port);
}

bool SocketPortMonitor::ConfirmRequest(std::string& error) {
  std::vector<SocketPort*> ports;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    ports = ports_;
  }
  bool confirmed = true;
  for (SocketPort* port : ports) {
    std::lock_guard<std::mutex> guard(port->mutex);
    if (port->inDocument) continue;
    DocumentDelivery delivery;
    if (!ConfirmConnection(*port, "request", delivery) && confirmed) {
      error = LastMessage();
      confirmed = false;
    }
    port->broken = false;  // the next request starts afresh
  }
  return confirmed;
}

}  // namespace langmon::ports

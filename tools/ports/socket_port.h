// A port monitor for raw TCP printers (AppSocket, socket://HOST[:PORT]).
//
// The spooler stand-in hands this table to the monitor's OpenPortEx with the
// printer's port name ("LPT1:"), so the network target cannot travel in the
// name: each SocketPortMonitor serves the one target it was made for, and
// its table's OpenPort binds a new port to that target whatever the port
// name. OpenPort only records the target. Only writes open connections, and
// only by these rules, because the port monitor sees no request boundaries,
// only writes and reads, while to a printer every connection is a new job:
//
// - Inside a document (StartDocPort to EndDocPort) the first write opens
//   the document's connection.
// - Outside a document a write that begins with the monitor's entry text
//   (UEL "@PJL", requests/requests.h) starts a request: it always goes out
//   on a fresh connection, the one before closed. Any other write uses the
//   open connection; with none, it opens one and the entry text goes out
//   first, so that no PJL line reaches a printer on a connection that did
//   not start with it (the test page line is written without it).
// - Once a connection drops or cannot be made, every later write fails at
//   once, and every read after its read time-out (so that a polling caller
//   does not spin), until the port starts afresh: StartDocPort, EndDocPort,
//   or outside a document a write that begins with the entry text. Nothing
//   of a document or a request is ever sent on a second connection.
//
// EndDocPort confirms delivery: it shuts our side and waits until the
// printer's TCP has acknowledged every byte of the document and the printer
// closes (or stays quiet for closeDrainMs), failing on a reset, on no
// progress for the write time-out, or at the deadline. LastDocument() says
// how much of the last document the printer acknowledged. A request has no
// end the port monitor sees, so the host asks for the same confirmation of
// the request's connection with ConfirmRequest() once the request returns.
//
// No wait (connect, read, write, delivery, close) goes past the target's
// deadline; after it every call fails at once with ERROR_TIMEOUT.
//
// Every failure sets the thread's last error to a Win32 code and leaves a
// human-readable message for LastMessage() (plumbing.h).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "plumbing.h"
#include "port_monitor_table.h"

namespace langmon::ports {

// Where the printer is, as a socket:// device URI gives it
// (tools/host/device_uri.h reads the URI), and the port's time bounds.
struct SocketTarget {
  std::string host;  // name or address
  unsigned port = 0;
  DWORD connectTimeoutMs = 10000;
  // How long a close, or the end of a document once the printer has taken
  // everything, waits for the printer to close its side.
  DWORD closeDrainMs = 2000;
  // The end of the whole run: no wait goes past it.
  std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
};

// What became of the last document that ended on a port of this monitor.
struct DocumentDelivery {
  bool ended = false;              // a document has ended
  std::uint64_t sent = 0;          // bytes handed to its connection
  std::uint64_t acknowledged = 0;  // of those, acknowledged by the printer
  bool confirmed = false;          // all acknowledged, no failure on the way
  // The connection failed (a reset, say): the printer drops what it had not
  // read, so what it acknowledged is not known to have reached it.
  bool dropped = false;
};

struct SocketPort;

class SocketPortMonitor {
 public:
  explicit SocketPortMonitor(SocketTarget target);

  // The port-monitor table: OpenPort, StartDocPort, WritePort, ReadPort,
  // EndDocPort, ClosePort, GetPrinterDataFromPort (always fails:
  // ERROR_NOT_SUPPORTED, raw TCP has no device ID) and SetPortTimeOuts.
  const MONITOR& Table() const { return table_.Table(); }
  MONITOR* ForOpenPortEx() { return table_.ForOpenPortEx(); }
  const SocketTarget& Target() const { return target_; }

  DocumentDelivery LastDocument() const;
  // When a port of this monitor last saw the printer take data (a send that
  // moved bytes, bytes newly acknowledged at the end of a document); the
  // epoch before any. Safe from any thread.
  std::chrono::steady_clock::time_point LastProgress() const;

  // Confirms the connection of the request just made on each open port
  // (outside a document), as EndDocPort confirms a document's, and closes
  // it: true when the printer acknowledged every byte and closed or went
  // quiet, or when no connection is open. False with `error` saying what
  // failed: the request's connection, the printer (a reset, no progress for
  // the write time-out) or the time limit. The next request connects afresh.
  bool ConfirmRequest(std::string& error);

  // Internal, for the entry points.
  void RecordDocument(const DocumentDelivery& delivery);
  void AddPort(SocketPort* port);
  void NoteProgress();
  void RemovePort(SocketPort* port);

 private:
  SocketTarget target_;
  mutable std::mutex mutex_;
  DocumentDelivery lastDocument_;
  std::vector<SocketPort*> ports_;  // open ports, guarded by mutex_
  std::atomic<std::chrono::steady_clock::rep> lastProgress_{0};
  portmonitor::PortMonitorTable table_;  // last: its OpenPort may run once it is made
};

// Read time-out of a port whose SetPortTimeOuts was never called, and the
// write time-out used when the port's write time-outs are both 0 (also the
// longest the end of a document waits without progress).
constexpr DWORD kDefaultReadTimeoutMs = 10;
constexpr DWORD kDefaultWriteTimeoutMs = 60000;

}  // namespace langmon::ports

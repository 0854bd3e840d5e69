// A port monitor for raw TCP printers (AppSocket, socket://HOST[:PORT]).
//
// The spooler stand-in hands this table to the monitor's OpenPortEx with the
// printer's port name ("LPT1:"), so the network target cannot travel in the
// name: each SocketPortMonitor serves the one target it was made for, and
// its table's OpenPort binds a new port to that target whatever the port
// name. OpenPort only records the target; the connection is opened on
// the first WritePort or ReadPort after OpenPort or StartDocPort, and closed
// at EndDocPort and ClosePort. Between documents the monitor writes its own
// PJL requests without StartDocPort; they open a connection of their own.
//
// Every failure sets the thread's last error to a Win32 code and leaves a
// human-readable message for SocketPortLastMessage().
#pragma once

#include <string>

#include "platform/platform.h"
#include "port_monitor_table.h"

namespace langmon::net {

// Where the printer is: its host and TCP port as a socket:// device URI
// gives them (tools/host/device_uri.h reads the URI).
struct SocketTarget {
  std::string host;  // name or address
  unsigned port = 0;
  DWORD connectTimeoutMs = 10000;
  // How long closing a connection waits for the printer to close its side.
  DWORD closeDrainMs = 2000;
};

class SocketPortMonitor {
 public:
  explicit SocketPortMonitor(SocketTarget target);

  // The port-monitor table: OpenPort, StartDocPort, WritePort, ReadPort,
  // EndDocPort, ClosePort, GetPrinterDataFromPort (always fails:
  // ERROR_NOT_SUPPORTED, raw TCP has no device ID) and SetPortTimeOuts.
  const MONITOR& Table() const { return table_.Table(); }
  MONITOR* ForOpenPortEx() { return table_.ForOpenPortEx(); }
  const SocketTarget& Target() const { return target_; }

 private:
  SocketTarget target_;
  portmonitor::PortMonitorTable table_;
};

// Read time-out of a port whose SetPortTimeOuts was never called, and the
// write time-out used when the port's write time-outs are both 0.
constexpr DWORD kDefaultReadTimeoutMs = 10;
constexpr DWORD kDefaultWriteTimeoutMs = 60000;

// The message of the last failure on the calling thread ("" when none).
const char* SocketPortLastMessage();

}  // namespace langmon::net

// Port monitors for ports this machine reaches directly:
//
// - a character device with a back channel (parallel:/dev/lp0,
//   usb:/dev/usb/lp0): opened read-write, writes wait for the device with a
//   time limit, reads wait for data as the COMMTIMEOUTS read time-outs say;
// - a file (file:PATH): created (or truncated) when the port opens, written
//   to, and never read from, as a FILE: port: a read succeeds with 0 bytes.
//
// The port name handed to OpenPort is the spooler's (LPT1:, FILE: ...), not
// the device: each LocalPortMonitor serves the one target it was made for,
// and its table's OpenPort opens that target whatever the port name. Every
// port keeps its own descriptor and time-outs. A failure leaves its message
// for LastMessage() (plumbing.h), e.g. "open /dev/lp0: No such file or
// directory".
#pragma once

#include <chrono>
#include <string>

#include "platform/platform.h"
#include "plumbing.h"
#include "port_monitor_table.h"

namespace langmon::ports {

enum class LocalPortKind { Parallel, Usb, File };

struct LocalPortTarget {
  LocalPortKind kind = LocalPortKind::Parallel;
  std::string path;
  // The end of the whole run: no read or write waits past it, and every
  // read or write after it fails at once with ERROR_TIMEOUT.
  std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
};

// How long a write may wait for the device when the port's write time-outs
// are 0 ("no limit" for a serial port, but a command must not hang forever).
constexpr DWORD kDefaultWriteLimitMs = 30000;
// Read time-outs of a port before anyone sets them.
constexpr COMMTIMEOUTS kDefaultReadTimeouts = {0, 0, 1000, 0, 0};

class LocalPortMonitor {
 public:
  explicit LocalPortMonitor(LocalPortTarget target);

  // The port-monitor table: OpenPort, StartDocPort, WritePort, ReadPort,
  // EndDocPort, ClosePort, SetPortTimeOuts and GetPrinterDataFromPort (which
  // returns the IEEE 1284 device ID of a USB printer-class device and fails
  // with ERROR_NOT_SUPPORTED elsewhere). The other slots are null.
  const MONITOR& Table() const { return table_.Table(); }
  MONITOR* ForOpenPortEx() { return table_.ForOpenPortEx(); }
  const LocalPortTarget& Target() const { return target_; }

 private:
  LocalPortTarget target_;
  portmonitor::PortMonitorTable table_;
};

}  // namespace langmon::ports

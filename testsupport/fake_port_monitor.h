// A port monitor for tests: a MONITOR table whose operations record every
// call, hand back scripted read data and can be told to fail or write short.
//
// Each FakePortMonitor has its own table (made with PortMonitorTable, so its
// OpenPort reaches this object), and tests may null out or replace slots of
// it. Each FakePort (one per opened port) is reached through the port
// monitor handle that OpenPort returns.
#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "port_monitor_table.h"

namespace langmon::testing {

using WString = std::basic_string<WCHAR>;

struct FakeCall {
  std::string op;    // "OpenPort", "StartDocPort", "WritePort", ...
  WString name;      // port name (OpenPort) or printer name (StartDocPort)
  DWORD number = 0;  // job id, byte count, control id, ...
  std::string data;  // bytes written
};

class FakePortMonitor {
 public:
  FakePortMonitor();
  FakePortMonitor(const FakePortMonitor&) = delete;
  FakePortMonitor& operator=(const FakePortMonitor&) = delete;

  // The table handed to OpenPortEx. Tests may clear slots before use.
  MONITOR table;

  // Knobs (set before the call they affect).
  bool failOpenPort = false;
  bool failStartDocPort = false;
  bool failWritePort = false;
  bool failReadPort = false;
  DWORD failError = ERROR_GEN_FAILURE;  // last error set by a failing call
  DWORD shortWriteBy = 0;               // report this many bytes fewer than asked (never below 0)
  DWORD overReportReadBy = 0;  // a faulty port monitor: report this many bytes more than read
  bool recordCalls = true;     // off for soak tests that make millions of calls

  // Data the port delivers to ReadPort, one chunk per read (a chunk larger
  // than the read's buffer is split). An empty queue reads 0 bytes.
  void QueueRead(const std::string& bytes);
  // Answers from GetPrinterDataFromPort: the bytes copied to the out buffer.
  std::string printerData = "MFG:Fake;MDL:Port;";
  bool failGetPrinterData = false;

  // Everything recorded so far, in call order, and helpers over it.
  std::vector<FakeCall> Calls() const;
  std::vector<std::string> Ops() const;
  std::string Written() const;  // all bytes written, concatenated
  COMMTIMEOUTS lastTimeouts{};
  DWORD lastTimeoutsReserved = 0xFFFFFFFF;  // SetPortTimeOuts' reserved argument, as passed
  void ClearCalls();

  // Used by the C entry points.
  void Record(FakeCall call);
  mutable std::mutex mutex;
  std::deque<std::string> reads;

 private:
  std::vector<FakeCall> calls_;
  portmonitor::PortMonitorTable bound_;
};

}  // namespace langmon::testing

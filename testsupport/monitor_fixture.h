// Test set-up shared by the suites: a recording stand-in for the spooler
// client calls and a virtual tick counter, both installed through the seams.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "fake_port_monitor.h"
#include "monitor/monitor.h"

namespace langmon::testing {

struct SpoolerCall {
  std::string op;  // "OpenPrinter", "SetJob", "ClosePrinter"
  WString printer;
  HANDLE handle = nullptr;
  DWORD jobId = 0;
  DWORD command = 0;
};

// Installs recording spooler calls and, when asked, a virtual clock into
// g_Seams for the life of the object; restores the real ones afterwards.
class SeamScope {
 public:
  explicit SeamScope(bool virtualClock = false);
  ~SeamScope();
  SeamScope(const SeamScope&) = delete;
  SeamScope& operator=(const SeamScope&) = delete;

  std::vector<SpoolerCall> Calls() const;
  void ClearCalls();
  // Handles handed out by OpenPrinter and not yet closed.
  long OpenPrinterHandles() const;

  bool failOpenPrinter = false;
  // Virtual clock: every GetTickCount returns now and then adds step.
  std::atomic<DWORD> now{0};
  std::atomic<DWORD> step{1};

  void Record(SpoolerCall call);
  mutable std::mutex mutex;
  long openHandles = 0;
  std::uintptr_t nextHandle = 0x1000;

 private:
  std::vector<SpoolerCall> calls_;
};

// Makes sure the monitor lock is usable; every test that opens ports calls it.
void EnsureMonitorInitialised();

// Opens a port through the monitor's own table; null on failure.
HANDLE OpenMonitorPort(FakePortMonitor& fake, const WString& port, const WString& printer);

// Number of entries in the port table.
std::size_t PortTableSize();

}  // namespace langmon::testing

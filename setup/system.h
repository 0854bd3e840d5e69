// What the commands ask of Windows where a test must stand in for it,
// because Wine behaves otherwise: the spooler's list of monitors (Wine lists
// language monitors, Windows does not) and the Print Spooler service (Wine
// runs the spooler inside each program, so its Spooler service loads
// nothing). The commands take the table; langmon-setup.exe passes
// kWindowsSystem and has no other, and the tests build their own program
// with a table that behaves as Windows does (tests/setup).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "report.h"
#include "spooler.h"

namespace setup {

struct ServiceState {
  bool running = false;  // SERVICE_RUNNING; anything else counts as not running
  DWORD processId = 0;   // the service's process while it runs
};

struct System {
  // The spooler's list of monitors (EnumMonitorsW, level 2).
  bool (*listMonitors)(std::vector<InstalledMonitor>& monitors, Win32Failure& failure);
  // The Print Spooler service: its state, and stopping and starting it, each
  // returning once the service has got there (or failed, or timed out).
  bool (*querySpooler)(ServiceState& state, Win32Failure& failure);
  bool (*stopSpooler)(Win32Failure& failure);
  bool (*startSpooler)(Win32Failure& failure);
};

// EnumMonitorsW and the service control manager's "Spooler" service.
extern const System kWindowsSystem;

// Whether process `processId` has the module `path` loaded (letter case
// ignored), from a toolhelp snapshot of its modules.
bool ProcessHasLoaded(DWORD processId, const std::wstring& path, bool& loaded,
                      Win32Failure& failure);

}  // namespace setup

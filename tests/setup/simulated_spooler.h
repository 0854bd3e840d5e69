// A Print Spooler service for tests, where Wine's Spooler service loads no
// monitor (Wine runs the spooler inside each program). The "service" is a
// process of setup_test_helper.exe that loads the monitor's DLL as the
// spooler does and holds it loaded, so that Windows' rules for a loaded DLL
// (no overwriting, no deleting, renaming allowed; Wine keeps them too)
// apply to the files langmon-setup changes.
//
// Its state lives in a folder named by LANGMON_TEST_SPOOLER (a Windows
// path), which the test fills:
//   monitor      the monitor's name, whose registration names the DLL
//   pid          written here: the process while the service runs
//   cannot-stop  when present, stopping fails as for a service that accepts
//                no stop (ERROR_SERVICE_CANNOT_ACCEPT_CTRL)
// Without LANGMON_TEST_SPOOLER the service does not run and cannot start.
#pragma once

#include <windows.h>

#include "report.h"
#include "system.h"

namespace setup_test {

bool QuerySimulatedSpooler(setup::ServiceState& state, setup::Win32Failure& failure);
bool StopSimulatedSpooler(setup::Win32Failure& failure);
bool StartSimulatedSpooler(setup::Win32Failure& failure);

// EnumMonitorsW as Windows answers it: port monitors only. A fresh Wine
// prefix has one, "Local Port" in localspl.dll; every other monitor the
// tests add is a language monitor, which Windows does not list.
bool ListPortMonitorsOnly(std::vector<setup::InstalledMonitor>& monitors,
                          setup::Win32Failure& failure);

// The spooler's table as Windows behaves, for the tests' langmon-setup.
extern const setup::System kAsOnWindows;

}  // namespace setup_test

// The print spooler's monitor calls, for the architecture this program is
// built for: its environment name, the monitors installed, adding and
// deleting one.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "report.h"

namespace setup {

// "Windows x64" for the x86_64 build, "Windows NT x86" for the i686 one:
// the environment a spooler of that architecture loads monitors for.
const wchar_t* SpoolerEnvironment();
// "x86_64" or "i686", as the kits are named.
const wchar_t* KitArchitecture();
// IMAGE_FILE_MACHINE_AMD64 or IMAGE_FILE_MACHINE_I386.
WORD KitMachine();

// True when this 32-bit program runs on 64-bit Windows, whose spooler loads
// only 64-bit monitors.
bool RunsUnderWow64();

struct InstalledMonitor {
  std::wstring name;
  std::wstring environment;
  std::wstring dll;  // file name, in the system folder
};

bool ListMonitors(std::vector<InstalledMonitor>& monitors, Win32Failure& failure);
// The monitor of that name (letter case ignored), if any.
std::optional<InstalledMonitor> FindMonitor(const std::vector<InstalledMonitor>& monitors,
                                            const std::wstring& name);

// AddMonitorW at level 2: the spooler loads the DLL from the system folder
// and takes its table, or refuses.
bool AddLanguageMonitor(const std::wstring& name, const std::wstring& dllFileName,
                        Win32Failure& failure);
bool DeleteLanguageMonitor(const std::wstring& name, Win32Failure& failure);

}  // namespace setup

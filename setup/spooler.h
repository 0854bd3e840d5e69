// The print spooler's monitor calls: the monitors it lists (a cross-check
// only: registration.h says what is installed), adding and deleting one,
// for the environment of architecture.h.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "report.h"

namespace setup {

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

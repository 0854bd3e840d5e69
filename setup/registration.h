// The spooler's own record of its monitors: the key
// HKLM\SYSTEM\CurrentControlSet\Control\Print\Monitors\NAME and its "Driver"
// value, the DLL's file name. AddMonitorW writes it and the spooler loads
// every monitor listed there when it starts, so it, not EnumMonitorsW
// (which Windows documents as listing port monitors and which leaves
// language monitors out), says whether a monitor is installed.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "report.h"

namespace setup {

// The Monitors key below HKEY_LOCAL_MACHINE.
inline constexpr wchar_t kMonitorsKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors";

struct Registration {
  std::wstring name;    // the key's name
  std::wstring driver;  // its Driver value, a file name in the system folder
};

// The registration of monitor `name`; `found` is false when there is no key
// or the key has no Driver value (an installer may leave settings in a key
// before it adds the monitor; the spooler counts such a key as no monitor).
bool ReadRegistration(const std::wstring& name, bool& found, Registration& registration,
                      Win32Failure& failure);

// Every monitor registered, port monitors included.
bool ListRegistrations(std::vector<Registration>& registrations, Win32Failure& failure);

// "HKLM\SYSTEM\...\Monitors\NAME", as messages name it.
std::wstring RegistrationPath(const std::wstring& name);

}  // namespace setup

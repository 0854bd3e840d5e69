#include "spooler.h"

#include <winspool.h>

#include "architecture.h"

namespace setup {

namespace {

// EnumMonitorsW is asked for the size first; a monitor added between the
// two calls makes it ask again, a few times at most.
constexpr int kEnumAttempts = 4;

}  // namespace

bool ListMonitors(std::vector<InstalledMonitor>& monitors, Win32Failure& failure) {
  monitors.clear();
  DWORD needed = 0, count = 0;
  std::vector<BYTE> buffer;
  for (int attempt = 0; attempt < kEnumAttempts; ++attempt) {
    if (EnumMonitorsW(nullptr, 2, buffer.empty() ? nullptr : buffer.data(),
                      static_cast<DWORD>(buffer.size()), &needed, &count)) {
      const MONITOR_INFO_2W* info = reinterpret_cast<const MONITOR_INFO_2W*>(buffer.data());
      for (DWORD i = 0; i < count; ++i)
        monitors.push_back({info[i].pName ? info[i].pName : L"",
                            info[i].pEnvironment ? info[i].pEnvironment : L"",
                            info[i].pDLLName ? info[i].pDLLName : L""});
      return true;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) break;
    buffer.assign(needed, 0);
  }
  return Fail(failure, L"EnumMonitorsW");
}

std::optional<InstalledMonitor> FindMonitor(const std::vector<InstalledMonitor>& monitors,
                                            const std::wstring& name) {
  for (const InstalledMonitor& m : monitors)
    if (lstrcmpiW(m.name.c_str(), name.c_str()) == 0) return m;
  return std::nullopt;
}

bool AddLanguageMonitor(const std::wstring& name, const std::wstring& dllFileName,
                        Win32Failure& failure) {
  std::wstring nameCopy = name, environment = SpoolerEnvironment(), dll = dllFileName;
  MONITOR_INFO_2W info{};
  info.pName = nameCopy.data();
  info.pEnvironment = environment.data();
  info.pDLLName = dll.data();
  if (!AddMonitorW(nullptr, 2, reinterpret_cast<LPBYTE>(&info)))
    return Fail(failure, L"AddMonitorW");
  return true;
}

bool DeleteLanguageMonitor(const std::wstring& name, Win32Failure& failure) {
  std::wstring nameCopy = name, environment = SpoolerEnvironment();
  if (!DeleteMonitorW(nullptr, environment.data(), nameCopy.data()))
    return Fail(failure, L"DeleteMonitorW");
  return true;
}

}  // namespace setup

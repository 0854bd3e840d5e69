#include "bench_support.h"

#include "monitor_fixture.h"

namespace langmon::bench {

namespace {

std::basic_string<WCHAR> Widen(const char* text) {
  std::basic_string<WCHAR> wide;
  for (; *text; ++text) wide.push_back(static_cast<WCHAR>(*text));
  return wide;
}

}  // namespace

HANDLE OpenPort(MONITOR& portMonitor, const char* port, const char* printer) {
  testing::EnsureMonitorInitialised();
  auto portName = Widen(port), printerName = Widen(printer);
  HANDLE handle = nullptr;
  if (!MonitorTable()->Monitor.pfnOpenPortEx(portName.data(), printerName.data(), &handle,
                                             &portMonitor))
    return nullptr;
  return handle;
}

void ClosePort(HANDLE port) { MonitorTable()->Monitor.pfnClosePort(port); }

BOOL Request(HANDLE port, const char* valueName, void* out, DWORD cbOut) {
  auto name = Widen(valueName);
  DWORD returned = 0;
  return MonitorTable()->Monitor.pfnGetPrinterDataFromPort(
      port, 0, name.data(), nullptr, 0, static_cast<LPWSTR>(out), cbOut, &returned);
}

bool ReadFullConfig(HANDLE port, ConfigRecord* record) {
  return Request(port, "GetConfigObjects", record, sizeof *record) &&
         record->CfgFlags == 0xDBFFFFu;  // every presence bit of a setting
}

}  // namespace langmon::bench

// Module entry: the two exports and the constant table handed to the spooler.
#include "monitor/monitor.h"
#include "port/port_ops.h"
#include "requests/requests.h"

namespace langmon {

namespace {

constexpr MONITOREX MakeMonitorTable() {
  MONITOREX table = {};
  table.dwMonitorSize = kMonitorSize;
  table.Monitor.pfnOpenPortEx = &OpenPortEx;
  table.Monitor.pfnStartDocPort = &StartDocPort;
  table.Monitor.pfnWritePort = &WritePort;
  table.Monitor.pfnReadPort = &ReadPort;
  table.Monitor.pfnEndDocPort = &EndDocPort;
  table.Monitor.pfnClosePort = &ClosePort;
  table.Monitor.pfnGetPrinterDataFromPort = &GetPrinterDataFromPort;
  return table;
}

constexpr MONITOREX g_monitorTable = MakeMonitorTable();

}  // namespace

const MONITOREX* MonitorTable() { return &g_monitorTable; }

}  // namespace langmon

extern "C" BOOL WINAPI DllEntryPoint(HINSTANCE, DWORD, LPVOID) { return TRUE; }

extern "C" LPMONITOREX WINAPI InitializePrintMonitor(LPWSTR registryRoot) {
  langmon::InitializeMonitorLock();
  if (!registryRoot || registryRoot[0] == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // The spooler only reads the table; the pointer type has no const.
  return const_cast<LPMONITOREX>(langmon::MonitorTable());
}

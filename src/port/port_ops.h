// The language monitor's port operations: each forwards the spooler's call
// to the port monitor through the entry's copy of its table.
#pragma once

#include "monitor/monitor.h"

namespace langmon {

BOOL WINAPI OpenPortEx(LPWSTR portName, LPWSTR printerName, PHANDLE port, LPMONITOR portMonitor);
BOOL WINAPI StartDocPort(HANDLE port, LPWSTR printerName, DWORD jobId, DWORD level,
                           LPBYTE docInfo);
BOOL WINAPI WritePort(HANDLE port, LPBYTE data, DWORD count, LPDWORD written);
BOOL WINAPI ReadPort(HANDLE port, LPBYTE buffer, DWORD size, LPDWORD read);
BOOL WINAPI EndDocPort(HANDLE port);
BOOL WINAPI ClosePort(HANDLE port);

}  // namespace langmon

// The language monitor's port operations: each forwards the spooler's call
// to the port monitor through the entry's copy of its table.
#pragma once

#include "monitor/monitor.h"

namespace langmon {

BOOL WINAPI OpenPortEx(LPWSTR portName, LPWSTR printerName, PHANDLE port, LPMONITOR portMonitor);
BOOL WINAPI StartDocPort(HANDLE port, LPWSTR printerName, DWORD jobId, DWORD level, LPBYTE docInfo);
BOOL WINAPI WritePort(HANDLE port, LPBYTE data, DWORD count, LPDWORD written);
BOOL WINAPI ReadPort(HANDLE port, LPBYTE buffer, DWORD size, LPDWORD read);
BOOL WINAPI EndDocPort(HANDLE port);
BOOL WINAPI ClosePort(HANDLE port);

// How a write of the monitor's own PJL counts as whole. The entry and exit
// texts need the write to succeed and to report every byte; the set block
// and the test page line count only the bytes the write reports, whatever
// it returns.
enum class WriteCheck { ResultAndCount, CountOnly };

// Writes `length` bytes of the monitor's own text with its WritePort (so
// only while PortActive is set) and tells whether the port took them whole:
// the write reported exactly `length` bytes written (0 unless it said) and,
// for ResultAndCount, returned TRUE.
BOOL WriteWhole(PortEntry* entry, const char* text, DWORD length, WriteCheck check);

}  // namespace langmon

#include "port/port_ops.h"

#include <cstring>

namespace langmon {

namespace {

PortEntry* EntryOf(HANDLE port) { return static_cast<PortEntry*>(port); }

// A port monitor need not offer EndDocPort; without one there is nothing to
// end and the call is skipped.
void EndPortMonitorDocument(PortEntry* entry) {
  if (entry->Monitor.pfnEndDocPort) entry->Monitor.pfnEndDocPort(entry->PortMonitorHandle);
}

// Opens the job's printer into the entry; the caller holds the monitor lock.
// A document without a printer name gets no printer handle.
void OpenJobPrinter(PortEntry* entry, LPWSTR printerName) {
  entry->PrinterHandle = nullptr;
  if (printerName) SpoolerOpenPrinter(printerName, &entry->PrinterHandle);
}

}  // namespace

BOOL WINAPI OpenPortEx(LPWSTR portName, LPWSTR printerName, PHANDLE port, LPMONITOR portMonitor) {
  if (!portMonitor || !portMonitor->pfnOpenPort || !portMonitor->pfnStartDocPort ||
      !portMonitor->pfnWritePort || !portMonitor->pfnReadPort || !portMonitor->pfnClosePort) {
    SetLastError(ERROR_INVALID_PRINT_MONITOR);
    return FALSE;
  }
  LockMonitor();
  if (FindPortEntry(FirstPortEntry(), portName)) {
    UnlockMonitor();
    SetLastError(ERROR_BUSY);
    return FALSE;
  }
  PortEntry* entry = NewPortEntry(portName, printerName);
  if (!entry) {
    UnlockMonitor();
    return FALSE;
  }
  if (!portMonitor->pfnOpenPort(portName, &entry->PortMonitorHandle)) {
    // No handle for this entry ever reaches the spooler: take it out again so
    // that the port name is not taken for the life of the process.
    const DWORD error = GetLastError();
    RemovePortEntry(entry);
    UnlockMonitor();
    SetLastError(error);
    return FALSE;
  }
  *port = entry;
  std::memcpy(&entry->Monitor, portMonitor, kMonitorSize);
  UnlockMonitor();
  return TRUE;
}

BOOL WINAPI StartDocPort(HANDLE port, LPWSTR printerName, DWORD jobId, DWORD level,
                         LPBYTE docInfo) {
  PortEntry* entry = EntryOf(port);
  if (SetFlags(entry, InDocument) & InDocument) {
    SetLastError(ERROR_BUSY);
    return FALSE;
  }
  if (ClearFlags(entry, PortActive) & PortActive) EndPortMonitorDocument(entry);

  if (!entry->Monitor.pfnStartDocPort(entry->PortMonitorHandle, printerName, jobId, level,
                                      docInfo)) {
    ClearFlags(entry, InDocument);
    return FALSE;
  }

  // The printer name, printer handle and job id change under the monitor
  // lock, so that requests copying the name and EndDocPort or ClosePort on
  // another thread never see them half replaced.
  LockMonitor();
  const bool sameName =
      entry->PrinterName && printerName && lstrcmpW(entry->PrinterName, printerName) == 0;
  if (!sameName) {
    FreeWideString(entry->PrinterName);
    entry->PrinterName = DuplicateWideString(printerName);
    if (entry->PrinterHandle) SpoolerClosePrinter(entry->PrinterHandle);
    OpenJobPrinter(entry, printerName);
  } else if (!entry->PrinterHandle) {
    OpenJobPrinter(entry, printerName);
  }
  entry->JobId = jobId;
  UnlockMonitor();

  SetFlags(entry, PortActive);
  return TRUE;
}

BOOL WINAPI WritePort(HANDLE port, LPBYTE data, DWORD count, LPDWORD written) {
  PortEntry* entry = EntryOf(port);
  if (LoadFlags(entry) & PortActive)
    return entry->Monitor.pfnWritePort(entry->PortMonitorHandle, data, count, written);
  if (written) *written = 0;
  return FALSE;
}

BOOL WINAPI ReadPort(HANDLE port, LPBYTE buffer, DWORD size, LPDWORD read) {
  PortEntry* entry = EntryOf(port);
  if (LoadFlags(entry) & PortActive)
    return entry->Monitor.pfnReadPort(entry->PortMonitorHandle, buffer, size, read);
  if (read) *read = 0;
  return FALSE;
}

BOOL WINAPI EndDocPort(HANDLE port) {
  PortEntry* entry = EntryOf(port);
  LockMonitor();
  ClearFlags(entry, PortActive);
  EndPortMonitorDocument(entry);
  SpoolerSetJob(entry->PrinterHandle, entry->JobId, JOB_CONTROL_CANCEL);
  if (entry->PrinterHandle) {
    SpoolerClosePrinter(entry->PrinterHandle);
    entry->PrinterHandle = nullptr;
  }
  ClearFlags(entry, InDocument);
  UnlockMonitor();
  return TRUE;
}

BOOL WriteWhole(PortEntry* entry, const char* text, DWORD length, WriteCheck check) {
  DWORD written = 0;
  const BOOL ok =
      WritePort(entry, reinterpret_cast<LPBYTE>(const_cast<char*>(text)), length, &written);
  if (check == WriteCheck::ResultAndCount && !ok) return FALSE;
  return written == length ? TRUE : FALSE;
}

BOOL WINAPI ClosePort(HANDLE port) {
  PortEntry* entry = EntryOf(port);
  entry->Monitor.pfnClosePort(entry->PortMonitorHandle);
  LockMonitor();
  RemovePortEntry(entry);
  UnlockMonitor();
  return TRUE;
}

}  // namespace langmon

// The spooler client calls and the tick counter as plain calls of the Win32
// functions: the variant linked into langmon.dll only. The DLL runs inside
// the spooler service; it keeps no writable pointer to these functions that
// a stray memory write could redirect (tests/dll checks the built DLL).
#include "platform/platform.h"

namespace langmon {

BOOL SpoolerOpenPrinter(LPWSTR name, LPHANDLE printer) {
  return ::OpenPrinterW(name, printer, nullptr);
}

BOOL SpoolerSetJob(HANDLE printer, DWORD jobId, DWORD command) {
  return ::SetJobW(printer, jobId, 0, nullptr, command);
}

BOOL SpoolerClosePrinter(HANDLE printer) { return ::ClosePrinter(printer); }

DWORD TickCount() { return ::GetTickCount(); }

}  // namespace langmon

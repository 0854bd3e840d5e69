// The spooler client calls and the tick counter through the replaceable
// table: the variant in langmon_core, for tests and hosts.
#include "platform/platform.h"

namespace langmon {

SpoolerSeams DefaultSeams() {
  return SpoolerSeams{&::OpenPrinterW, &::SetJobW, &::ClosePrinter, &::GetTickCount};
}

SpoolerSeams g_Seams = DefaultSeams();

BOOL SpoolerOpenPrinter(LPWSTR name, LPHANDLE printer) {
  return g_Seams.OpenPrinter(name, printer, nullptr);
}

BOOL SpoolerSetJob(HANDLE printer, DWORD jobId, DWORD command) {
  return g_Seams.SetJob(printer, jobId, 0, nullptr, command);
}

BOOL SpoolerClosePrinter(HANDLE printer) { return g_Seams.ClosePrinter(printer); }

DWORD TickCount() { return g_Seams.GetTickCount(); }

}  // namespace langmon

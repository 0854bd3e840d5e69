#include "monitor_fixture.h"

namespace langmon::testing {

namespace {

SeamScope* g_scope = nullptr;

BOOL WINAPI RecordingOpenPrinter(LPWSTR name, LPHANDLE printer, LPPRINTER_DEFAULTSW) {
  SeamScope* s = g_scope;
  if (s->failOpenPrinter) {
    if (printer) *printer = nullptr;
    s->Record({"OpenPrinter", name ? WString(name) : WString(), nullptr, 0, 0});
    SetLastError(ERROR_INVALID_PRINTER_NAME);
    return FALSE;
  }
  HANDLE handle;
  {
    std::lock_guard<std::mutex> guard(s->mutex);
    handle = reinterpret_cast<HANDLE>(s->nextHandle++);
    ++s->openHandles;
  }
  *printer = handle;
  s->Record({"OpenPrinter", name ? WString(name) : WString(), handle, 0, 0});
  return TRUE;
}

BOOL WINAPI RecordingSetJob(HANDLE printer, DWORD jobId, DWORD, LPBYTE, DWORD command) {
  g_scope->Record({"SetJob", {}, printer, jobId, command});
  return printer != nullptr;
}

BOOL WINAPI RecordingClosePrinter(HANDLE printer) {
  {
    std::lock_guard<std::mutex> guard(g_scope->mutex);
    --g_scope->openHandles;
  }
  g_scope->Record({"ClosePrinter", {}, printer, 0, 0});
  return TRUE;
}

DWORD WINAPI VirtualTickCount() { return g_scope->now.fetch_add(g_scope->step.load()); }

}  // namespace

SeamScope::SeamScope(bool virtualClock) {
  g_scope = this;
  g_Seams.OpenPrinter = &RecordingOpenPrinter;
  g_Seams.SetJob = &RecordingSetJob;
  g_Seams.ClosePrinter = &RecordingClosePrinter;
  if (virtualClock) g_Seams.GetTickCount = &VirtualTickCount;
}

SeamScope::~SeamScope() {
  g_Seams = DefaultSeams();
  g_scope = nullptr;
}

void SeamScope::Record(SpoolerCall call) {
  std::lock_guard<std::mutex> guard(mutex);
  calls_.push_back(std::move(call));
}

std::vector<SpoolerCall> SeamScope::Calls() const {
  std::lock_guard<std::mutex> guard(mutex);
  return calls_;
}

void SeamScope::ClearCalls() {
  std::lock_guard<std::mutex> guard(mutex);
  calls_.clear();
}

long SeamScope::OpenPrinterHandles() const {
  std::lock_guard<std::mutex> guard(mutex);
  return openHandles;
}

void EnsureMonitorInitialised() {
  WCHAR root[] = LM_W("System\\CurrentControlSet\\Control\\Print\\Monitors\\langmon");
  InitializePrintMonitor(root);
}

HANDLE OpenMonitorPort(FakePortMonitor& fake, const WString& port, const WString& printer) {
  EnsureMonitorInitialised();
  WString portCopy = port, printerCopy = printer;
  HANDLE handle = nullptr;
  if (!MonitorTable()->Monitor.pfnOpenPortEx(portCopy.data(), printerCopy.data(), &handle,
                                             &fake.table))
    return nullptr;
  return handle;
}

std::size_t PortTableSize() {
  // The lock is usable only once the monitor is initialised: on Windows,
  // entering a critical section that was never initialised blocks for ever.
  EnsureMonitorInitialised();
  LockMonitor();
  std::size_t n = 0;
  for (const PortEntry* e = FirstPortEntry(); e; e = e->Next) ++n;
  UnlockMonitor();
  return n;
}

}  // namespace langmon::testing

// The two monitor exports, with the spooler and clock functions reached the
// ways the shipped DLL must not: a writable table filled at compile time
// (SetJobW), a pointer copied from the import slot at load time
// (GetTickCount), and a lookup by name (ClosePrinter).
#include <windows.h>
#include <winspool.h>

extern "C" {
BOOL(WINAPI* g_setJob)(HANDLE, DWORD, DWORD, LPBYTE, DWORD) = &SetJobW;
DWORD(WINAPI* g_tickCount)() = nullptr;
}

extern "C" BOOL WINAPI DllEntryPoint(HINSTANCE, DWORD, LPVOID) {
  g_tickCount = &GetTickCount;
  return TRUE;
}

extern "C" void* WINAPI InitializePrintMonitor(LPWSTR) {
  HMODULE spooler = GetModuleHandleA("winspool.drv");
  if (spooler && GetProcAddress(spooler, "ClosePrinter") == nullptr) ClosePrinter(nullptr);
  OpenPrinterW(nullptr, nullptr, nullptr);
  return g_tickCount ? reinterpret_cast<void*>(g_setJob) : nullptr;
}

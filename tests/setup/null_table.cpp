// A DLL whose InitializePrintMonitor hands the spooler no table.
#include <windows.h>

extern "C" __declspec(dllexport) BOOL WINAPI DllEntryPoint(HINSTANCE, DWORD, LPVOID) {
  return TRUE;
}

extern "C" __declspec(dllexport) void* WINAPI InitializePrintMonitor(LPWSTR) {
  SetLastError(ERROR_INVALID_PARAMETER);
  return nullptr;
}

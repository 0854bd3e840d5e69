// Exports the two monitor entry points and one function too many.
#include <windows.h>

extern "C" __declspec(dllexport) BOOL WINAPI DllEntryPoint(HINSTANCE, DWORD, LPVOID) {
  return TRUE;
}

extern "C" __declspec(dllexport) void* WINAPI InitializePrintMonitor(LPWSTR) { return nullptr; }

extern "C" __declspec(dllexport) int WINAPI ExtraExport() { return 0; }

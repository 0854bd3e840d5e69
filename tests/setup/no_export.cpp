// A DLL that is no language monitor: it has the module entry but no
// InitializePrintMonitor for the spooler to call.
#include <windows.h>

extern "C" __declspec(dllexport) BOOL WINAPI DllEntryPoint(HINSTANCE, DWORD, LPVOID) {
  return TRUE;
}

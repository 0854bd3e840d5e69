// Exports the two monitor entry points but uses the C++ runtime from its DLL.
#include <windows.h>

#include <string>

namespace {
std::string g_name;
}

extern "C" BOOL WINAPI DllEntryPoint(HINSTANCE, DWORD, LPVOID) { return TRUE; }

extern "C" void* WINAPI InitializePrintMonitor(LPWSTR root) {
  g_name.assign(root ? "root" : "");
  return g_name.empty() ? nullptr : &g_name;
}

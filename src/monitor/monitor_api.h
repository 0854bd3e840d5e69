// What a host of the monitor may use: the spooler through the DLL's two
// exports, or the Linux host tools, which drive the same code in-process.
// A host holds the port handles OpenPortEx gives it and never looks inside
// them; what it needs to know about ports it asks here, by name.
#pragma once

#include "platform/platform.h"

namespace langmon {

// The constant table InitializePrintMonitor hands out.
const MONITOREX* MonitorTable();

// TRUE when the monitor serves "GetConfigObjects", "SetConfigObjects" and
// "PrintTestPage" on a port of this name: a parallel port, "LPT1" to "LPT9"
// with or without a colon, in any letter case. Control requests and
// "GetDeviceID" go to the port monitor on every port.
BOOL ServesConfigurationRequests(LPCWSTR portName);

}  // namespace langmon

extern "C" {
BOOL WINAPI DllEntryPoint(HINSTANCE instance, DWORD reason, LPVOID reserved);
LPMONITOREX WINAPI InitializePrintMonitor(LPWSTR registryRoot);
}

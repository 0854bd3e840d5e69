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

// Those ports, each by one name: "LPT1:" to "LPT9:", then "LPT1" to "LPT9".
// A name with the colon and the same name without it are two ports, and both
// may be open at once; another letter case names the same port again. A
// host that runs several printers on one monitor instance gives each printer
// one of these, so it can run as many at once as there are names here.
inline constexpr LPCWSTR kServedPortNames[] = {
    LM_W("LPT1:"), LM_W("LPT2:"), LM_W("LPT3:"), LM_W("LPT4:"), LM_W("LPT5:"), LM_W("LPT6:"),
    LM_W("LPT7:"), LM_W("LPT8:"), LM_W("LPT9:"), LM_W("LPT1"),  LM_W("LPT2"),  LM_W("LPT3"),
    LM_W("LPT4"),  LM_W("LPT5"),  LM_W("LPT6"),  LM_W("LPT7"),  LM_W("LPT8"),  LM_W("LPT9"),
};

}  // namespace langmon

extern "C" {
BOOL WINAPI DllEntryPoint(HINSTANCE instance, DWORD reason, LPVOID reserved);
LPMONITOREX WINAPI InitializePrintMonitor(LPWSTR registryRoot);
}

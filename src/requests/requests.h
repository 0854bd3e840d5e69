// Printer-data requests from the printer driver.
#pragma once

#include "monitor/monitor.h"

namespace langmon {

// The monitor's GetPrinterDataFromPort: passes control requests and
// "GetDeviceID" to the port monitor and serves "GetConfigObjects",
// "SetConfigObjects" and "PrintTestPage" on parallel ports.
BOOL WINAPI GetPrinterDataFromPort(HANDLE port, DWORD controlId, LPWSTR valueName,
                                   LPWSTR inBuffer, DWORD cbInBuffer, LPWSTR outBuffer,
                                   DWORD cbOutBuffer, LPDWORD cbReturned);

// Sends the "@PJL SET TESTPAGE=" line that "dwTestPage" selects.
BOOL RequestTestPage(PortEntry* entry);

}  // namespace langmon

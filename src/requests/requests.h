// Printer-data requests from the printer driver.
#pragma once

#include "monitor/monitor.h"

namespace langmon {

// The monitor's GetPrinterDataFromPort: passes control requests and
// "GetDeviceID" to the port monitor and serves "GetConfigObjects",
// "SetConfigObjects" and "PrintTestPage" on parallel ports.
BOOL WINAPI GetPrinterDataFromPort(HANDLE port, DWORD controlId, LPWSTR valueName, LPWSTR inBuffer,
                                   DWORD cbInBuffer, LPWSTR outBuffer, DWORD cbOutBuffer,
                                   LPDWORD cbReturned);

// Sends the test page line, kTestPagePrefix and the page's name, that
// "dwTestPage" selects.
BOOL RequestTestPage(PortEntry* entry);
inline constexpr char kTestPagePrefix[] = "@PJL SET TESTPAGE=";

// The internal test page for a "dwTestPage" setting: "PCLTYPELIST",
// "DEMOPAGE", "PSTYPEFACELIST", or "SELFTEST" for any unlisted value.
const char* TestPageNameFor(DWORD setting);

// PJL framing of the configuration requests: the entry text (UEL, "@PJL ",
// a lone LF) and the exit text (UEL).
inline constexpr char kEntryText[] = "\x1b%-12345X@PJL \n";
inline constexpr char kExitText[] = "\x1b%-12345X";
inline constexpr DWORD kEntryTextLength = sizeof kEntryText - 1;
inline constexpr DWORD kExitTextLength = sizeof kExitText - 1;
static_assert(kEntryTextLength == 15 && kExitTextLength == 9);

// Read time-out for the configuration exchange when "dwTimeOut" is missing,
// unreadable or 0, in milliseconds.
inline constexpr DWORD kDefaultReadTimeOut = 10;

}  // namespace langmon

// Shared pieces of the benchmarks: opening a port through the monitor's own
// table and making a printer-data request on it.
#pragma once

#include <string>

#include "config/settings.h"
#include "monitor/monitor.h"

namespace langmon::bench {

// Opens `port` through the monitor's OpenPortEx on the given port-monitor
// table; null on failure.
HANDLE OpenPort(MONITOR& portMonitor, const char* port, const char* printer);
void ClosePort(HANDLE port);

// GetPrinterDataFromPort for a value name (ControlID 0).
BOOL Request(HANDLE port, const char* valueName, void* out = nullptr, DWORD cbOut = 0);

// A "GetConfigObjects" request; TRUE when the printer answered every object
// a full read asks (mask 0xDBFFFF).
bool ReadFullConfig(HANDLE port, ConfigRecord* record);

}  // namespace langmon::bench

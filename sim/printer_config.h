// Loading a simulated printer's objects, device ID and faults from JSON.
//
// The file is one JSON object; every member is optional:
//
//   {
//     "defaults": true,              // start from the default objects (true)
//                                    // or from none (false)
//     "objects": {                   // added to / replacing the start set
//       "050103030104": {"type": 2, "value": 1},
//       "05010303010d": 26,          // a bare number keeps the type the
//                                    // object already has (else type 1)
//       "0601020304": {"type": 0, "value": "text"},
//       "050103030126": null         // removes the object
//     },
//     "deviceId": "MFG:...;MDL:...;",
//     "faults": {
//       "delayMs": 0, "split": [5, 3], "noise": "xx", "stale": true,
//       "silent": false, "silentAfter": 10, "silentObjects": ["050103030108"],
//       "unknown": "empty" | "silent"
//     }
//   }
//
// Identifiers are hex text whose first byte counts the bytes that follow;
// letter case does not matter. Types are the value type codes 0 to 8 (9 is
// taken as 2 holding the 32-bit two's complement, as the printer keeps it);
// object values are 0 to 4294967295, or -2147483648 to -1 for their 32-bit
// two's complement. The fault knobs have ranges (sim_printer.h): "delayMs"
// 0 to kMaxReplyDelayMs, "split" sizes 1 to kMaxSplitSize, "silentAfter"
// from 0; "deviceId" holds at most kMaxDeviceIdLength bytes.
#pragma once

#include <cstddef>
#include <string>

#include "sim_printer.h"

namespace langmon::sim {

struct PrinterConfig {
  SimObjectMap objects = DefaultObjects();
  std::string deviceId = kDefaultDeviceId;
  SimFaults faults;
};

// Parses JSON text into `config` (which keeps what the text does not
// mention). Returns false with a message naming the offending member.
bool ParsePrinterConfig(const std::string& text, PrinterConfig& config, std::string& error);
// The most an objects file may hold (sim/input_file.h): some thousand
// objects with long strings and the longest device ID fit many times over.
inline constexpr std::size_t kMaxObjectsFileBytes = 4u << 20;

// Reads and parses a file; a folder or a file over kMaxObjectsFileBytes is
// refused before it is read whole. The wait for a pipe's data has no bound
// of its own: the caller's time limit covers it.
bool LoadPrinterConfig(const std::string& path, PrinterConfig& config, std::string& error);
// Gives the printer the configuration's objects, device ID and faults.
void ApplyPrinterConfig(const PrinterConfig& config, SimPrinter& printer);

}  // namespace langmon::sim

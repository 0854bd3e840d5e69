// What a "GetConfigObjects" record says, for people and for programs: the 26
// settings by name with their values and presence bits, and where the record
// came from.
//
// The monitor does not say whether the printer answered its ECHO probe, but
// the record does: a record filled from the stored settings or from the
// built-in defaults always carries the mask 0x0FFFFFFF, while one filled
// from the printer never has bits 24 to 27 set. Stored settings and defaults
// are then told apart the way the monitor chose between them: stored
// settings are used when the printer's driver-data key holds a non-zero
// "dwCfgFlags".
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "config/settings.h"

namespace langmon::host {

enum class ConfigSource { Printer, StoredSettings, Defaults };

// Bits a printer never sets and a stored or default record always has.
constexpr DWORD kNotFromPrinterBits = 0x0F000000;

// True when the monitor would fill a record for this printer from the
// registry rather than the defaults: its driver-data key opens and holds a
// readable, non-zero "dwCfgFlags".
bool HasStoredSettings(const std::u16string& printer);

ConfigSource ClassifyRecord(const ConfigRecord& record, bool storedSettings);
const char* SourceName(ConfigSource source);  // "printer", "stored-settings", "defaults"

struct ConfigContext {
  std::string printer;  // printer name
  std::string port;     // port name
  std::string device;   // device URI
};

// The record as a table, one line per setting, with a header naming the
// source.
std::string FormatConfigTable(const ConfigRecord& record, ConfigSource source,
                              const ConfigContext& context);
// The record as one JSON object.
nlohmann::ordered_json ConfigJson(const ConfigRecord& record, ConfigSource source,
                                  const ConfigContext& context);

DWORD RecordValue(const ConfigRecord& record, DWORD position);

}  // namespace langmon::host

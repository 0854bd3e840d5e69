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
#include <optional>
#include <string>
#include <vector>

#include "config/settings.h"

namespace langmon::host {

enum class ConfigSource { Printer, StoredSettings, Defaults };

// Bits a printer never sets and a stored or default record always has.
constexpr DWORD kNotFromPrinterBits = 0x0F000000;

// True when the monitor would fill a record for this printer from the
// registry rather than the defaults: its driver-data key opens and holds a
// readable, non-zero "dwCfgFlags".
bool HasStoredSettings(const std::u16string& printer);

// A setting's stored value as the monitor would read it (a 4-byte
// REG_DWORD under the printer's driver-data key); nullopt when unreadable.
std::optional<DWORD> StoredValue(const std::u16string& printer, LPCWSTR valueName);

ConfigSource ClassifyRecord(const ConfigRecord& record, bool storedSettings);
const char* SourceName(ConfigSource source);  // "printer", "stored-settings", "defaults"

// How one setting of a record stands with the printer.
//
// A setting with a presence bit was answered when its bit is set. Whether it
// was asked follows from the read steps (kPrinterReadSteps) and the record
// the way the monitor walked them: a dependent step runs only when its
// parent was answered and, when gated, the parent's value is not the
// stopping one. A parent without a presence bit counts as answered when its
// value is not 0; a zeroed record field holds 0 until an answer is stored,
// and the table's only such parents are the tray-3 presence (any answer
// maps to 1) and PostScript (its children stop at 0 anyway).
//
// Of the four settings without a presence bit, TestPage is never asked (it
// has no object). The other three are answered when their value is not 0;
// a 0 is NotAnswered for the tray-3 presence, whose map turns every answer
// into 1, and Unknown for InstalledMem and PostScript, where 0 may be an
// answer. None of the four decides whether a read is complete.
//
// In a record from stored settings or defaults nothing was answered.
enum class Answer { Answered, NotAnswered, NotAsked, Unknown };
Answer AnswerOf(const ConfigRecord& record, ConfigSource source, const Setting& setting);
// The settings with a presence bit that the read asked and the printer did
// not answer, in record order.
std::vector<const Setting*> Unanswered(const ConfigRecord& record, ConfigSource source);
// A complete read: the record came from the printer and every setting with
// a presence bit that the read asked was answered.
bool IsCompleteRead(const ConfigRecord& record, ConfigSource source);

struct ConfigContext {
  std::string printer;  // printer name
  std::string port;     // port name
  std::string device;   // device URI
};

// The record as a table, one line per setting, with a header naming the
// source.
std::string FormatConfigTable(const ConfigRecord& record, ConfigSource source,
                              const ConfigContext& context);
// The record as one JSON object; each setting's "value" is GivenValue (null
// when the printer did not give it), "driverValue" what the record holds
// (what the driver receives), "answered" true, false (asked and not
// answered, or no printer read), or null (not asked, or Unknown).
nlohmann::ordered_json ConfigJson(const ConfigRecord& record, ConfigSource source,
                                  const ConfigContext& context);

DWORD RecordValue(const ConfigRecord& record, DWORD position);
// The value as the reports show it: none for a setting of a printer record
// that the printer did not give (not answered, not asked), whatever the
// record holds there; the record's value otherwise (a record from stored
// settings or defaults says so by its source).
std::optional<DWORD> GivenValue(const ConfigRecord& record, ConfigSource source,
                                const Setting& setting);

}  // namespace langmon::host

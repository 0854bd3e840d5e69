// langmon audit BASELINE.reg: reads a printer's configuration and compares
// every setting the baseline's "dwCfgFlags" selects with what the printer
// answers, through the maps apply --verify uses (setting_compare.h). Nothing
// is sent to the printer but the configuration read.
//
// The baseline is never loaded as the printer's stored settings: a printer
// that does not answer gets its record from the built-in defaults, and a
// record that is not the printer's own is never compared, so a silent
// printer can never pass as compliant. Exit status: 0 read whole and as the
// baseline, 5 read whole and different, 3 not read whole (some of what the
// baseline selects went unanswered or unasked, or the printer did not
// answer at all), whatever differs in what was read.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "config/settings.h"
#include "options.h"

namespace langmon::cli {

// One setting the baseline selects, with its value there.
struct BaselineSetting {
  const Setting* setting = nullptr;
  DWORD value = 0;
};

// The settings a baseline selects, in record order.
struct Baseline {
  std::string path;
  std::vector<BaselineSetting> settings;
};

// Reads options.baseline: one printer's driver-data key whose "dwCfgFlags"
// selects at least one setting, each selected setting stored as a dword.
// kSuccess, or the status of the refusal it reported (2, or 4 when the time
// limit ran out while the file was read). A value the setting does not
// accept is warned of: no printer can match it.
int ReadBaseline(const Options& options, Baseline& baseline);

// A fleet's parent: reads the baseline once into options.baselineRead, for
// every worker.
int ReadBaselineOnce(Options& options);

// ---- the fleet's lines, from a printer's result object --------------------

// What the audit came to, in words: "as the baseline in all 5 settings",
// "differs from the baseline in 2 of 5 settings: Copies (printer 1,
// baseline 3), ...", "not read whole (defaults): 5 of 5 settings not
// compared".
std::string AuditOutcome(const nlohmann::ordered_json& result);
// Each ends with a newline.
std::string AuditCsvHeader();
std::string AuditCsvRow(const nlohmann::ordered_json& result);

}  // namespace langmon::cli

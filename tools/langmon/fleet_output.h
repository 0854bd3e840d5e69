// How a fleet reports: one text line, JSON line or CSV row per printer as it
// finishes, a progress line, and a summary naming the printers behind a
// non-zero exit status. Plain functions from a printer's result object (the
// object a worker sends: "uri", "name", the command's fields, "exitStatus",
// "seconds") to text.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace langmon::cli {

// AuditCsv: audit's own columns (audit.h).
enum class FleetFormat { Text, JsonLines, Csv, AuditCsv };

// Each line ends with a newline.
std::string JsonLine(const nlohmann::ordered_json& result);
std::string CsvHeader();
std::string CsvRow(const nlohmann::ordered_json& result);
std::string TextLine(const nlohmann::ordered_json& result);
std::string FleetLine(FleetFormat format, const nlohmann::ordered_json& result);
// The header of a CSV format.
std::string CsvHeaderOf(FleetFormat format);

// A field as a spreadsheet reads it (`isText`: text a spreadsheet could take
// for a formula is defused), and a result's "error: cause".
std::string CsvField(std::string text, bool isText);
std::string ErrorText(const nlohmann::ordered_json& result);

struct FleetTally {
  std::size_t done = 0, failed = 0, running = 0, waiting = 0;
};
// "12 done, 1 failed, 9 running, 230 waiting" (done counts the failed too).
std::string ProgressText(const FleetTally& tally);

// One line per non-zero status, worst first: "langmon: 2 of 40 printers did
// not answer fully: sim-3, sim-9". Empty when every printer answered fully.
std::string FleetSummary(const std::vector<std::string>& names, const std::vector<int>& statuses);

}  // namespace langmon::cli

#include "fleet_output.h"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <cstring>

#include "audit.h"
#include "config/settings.h"
#include "options.h"

namespace langmon::cli {

namespace {

using Json = nlohmann::ordered_json;

std::string Dump(const Json& value) {
  return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string Text(const Json& result, const char* key) {
  const auto it = result.find(key);
  if (it == result.end() || it->is_null()) return {};
  return it->is_string() ? it->get<std::string>() : Dump(*it);
}

}  // namespace

// A field as a spreadsheet reads it: quoted when it holds a separator, a
// quote or a line break; text that a spreadsheet would take for a formula
// gets a leading apostrophe.
std::string CsvField(std::string text, bool isText) {
  if (isText && !text.empty() && std::string_view("=+-@").find(text.front()) != std::string::npos)
    text = fmt::format("'{}", text);
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted(1, '"');
  for (char c : text) {
    quoted += c;
    if (c == '"') quoted += '"';
  }
  quoted += '"';
  return quoted;
}

std::string ErrorText(const Json& result) {
  const std::string error = Text(result, "error"), cause = Text(result, "cause");
  return cause.empty() ? error : fmt::format("{}: {}", error, cause);
}

namespace {

// The value of each setting a configuration holds, by name.
std::string SettingValue(const Json& result, const char* name) {
  const auto settings = result.find("settings");
  if (settings == result.end() || !settings->is_array()) return {};
  for (const Json& s : *settings)
    if (s.value("name", "") == name) return Text(s, "value");
  return {};
}

// What a printer's run came to, in words, for a text line.
std::string Outcome(const Json& result) {
  if (result.contains("error")) return fmt::format("error: {}", ErrorText(result));
  std::string text;
  if (result.contains("baseline")) {
    text = AuditOutcome(result);
  } else if (result.contains("source")) {
    text = Text(result, "source");
    if (result.contains("answered"))
      text += fmt::format(", {} of {} settings answered", Text(result, "answered"),
                          Text(result, "asked"));
  } else if (result.contains("sent")) {
    text = fmt::format("sent {} settings", result["sent"].size());
  } else if (result.contains("page")) {
    text = fmt::format("asked for test page {}", Text(result, "page"));
  }
  const int status = result.value("exitStatus", 0);
  if (status != kSuccess) text += fmt::format(" (exit status {})", status);
  return text;
}

// The printers a stop signal cut short (status 128 + the signal's number).
std::string CutShortLine(const std::vector<std::string>& names, const std::vector<int>& statuses,
                         int status) {
  std::vector<std::string> culprits;
  for (std::size_t i = 0; i < statuses.size(); ++i)
    if (statuses[i] == status) culprits.push_back(names[i]);
  const char* signal = sigabbrev_np(status - kStoppedBySignal);
  return fmt::format(
      "langmon: {} of {} printers were cut short when langmon was stopped by SIG{}: "
      "{}\n",
      culprits.size(), names.size(), signal ? signal : std::to_string(status - kStoppedBySignal),
      fmt::join(culprits, ", "));
}

}  // namespace

std::string JsonLine(const Json& result) { return Dump(result) + "\n"; }

std::string CsvHeader() {
  std::string header = "uri,name,exitStatus,source,answered,seconds,error";
  for (const Setting& s : kSettings) header += std::string(",") + s.FieldName;
  return header + "\n";
}

std::string CsvRow(const Json& result) {
  std::string row = fmt::format("{},{},{},{},{},{:.3f},{}", CsvField(Text(result, "uri"), true),
                                CsvField(Text(result, "name"), true), Text(result, "exitStatus"),
                                CsvField(Text(result, "source"), true), Text(result, "answered"),
                                result.value("seconds", 0.0), CsvField(ErrorText(result), true));
  for (const Setting& s : kSettings) {
    row += ',';
    row += SettingValue(result, s.FieldName);
  }
  row += '\n';
  return row;
}

std::string TextLine(const Json& result) {
  return fmt::format("{} ({}): {}\n", Text(result, "name"), Text(result, "uri"), Outcome(result));
}

std::string FleetLine(FleetFormat format, const Json& result) {
  switch (format) {
    case FleetFormat::JsonLines:
      return JsonLine(result);
    case FleetFormat::Csv:
      return CsvRow(result);
    case FleetFormat::AuditCsv:
      return AuditCsvRow(result);
    case FleetFormat::Text:
      break;
  }
  return TextLine(result);
}

std::string CsvHeaderOf(FleetFormat format) {
  if (format == FleetFormat::Csv) return CsvHeader();
  return format == FleetFormat::AuditCsv ? AuditCsvHeader() : std::string();
}

std::string ProgressText(const FleetTally& t) {
  return fmt::format("{} done, {} failed, {} running, {} waiting", t.done, t.failed, t.running,
                     t.waiting);
}

std::string FleetSummary(const std::vector<std::string>& names, const std::vector<int>& statuses) {
  static constexpr struct {
    int status;
    const char* what;
  } kGroups[] = {{kTimedOut, "were not done when the time limit (--timeout) ran out"},
                 {kUsage, "refused the input"},
                 {kFailed, "failed"},
                 {kUnanswered, "did not answer fully"},
                 {kDiffers, "differ from the baseline"}};
  std::string summary;
  for (std::size_t i = 0; i < statuses.size(); ++i)
    if (statuses[i] > kStoppedBySignal) {
      summary = CutShortLine(names, statuses, statuses[i]);
      break;
    }
  for (const auto& group : kGroups) {
    std::vector<std::string> culprits;
    for (std::size_t i = 0; i < statuses.size(); ++i)
      if (statuses[i] == group.status) culprits.push_back(names[i]);
    if (culprits.empty()) continue;
    summary += fmt::format("langmon: {} of {} printers {}: {}\n", culprits.size(), names.size(),
                           group.what, fmt::join(culprits, ", "));
  }
  return summary;
}

}  // namespace langmon::cli

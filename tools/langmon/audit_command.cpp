// langmon audit: one printer's configuration against a baseline (audit.h).
#include <fmt/format.h>
#include <fmt/ranges.h>

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "ascii.h"
#include "audit.h"
#include "commands.h"
#include "config/config.h"
#include "config_report.h"
#include "reg_file_input.h"
#include "report.h"
#include "session.h"
#include "setting_compare.h"
#include "setting_values.h"
#include "text_encoding.h"
#include "time_limit.h"

namespace langmon::cli {

using namespace langmon::host;
using Json = nlohmann::ordered_json;

namespace {

constexpr const char* kCannotUse = "cannot use the baseline";

// The dword values of the file's one printer, by folded value name.
using BaselineValues = std::unordered_map<std::string, DWORD>;

// The file's values, when they are one printer's; else the refusal.
int ValuesOfOnePrinter(const std::string& path, const RegFile& file, BaselineValues& values) {
  const std::vector<std::string> printers = PrintersIn(file);
  if (printers.empty())
    return Fail(kUsage, kCannotUse,
                fmt::format("{} holds no printer's settings (no dword under a printer's "
                            "PrinterDriverData key)",
                            path));
  if (printers.size() > 1) {
    std::vector<std::string> quoted;
    for (std::size_t i = 0; i < printers.size() && i < 3; ++i)
      quoted.push_back(QuoteShortened(printers[i]));
    return Fail(kUsage, kCannotUse,
                fmt::format("{} holds the settings of {} printers ({}{}); a baseline holds one "
                            "printer's",
                            path, printers.size(), fmt::join(quoted, ", "),
                            printers.size() > 3 ? ", ..." : ""));
  }
  for (const RegDword& v : file.values) values[sim::FoldCase(v.name)] = v.value;
  return kSuccess;
}

// The settings "dwCfgFlags" selects, each with its stored value; those
// selected without a dword of their own are named in `missing`.
std::vector<BaselineSetting> Selected(const BaselineValues& values, DWORD flags,
                                      std::vector<std::string>& missing) {
  std::vector<BaselineSetting> selected;
  for (const Setting& s : kSettings) {
    if (s.PresenceBit == kNoPresenceBit || (flags & s.PresenceBit) == 0) continue;
    const auto it = values.find(sim::FoldCase(Utf16ToUtf8(s.ValueName)));
    if (it == values.end())
      missing.emplace_back(s.FieldName);
    else
      selected.push_back({&s, it->second});
  }
  return selected;
}

// Values no printer can match: what they read back as is no value the
// setting takes (a value the maps fold onto one it takes can be matched).
void WarnUnacceptable(const Baseline& baseline) {
  for (const BaselineSetting& b : baseline.settings)
    if (!Accepts(*b.setting, ReadBackValue(*b.setting, b.value)))
      Warning(
          fmt::format("{}: {} is {}, a value it does not take (it accepts {}): no printer can "
                      "match the baseline there",
                      baseline.path, b.setting->FieldName, b.value, DescribeAccepted(*b.setting)));
}

int CheckSelection(const Options& options, const BaselineValues& values, Baseline& baseline) {
  const auto flags = values.find(sim::FoldCase(Utf16ToUtf8(kCfgFlagsValueName)));
  std::vector<std::string> missing;
  baseline.settings = Selected(values, flags == values.end() ? 0 : flags->second, missing);
  if (!missing.empty())
    return Fail(kUsage, kCannotUse,
                fmt::format("\"dwCfgFlags\" in {} selects {}, but the file holds no dword for {}",
                            options.baseline, fmt::join(missing, ", "),
                            missing.size() == 1 ? "it" : "them"));
  if (baseline.settings.empty())
    return Fail(kUsage, kCannotUse,
                fmt::format("{} selects no setting: \"dwCfgFlags\" is missing, 0, or sets none "
                            "of the settings' presence bits",
                            options.baseline));
  baseline.path = options.baseline;
  WarnUnacceptable(baseline);
  return kSuccess;
}

// The source of a record, for the text.
const char* SourceText(ConfigSource source) {
  switch (source) {
    case ConfigSource::Printer:
      return "the printer";
    case ConfigSource::StoredSettings:
      return "the stored settings (the printer did not answer): nothing compared";
    case ConfigSource::Defaults:
      break;
  }
  return "the built-in defaults (the printer did not answer): nothing compared";
}

const char* AgreementName(Agreement a) {
  switch (a) {
    case Agreement::Same:
      return "same";
    case Agreement::Differs:
      return "differs";
    case Agreement::NotAsked:
      return "not asked";
    case Agreement::NotAnswered:
      break;
  }
  return "not answered";
}

// One selected setting against the record: "printerValue" null where the
// printer did not give it, "expected" what the baseline's value reads back
// as.
Json CompareOne(const ConfigRecord& record, ConfigSource source, const BaselineSetting& b) {
  const SettingAgreement a = CompareSetting(record, source, *b.setting, b.value);
  const bool given = a.agreement == Agreement::Same || a.agreement == Agreement::Differs;
  return {{"name", b.setting->FieldName},
          {"registryValue", Utf16ToUtf8(b.setting->ValueName)},
          {"printerValue", given ? Json(a.found) : Json(nullptr)},
          {"baselineValue", b.value},
          {"expected", a.expected},
          {"result", AgreementName(a.agreement)}};
}

struct Tally {
  std::size_t differing = 0, notCompared = 0;
};

Tally Count(const Json& compared) {
  Tally t;
  for (const Json& c : compared) {
    const std::string result = c["result"];
    if (result == "differs") ++t.differing;
    if (result != "same" && result != "differs") ++t.notCompared;
  }
  return t;
}

// The audit as JSON: the config command's context and source, whether the
// read was whole, each selected setting compared, and "compliant" true,
// false, or null when what was not read leaves it open.
Json AuditJson(const Options& options, const Baseline& baseline, const ConfigRecord& record,
               ConfigSource source) {
  Json compared = Json::array();
  for (const BaselineSetting& b : baseline.settings)
    compared.push_back(CompareOne(record, source, b));
  const Tally t = Count(compared);
  const bool whole = IsCompleteRead(record, source) && t.notCompared == 0;
  Json compliant = t.differing > 0 ? Json(false) : whole ? Json(true) : Json(nullptr);
  return {
      {"printer", options.printerName}, {"port", options.port},         {"device", options.device},
      {"baseline", baseline.path},      {"source", SourceName(source)}, {"complete", whole},
      {"compliant", compliant},         {"differing", t.differing},     {"compared", compared}};
}

std::string ValueText(const Json& value) { return value.is_null() ? "-" : value.dump(); }

// The baseline's value, with what it reads back as where the maps fold it.
std::string BaselineText(const Json& c) {
  if (c["baselineValue"] == c["expected"]) return c["baselineValue"].dump();
  return fmt::format("{} (reads back as {})", c["baselineValue"].dump(), c["expected"].dump());
}

// The audit as a table, one line per setting the baseline selects, below a
// header naming the printer, the source and the outcome.
std::string AuditTable(const Json& audit, ConfigSource source) {
  std::string text =
      fmt::format("Audit of printer \"{}\" on port {} ({}) against {}\n",
                  audit["printer"].get<std::string>(), audit["port"].get<std::string>(),
                  audit["device"].get<std::string>(), audit["baseline"].get<std::string>());
  text += fmt::format("Source:   {}\nResult:   {}\n\n", SourceText(source), AuditOutcome(audit));
  text += fmt::format("  {:<15} {:<17} {:<12} {:>10}  {}\n", "Setting", "Registry value", "Result",
                      "Printer", "Baseline");
  for (const Json& c : audit["compared"])
    text += fmt::format("  {:<15} {:<17} {:<12} {:>10}  {}\n", c["name"].get<std::string>(),
                        c["registryValue"].get<std::string>(), c["result"].get<std::string>(),
                        ValueText(c["printerValue"]), BaselineText(c));
  return text;
}

// Says on standard error what kept the read from being whole.
void WarnNotWhole(const Json& audit, const ConfigRecord& record, ConfigSource source) {
  if (source != ConfigSource::Printer) {
    Warning("the printer did not answer; nothing was compared with the baseline");
    return;
  }
  std::vector<std::string> open;
  for (const Json& c : audit["compared"])
    if (c["result"] != "same" && c["result"] != "differs")
      open.push_back(
          fmt::format("{} ({})", c["name"].get<std::string>(), c["result"].get<std::string>()));
  if (!open.empty())
    Warning(fmt::format("not compared with the baseline: {}", fmt::join(open, ", ")));
  std::vector<std::string> missing;
  for (const Setting* s : Unanswered(record, source)) missing.emplace_back(s->FieldName);
  if (!missing.empty())
    Warning(fmt::format("the printer did not answer {} of the settings it was asked: {}",
                        missing.size(), fmt::join(missing, ", ")));
}

int Report(const Json& audit, const ConfigRecord& record, ConfigSource source) {
  if (JsonOutput())
    JsonResult() = audit;
  else
    Print(AuditTable(audit, source));
  if (!audit["complete"].get<bool>()) {
    WarnNotWhole(audit, record, source);
    return kUnanswered;
  }
  return audit["differing"].get<std::size_t>() > 0 ? kDiffers : kSuccess;
}

}  // namespace

int CheckAudit(const Options& options) {
  if (!options.settings.empty())
    return Fail(kUsage, "--settings is not for audit",
                "the baseline is BASELINE.reg, and it is never loaded as the printer's stored "
                "settings: audit compares only what the printer answers");
  return kSuccess;
}

int ReadBaseline(const Options& options, Baseline& baseline) {
  RegFile file;
  std::string error;
  const sim::InputResult read = ReadRegFile(options.baseline, file, error, options.deadline);
  if (read != sim::InputResult::Read)
    return FailInput(read, "cannot read the baseline", options.baseline, error, options.timeout);
  BaselineValues values;
  if (int rc = ValuesOfOnePrinter(options.baseline, file, values)) return rc;
  return CheckSelection(options, values, baseline);
}

int ReadBaselineOnce(Options& options) {
  auto baseline = std::make_shared<Baseline>();
  if (int rc = ReadBaseline(options, *baseline)) return rc;
  options.baselineRead = baseline;
  return kSuccess;
}

int RunAudit(const Options& options) {
  if (int rc = CheckAudit(options)) return rc;
  Baseline read;
  const Baseline* baseline = options.baselineRead.get();
  if (baseline == nullptr) {
    if (int rc = ReadBaseline(options, read)) return rc;
    baseline = &read;
  }
  Session session(options);
  if (int rc = session.Open(true)) return rc;
  ConfigRecord record{};
  ConfigSource source{};
  if (int rc = ReadConfiguration(session, options, record, source)) return rc;
  Json audit = AuditJson(options, *baseline, record, source);
  if (session.observed().HasFailure())
    audit["portFailure"] = DescribeFailure(session.observed().FirstFailure());
  const int status = Report(audit, record, source);
  return Worse(ReportLateFailure(session, "GetConfigObjects"), status);
}

}  // namespace langmon::cli

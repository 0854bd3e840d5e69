#include "send_settings.h"

#include <fmt/format.h>

#include <string>
#include <vector>

#include "config/config.h"
#include "config_report.h"
#include "pjl/pjl.h"
#include "report.h"
#include "setting_compare.h"
#include "text_encoding.h"

namespace langmon::cli {

using namespace langmon::host;

namespace {

// The settings whose set lines are in the written text.
std::vector<const Setting*> SentSettings(const std::string& written) {
  constexpr std::string_view kSet = kSetPrefix;
  std::vector<const Setting*> sent;
  for (std::size_t pos = written.find(kSet); pos != std::string::npos;
       pos = written.find(kSet, pos + 1)) {
    const std::string_view payload = std::string_view(written).substr(pos + kSet.size());
    for (const Setting& s : kSettings) {
      if (s.PresenceBit != kNoPresenceBit && s.ObjectId && payload.starts_with(s.ObjectId)) {
        sent.push_back(&s);
        break;
      }
    }
  }
  return sent;
}

std::string Join(const std::vector<std::string>& items) {
  std::string list;
  for (const std::string& item : items) list += (list.empty() ? "" : ", ") + item;
  return list;
}

std::string RefusalCause(const Session& session, const Options& options, const std::string& origin,
                         bool sentAny) {
  std::string cause = "the port did not take the whole block of settings";
  if (!HasStoredSettings(Utf8ToUtf16(options.printerName)))
    cause = fmt::format(
        "no stored settings are selected: \"dwCfgFlags\" is missing or 0 for printer \"{}\" in {}",
        options.printerName, origin);
  else if (!sentAny)
    cause = "none of the settings that \"dwCfgFlags\" selects is stored as a dword";
  return session.RefusalCause(cause);
}

// What the read-back says about the settings that were sent.
struct Verification {
  std::vector<std::string> confirmed;
  std::vector<std::string> different;  // "Copies (expected 3, read back 1)"
  std::vector<std::string> notReadBack;
  nlohmann::ordered_json json;
};

Verification Compare(const ConfigRecord& record, ConfigSource source, const Options& options,
                     const std::vector<const Setting*>& sent) {
  using Json = nlohmann::ordered_json;
  Verification v;
  Json different = Json::array();
  for (const Setting* s : sent) {
    const auto stored = StoredValue(Utf8ToUtf16(options.printerName), s->ValueName);
    const SettingAgreement a = CompareSetting(record, source, *s, stored.value_or(0));
    if (a.agreement == Agreement::Same) {
      v.confirmed.emplace_back(s->FieldName);
    } else if (a.agreement == Agreement::Differs) {
      v.different.push_back(
          fmt::format("{} (expected {}, read back {})", s->FieldName, a.expected, a.found));
      different.push_back(
          {{"name", s->FieldName}, {"expected", a.expected}, {"readBack", a.found}});
    } else {
      v.notReadBack.emplace_back(s->FieldName);
    }
  }
  v.json = {{"source", SourceName(source)},
            {"confirmed", v.confirmed},
            {"different", different},
            {"notReadBack", v.notReadBack}};
  return v;
}

// Reads the configuration back on the same port and compares it with the
// settings that were sent.
int Verify(Session& session, const Options& options, const std::vector<const Setting*>& sent) {
  ConfigRecord record{};
  ConfigSource source{};
  if (int rc = ReadConfiguration(session, options, record, source)) return rc;
  if (int rc = ReportLateFailure(session, "GetConfigObjects")) return rc;
  const Verification v = Compare(record, source, options, sent);
  if (JsonOutput()) JsonResult()["verify"] = v.json;
  if (!v.different.empty())
    return Fail(kFailed, "SetConfigObjects did not take", Join(v.different));
  if (source != ConfigSource::Printer) {
    Warning("cannot verify: the printer did not answer when the configuration was read back");
    return kUnanswered;
  }
  if (!v.notReadBack.empty()) {
    Warning("cannot verify " + Join(v.notReadBack) + ": the printer did not answer them");
    return kUnanswered;
  }
  if (!JsonOutput())
    Print(fmt::format("verified: the printer reads back {} setting{} as sent\n", v.confirmed.size(),
                      v.confirmed.size() == 1 ? "" : "s"));
  return kSuccess;
}

}  // namespace

int SendStoredSettings(Session& session, const Options& options, const std::string& origin) {
  session.observed().ResetFailure();
  session.recorder().Clear();
  DWORD returned = 0;
  const BOOL ok = session.spooler().GetPrinterData(u"SetConfigObjects", 0, nullptr, 0, &returned);
  const std::vector<const Setting*> sent = SentSettings(session.recorder().Written());
  if (!ok)
    return Fail(kFailed, "SetConfigObjects failed",
                RefusalCause(session, options, origin, !sent.empty()));
  std::vector<std::string> names;
  for (const Setting* s : sent) names.emplace_back(s->FieldName);
  // Nothing is reported as sent that the printer is not known to have taken.
  const std::string written = fmt::format("the set lines of {}", Join(names));
  int rc = ReportLateFailure(session, "SetConfigObjects");
  if (rc == kSuccess) rc = session.ConfirmRequest("SetConfigObjects", written);
  if (rc != kSuccess) {
    if (JsonOutput()) JsonResult() = {{"request", "SetConfigObjects"}, {"written", names}};
    return rc;
  }
  if (JsonOutput())
    JsonResult() = {{"request", "SetConfigObjects"}, {"sent", names}};
  else
    Print(fmt::format("SetConfigObjects: sent {} setting{} to the printer: {}\n", names.size(),
                      names.size() == 1 ? "" : "s", Join(names)));
  return options.verify ? Verify(session, options, sent) : kSuccess;
}

}  // namespace langmon::cli

#include <fmt/format.h>

#include <string>
#include <vector>

#include "commands.h"
#include "config/settings.h"
#include "config_report.h"
#include "pjl/pjl.h"
#include "report.h"
#include "session.h"
#include "text_encoding.h"

namespace langmon::cli {

using namespace langmon::host;

namespace {

// Names of the settings whose set lines are in the written text.
std::vector<std::string> SentSettings(const std::string& written) {
  constexpr std::string_view kSet = kSetPrefix;
  std::vector<std::string> names;
  for (std::size_t pos = written.find(kSet); pos != std::string::npos;
       pos = written.find(kSet, pos + 1)) {
    const std::string_view payload = std::string_view(written).substr(pos + kSet.size());
    for (const Setting& s : kSettings) {
      if (s.PresenceBit != kNoPresenceBit && s.ObjectId && payload.starts_with(s.ObjectId)) {
        names.emplace_back(s.FieldName);
        break;
      }
    }
  }
  return names;
}

}  // namespace

int RunApply(const Options& options) {
  if (options.settings.empty()) {
    Error("apply needs the stored settings to send: --settings FILE.reg");
    return kUsage;
  }
  Session session(options);
  if (int rc = session.Open(false)) return rc;
  session.observed().ResetFailure();
  session.recorder().Clear();
  DWORD returned = 0;
  const BOOL ok = session.spooler().GetPrinterData(u"SetConfigObjects", 0, nullptr, 0, &returned);
  const std::vector<std::string> sent = SentSettings(session.recorder().Written());
  if (!ok) {
    std::string cause = "nothing was sent";
    if (!HasStoredSettings(Utf8ToUtf16(options.printerName)))
      cause = fmt::format(
          "no stored settings are selected: \"dwCfgFlags\" is missing or 0 for printer \"{}\" in "
          "{}",
          options.printerName, options.settings);
    else if (sent.empty())
      cause = "none of the settings that \"dwCfgFlags\" selects is stored as a dword";
    else
      cause = "the port did not take the whole block of settings";
    Error("SetConfigObjects failed: " + session.RefusalCause(cause));
    return kFailed;
  }
  std::string list;
  for (const std::string& name : sent) list += (list.empty() ? "" : ", ") + name;
  fmt::print("SetConfigObjects: sent {} setting{} to the printer: {}\n", sent.size(),
             sent.size() == 1 ? "" : "s", list);
  return ReportLateFailure(session, "SetConfigObjects");
}

}  // namespace langmon::cli

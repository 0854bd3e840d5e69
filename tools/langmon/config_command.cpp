#include <fmt/format.h>

#include <string>
#include <vector>

#include "commands.h"
#include "config/config.h"
#include "config_report.h"
#include "reg_writer.h"
#include "report.h"
#include "session.h"
#include "text_encoding.h"

namespace langmon::cli {

using namespace langmon::host;

namespace {

std::string Names(const std::vector<const Setting*>& settings) {
  std::string list;
  for (const Setting* s : settings) list += (list.empty() ? "" : ", ") + std::string(s->FieldName);
  return list;
}

// Says on standard error why a record is no complete read from the printer,
// and when the printer sent replies that repeat no query, that the monitor
// refused them: such a printer answered, only not what it was asked.
void WarnIncomplete(const ConfigRecord& record, ConfigSource source, std::size_t refused) {
  const std::string also =
      refused == 0 ? ""
                   : fmt::format(
                         "; it sent {} {} that repeat{} no query, which the monitor "
                         "refuses (a reply repeats the query it answers)",
                         refused, refused == 1 ? "reply" : "replies", refused == 1 ? "s" : "");
  if (source != ConfigSource::Printer) {
    Warning(fmt::format(
        "the printer did not answer; the values are the {}{}",
        source == ConfigSource::StoredSettings ? "stored settings" : "built-in defaults", also));
    return;
  }
  const auto missing = Unanswered(record, source);
  Warning(fmt::format("the printer did not answer {} of the settings it was asked: {}{}",
                      missing.size(), Names(missing), also));
}

// The settings the printer answered, and "dwCfgFlags" selecting those that
// can be sent, as a .reg file: a backup that apply --settings restores.
int WriteBackup(const Options& options, const ConfigRecord& record, ConfigSource source) {
  const std::string what = "not writing " + options.regFile;
  if (source != ConfigSource::Printer)
    return Fail(kUnanswered, what,
                "the printer did not answer, so the record holds no settings of the printer");
  std::vector<RegDwordValue> values;
  DWORD selected = 0;
  for (const Setting& s : kSettings) {
    if (AnswerOf(record, source, s) != Answer::Answered) continue;
    values.push_back({Utf16ToUtf8(s.ValueName), RecordValue(record, s.Position)});
    selected |= s.PresenceBit;
  }
  if (values.empty()) return Fail(kUnanswered, what, "the printer answered none of the settings");
  values.insert(values.begin(), {Utf16ToUtf8(kCfgFlagsValueName), selected});
  std::string bytes, error;
  if (!FormatRegFile(Utf8ToUtf16(options.printerName), values, bytes, error) ||
      !WriteFileWhole(options.regFile, bytes, error))
    return FailWith(kFailed, what, error);
  if (JsonOutput())
    JsonResult()["regFile"] = {{"path", options.regFile}, {"settings", values.size() - 1}};
  else
    Print(fmt::format("Saved {} settings to {} (dwCfgFlags 0x{:08X})\n", values.size() - 1,
                      options.regFile, selected));
  return kSuccess;
}

}  // namespace

int RunConfig(const Options& options) {
  Session session(options);
  if (int rc = session.Open(true)) return rc;
  ConfigRecord record{};
  ConfigSource source{};
  if (int rc = ReadConfiguration(session, options, record, source)) return rc;
  const ConfigContext context{options.printerName, options.port, options.device};
  if (JsonOutput()) {
    JsonResult() = ConfigJson(record, source, context);
    if (session.observed().HasFailure())
      JsonResult()["portFailure"] = DescribeFailure(session.observed().FirstFailure());
  } else {
    Print(FormatConfigTable(record, source, context));
  }
  int status = ReportLateFailure(session, "GetConfigObjects");
  if (!IsCompleteRead(record, source)) {
    WarnIncomplete(record, source, session.recorder().RefusedReplies());
    status = Worse(status, kUnanswered);
  }
  if (!options.regFile.empty()) status = Worse(status, WriteBackup(options, record, source));
  return status;
}

}  // namespace langmon::cli

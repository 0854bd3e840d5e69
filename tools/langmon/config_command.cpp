#include <fmt/format.h>

#include <string>
#include <vector>

#include "commands.h"
#include "config/config.h"
#include "config_report.h"
#include "report.h"
#include "session.h"
#include "text_encoding.h"

namespace langmon::cli {

using namespace langmon::host;

int RunConfig(const Options& options) {
  Session session(options);
  if (int rc = session.Open(true)) return rc;
  session.observed().ResetFailure();
  ConfigRecord record{};
  const BOOL ok = session.spooler().GetConfigObjects(record);
  session.FinishProgress();
  if (!ok) {
    Error("GetConfigObjects failed: " + session.RefusalCause("the monitor refused the request"));
    return kFailed;
  }
  const ConfigSource source =
      ClassifyRecord(record, HasStoredSettings(Utf8ToUtf16(options.printerName)));
  const ConfigContext context{options.printerName, options.port, options.device};
  if (options.json) {
    auto json = ConfigJson(record, source, context);
    if (session.observed().HasFailure())
      json["portFailure"] = DescribeFailure(session.observed().FirstFailure());
    fmt::print("{}\n", json.dump(2));
  } else {
    fmt::print("{}", FormatConfigTable(record, source, context));
  }
  return ReportLateFailure(session, "GetConfigObjects");
}

}  // namespace langmon::cli

#include "commands.h"
#include "report.h"
#include "send_settings.h"
#include "session.h"

namespace langmon::cli {

int RunApply(const Options& options) {
  if (options.settings.empty())
    return Fail(kUsage, "apply needs the stored settings to send", "--settings FILE.reg");
  Session session(options);
  if (int rc = session.Open(options.verify)) return rc;
  return SendStoredSettings(session, options, options.settings);
}

}  // namespace langmon::cli

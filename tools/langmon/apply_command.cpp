#include <string>

#include "commands.h"
#include "report.h"
#include "send_settings.h"
#include "session.h"

namespace langmon::cli {

int CheckStoredSettings(const Options& options) {
  if (options.settings.empty())
    return Fail(kUsage, "apply needs the stored settings to send", "--settings FILE.reg");
  return kSuccess;
}

int RunApply(const Options& options) {
  if (int rc = CheckStoredSettings(options)) return rc;
  Session session(options);
  if (int rc = session.Open(options.verify)) return rc;
  return SendStoredSettings(session, options, options.settings);
}

}  // namespace langmon::cli

#include <string>

#include "commands.h"
#include "reg_file.h"
#include "report.h"
#include "send_settings.h"
#include "session.h"

namespace langmon::cli {

int CheckStoredSettings(const Options& options) {
  if (options.settings.empty())
    return Fail(kUsage, "apply needs the stored settings to send", "--settings FILE.reg");
  host::RegFile file;
  std::string error;
  if (!host::ReadRegFile(options.settings, file, error))
    return FailWith(kUsage, "cannot read the stored settings", error);
  return kSuccess;
}

int RunApply(const Options& options) {
  if (options.settings.empty())
    return Fail(kUsage, "apply needs the stored settings to send", "--settings FILE.reg");
  Session session(options);
  if (int rc = session.Open(options.verify)) return rc;
  return SendStoredSettings(session, options, options.settings);
}

}  // namespace langmon::cli

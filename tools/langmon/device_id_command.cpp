#include <fmt/format.h>

#include <algorithm>
#include <string>
#include <vector>

#include "commands.h"
#include "report.h"
#include "session.h"
#include "text_encoding.h"

namespace langmon::cli {

using namespace langmon::host;

int RunDeviceId(const Options& options) {
  Session session(options);
  if (int rc = session.Open(false)) return rc;
  session.observed().ResetFailure();
  unsigned char buffer[1024] = {};
  DWORD returned = 0;
  const BOOL ok =
      session.spooler().GetPrinterData(u"GetDeviceID", 0, buffer, sizeof buffer, &returned);
  if (!ok) {
    return Fail(kFailed, "GetDeviceID failed",
                session.observed().HasFailure()
                    ? DescribeFailure(session.observed().FirstFailure())
                    : "the port monitor behind " + options.device + " offers no device ID request");
  }
  returned = std::min<DWORD>(returned, sizeof buffer);
  // IEEE 1284: the ID follows a 2-byte big-endian length that counts itself.
  std::size_t length = returned >= 2 ? (buffer[0] << 8) | buffer[1] : 0;
  std::string id;
  if (length >= 2 && length <= returned)
    id.assign(reinterpret_cast<const char*>(buffer) + 2, length - 2);
  else
    id.assign(reinterpret_cast<const char*>(buffer), returned);
  if (JsonOutput())
    JsonResult() = {{"request", "GetDeviceID"}, {"deviceId", id}};
  else
    Print(id + "\n");
  return ReportLateFailure(session, "GetDeviceID");
}

}  // namespace langmon::cli

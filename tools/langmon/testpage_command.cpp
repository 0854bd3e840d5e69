#include <fmt/format.h>

#include <string>
#include <vector>

#include "commands.h"
#include "report.h"
#include "requests/requests.h"
#include "session.h"
#include "text_encoding.h"

namespace langmon::cli {

using namespace langmon::host;

int RunTestPage(const Options& options) {
  Session session(options);
  if (int rc = session.Open(false)) return rc;
  session.observed().ResetFailure();
  session.recorder().Clear();
  const BOOL ok = session.spooler().GetPrinterData(u"PrintTestPage", 0, nullptr, 0, nullptr);
  if (!ok) {
    const std::string cause = fmt::format(
        "printer \"{}\" has no stored \"dwTestPage\" (give it with --page N or in --settings "
        "FILE.reg)",
        options.printerName);
    return Fail(kFailed, "PrintTestPage failed", session.RefusalCause(cause));
  }
  constexpr std::string_view kLine = kTestPagePrefix;
  const std::string written = session.recorder().Written();
  const std::size_t pos = written.find(kLine);
  std::string page = pos == std::string::npos ? "" : written.substr(pos + kLine.size());
  page = page.substr(0, page.find('\r'));
  // The page counts as asked only once the printer is known to have taken
  // the line.
  int rc = ReportLateFailure(session, "PrintTestPage");
  if (rc == kSuccess) rc = session.ConfirmRequest("PrintTestPage", "the test page line");
  if (JsonOutput())
    JsonResult() = {{"request", "PrintTestPage"}, {rc == kSuccess ? "page" : "written", page}};
  else if (rc == kSuccess)
    Print(fmt::format("PrintTestPage: the printer was asked for test page {}\n", page));
  return rc;
}

}  // namespace langmon::cli

#include <fmt/format.h>

#include <string>
#include <vector>

#include "commands.h"
#include "config/config.h"
#include "plumbing.h"
#include "reg_file.h"
#include "report.h"
#include "send_settings.h"
#include "session.h"
#include "setting_values.h"
#include "text_encoding.h"

namespace langmon::cli {

using namespace langmon::host;

namespace {

struct Assignment {
  const Setting* setting = nullptr;
  DWORD value = 0;
};

// One NAME=VALUE argument; empty when it can be sent, else why not.
std::string Parse(const std::string& argument, Assignment& out) {
  const std::size_t equals = argument.find('=');
  if (equals == std::string::npos) return fmt::format("\"{}\" is not NAME=VALUE", argument);
  const std::string name = argument.substr(0, equals);
  const std::string text = argument.substr(equals + 1);
  out.setting = FindSetting(name);
  if (out.setting == nullptr)
    return fmt::format("\"{}\" is no setting (langmon settings lists them)", name);
  const std::string field = out.setting->FieldName;
  if (!AcceptedBy(*out.setting).sendable)
    return fmt::format("{} cannot be sent: it has no presence bit, so the monitor never sends it",
                       field);
  const auto value = ParseSettingValue(text);
  if (!value) return fmt::format("{}={}: the value must be a number", field, text);
  if (!Accepts(*out.setting, *value))
    return fmt::format("{} does not take {}: it accepts {}", field, text,
                       DescribeAccepted(*out.setting));
  out.value = *value;
  return {};
}

// Every argument, with every refusal named.
std::vector<Assignment> ParseAll(const std::vector<std::string>& arguments,
                                 std::vector<std::string>& refusals) {
  std::vector<Assignment> assignments;
  for (const std::string& argument : arguments) {
    Assignment a;
    std::string why = Parse(argument, a);
    for (const Assignment& earlier : assignments)
      if (why.empty() && earlier.setting == a.setting)
        why = fmt::format("{} is given more than once", a.setting->FieldName);
    if (why.empty())
      assignments.push_back(a);
    else
      refusals.push_back(why);
  }
  return assignments;
}

// The values as the driver stores them, with "dwCfgFlags" selecting exactly
// them, so that "SetConfigObjects" sends these and nothing else.
int Store(const Options& options, const std::vector<Assignment>& assignments) {
  DWORD selected = 0;
  for (const Assignment& a : assignments) selected |= a.setting->PresenceBit;
  HKEY key = nullptr;
  std::string error;
  if (!CreateDriverDataKey(Utf8ToUtf16(options.printerName), key, error))
    return Fail(kFailed, "cannot store the settings", error);
  LONG rc = RegSetValueExW(key, kCfgFlagsValueName, 0, REG_DWORD,
                           reinterpret_cast<const BYTE*>(&selected), sizeof selected);
  for (const Assignment& a : assignments) {
    if (rc != ERROR_SUCCESS) break;
    rc = RegSetValueExW(key, a.setting->ValueName, 0, REG_DWORD,
                        reinterpret_cast<const BYTE*>(&a.value), sizeof a.value);
  }
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS)
    return Fail(kFailed, "cannot store the settings",
                "registry error: " + ports::Win32ErrorText(static_cast<DWORD>(rc)));
  return kSuccess;
}

}  // namespace

int CheckAssignments(const Options& options) {
  std::vector<std::string> refusals;
  ParseAll(options.assignments, refusals);
  if (refusals.empty()) return kSuccess;
  std::string cause;
  for (const std::string& why : refusals) cause += (cause.empty() ? "" : "; ") + why;
  return Fail(kUsage, "nothing was set", cause);
}

int RunSet(const Options& options) {
  if (int rc = CheckAssignments(options)) return rc;
  std::vector<std::string> refusals;
  const std::vector<Assignment> assignments = ParseAll(options.assignments, refusals);
  Session session(options);
  if (int rc = session.Open(options.verify)) return rc;
  if (int rc = Store(options, assignments)) return rc;
  return SendStoredSettings(session, options, "the command line");
}

}  // namespace langmon::cli

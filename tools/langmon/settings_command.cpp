#include <fmt/format.h>

#include <string>

#include "commands.h"
#include "config/settings.h"
#include "report.h"
#include "setting_values.h"
#include "text_encoding.h"

namespace langmon::cli {

using namespace langmon::host;

namespace {

nlohmann::ordered_json SettingJson(const Setting& s) {
  using Json = nlohmann::ordered_json;
  const AcceptedValues accepted = AcceptedBy(s);
  Json ranges = Json::array();
  for (const ValueRange& r : accepted.ranges) ranges.push_back({{"from", r.first}, {"to", r.last}});
  return {{"position", s.Position},
          {"name", s.FieldName},
          {"registryValue", Utf16ToUtf8(s.ValueName)},
          {"bit", s.PresenceBit != kNoPresenceBit ? Json(s.PresenceBit) : Json()},
          {"sendable", accepted.sendable},
          {"accepts", ranges}};
}

}  // namespace

// The settings table as a person or a script needs it to write settings:
// no port is opened.
int RunSettings(const Options&) {
  if (JsonOutput()) {
    nlohmann::ordered_json settings = nlohmann::ordered_json::array();
    for (const Setting& s : kSettings) settings.push_back(SettingJson(s));
    JsonResult()["settings"] = std::move(settings);
    return kSuccess;
  }
  std::string out = fmt::format("{:>3}  {:<15} {:<18} {:<8}  {}\n", "#", "Setting",
                                "Registry value", "Bit", "Accepts");
  for (const Setting& s : kSettings) {
    const bool hasBit = s.PresenceBit != kNoPresenceBit;
    out += fmt::format("{:>3}  {:<15} {:<18} {:<8}  {}\n", s.Position, s.FieldName,
                       Utf16ToUtf8(s.ValueName),
                       hasBit ? fmt::format("0x{:06X}", s.PresenceBit) : "-", DescribeAccepted(s));
  }
  Print(out);
  return kSuccess;
}

}  // namespace langmon::cli

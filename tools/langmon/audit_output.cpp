// What an audit came to, in words and as a CSV row, from its JSON object
// (audit_command.cpp makes it; a fleet worker sends it to the parent).
#include <fmt/format.h>
#include <fmt/ranges.h>

#include <string>
#include <vector>

#include "audit.h"
#include "fleet_output.h"

namespace langmon::cli {

namespace {

using Json = nlohmann::ordered_json;

// The settings compared, split by how they came out.
struct Findings {
  std::vector<std::string> differences;  // "Copies (printer 1, baseline 3)"
  std::vector<std::string> notCompared;  // "WideA4 (not answered)"
  std::size_t count = 0;
};

std::string Difference(const Json& c) {
  std::string text =
      fmt::format("{} (printer {}, baseline {}", c.value("name", ""),
                  c.value("printerValue", Json()).dump(), c.value("baselineValue", Json()).dump());
  if (c.value("expected", Json()) != c.value("baselineValue", Json()))
    text += fmt::format(", which reads back as {}", c.value("expected", Json()).dump());
  return text + ")";
}

Findings Find(const Json& result) {
  Findings f;
  const auto compared = result.find("compared");
  if (compared == result.end() || !compared->is_array()) return f;
  for (const Json& c : *compared) {
    ++f.count;
    const std::string outcome = c.value("result", "");
    if (outcome == "differs")
      f.differences.push_back(Difference(c));
    else if (outcome != "same")
      f.notCompared.push_back(fmt::format("{} ({})", c.value("name", ""), outcome));
  }
  return f;
}

std::string Settings(std::size_t n) { return n == 1 ? "1 setting" : fmt::format("{} settings", n); }

// Why a read that answered every setting the baseline selects was still
// not whole, or why nothing was compared.
std::string NotWhole(const Json& result, const Findings& f) {
  const std::string source = result.value("source", "");
  if (source != "printer")
    return fmt::format(
        "not read whole ({}): the printer did not answer, so none of the {} was "
        "compared",
        source, Settings(f.count));
  if (!f.notCompared.empty())
    return fmt::format("not read whole: {} of {} not compared: {}", f.notCompared.size(),
                       Settings(f.count), fmt::join(f.notCompared, ", "));
  return "not read whole: the printer left settings unanswered that the baseline does not select";
}

}  // namespace

std::string AuditOutcome(const Json& result) {
  const Findings f = Find(result);
  const bool whole = result.value("complete", false);
  if (whole && f.differences.empty())
    return f.count == 1 ? "as the baseline in its 1 setting"
                        : fmt::format("as the baseline in all {}", Settings(f.count));
  std::string text;
  if (!f.differences.empty())
    text = fmt::format("differs from the baseline in {} of {}: {}", f.differences.size(),
                       Settings(f.count), fmt::join(f.differences, ", "));
  if (whole) return text;
  return text.empty() ? NotWhole(result, f) : text + "; " + NotWhole(result, f);
}

std::string AuditCsvHeader() {
  return "uri,name,exitStatus,source,compliant,compared,differing,seconds,error,differences,"
         "notCompared\n";
}

std::string AuditCsvRow(const Json& result) {
  const Findings f = Find(result);
  const Json compliant = result.value("compliant", Json());
  return fmt::format(
      "{},{},{},{},{},{},{},{:.3f},{},{},{}\n", CsvField(result.value("uri", ""), true),
      CsvField(result.value("name", ""), true), result.value("exitStatus", 0),
      CsvField(result.value("source", ""), true), compliant.is_null() ? "" : compliant.dump(),
      result.contains("compared") ? std::to_string(f.count) : "",
      result.contains("compared") ? std::to_string(f.differences.size()) : "",
      result.value("seconds", 0.0), CsvField(ErrorText(result), true),
      CsvField(fmt::format("{}", fmt::join(f.differences, "; ")), true),
      CsvField(fmt::format("{}", fmt::join(f.notCompared, "; ")), true));
}

}  // namespace langmon::cli

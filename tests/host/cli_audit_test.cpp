// langmon audit: a printer, or a fleet, against a baseline .reg file. A
// printer read whole and as the baseline exits 0, one read whole that
// differs 5 with each setting and both values named, one not read whole 3
// whatever its record holds, and nothing is sent to the printer.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <future>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "build_paths.h"
#include "config/settings.h"
#include "misbehaving_server.h"
#include "process.h"

namespace langmon::host::testing {
namespace {

using Json = nlohmann::json;
using langmon::testing::MisbehavingServer;
using langmon::testing::Misbehaviour;

constexpr char kSetLine[] = "@PJL DMCMD ASCIIHEX=\"0400";

// A baseline: the stored settings of a printer whose name is not the
// audited printer's, as a backup of a reference printer would be.
std::string Baseline(const std::string& values) { return SettingsFile(values, "reference"); }

// Copies and Density as the simulated printer holds them unless told
// otherwise.
std::string AsTheSimulatedPrinter() {
  return Baseline("\"dwCfgFlags\"=dword:00000005\n\"dwCopies\"=dword:1\n\"dwDensity\"=dword:6\n");
}
// Copies as the simulated printer does not hold it.
std::string ThreeCopies() {
  return Baseline("\"dwCfgFlags\"=dword:00000005\n\"dwCopies\"=dword:3\n\"dwDensity\"=dword:6\n");
}

// A baseline of the monitor's built-in defaults (the record a printer that
// does not answer falls back to, value for value), for every setting with a
// presence bit on which the simulated printer's answers agree with them, so
// that the simulated printer matches it too; how many settings it holds.
std::size_t TheBuiltInDefaults(std::string& path) {
  const ProcessResult read = RunLangmon({"config", "--json"});
  const Json settings = Json::parse(read.out, nullptr, false).value("settings", Json::array());
  DWORD flags = 0;
  std::size_t count = 0;
  std::ostringstream values;
  values << std::hex;
  for (const Setting& s : kSettings) {
    const Json answered = settings.is_array() && settings.size() == kSettingCount
                              ? settings[s.Position - 1]["value"]
                              : Json();
    if (s.PresenceBit == kNoPresenceBit || answered != Json(s.Default)) continue;
    flags |= s.PresenceBit;
    ++count;
    const std::u16string name = s.ValueName;
    values << '"' << std::string(name.begin(), name.end()) << "\"=dword:" << s.Default << "\n";
  }
  std::ostringstream cfgFlags;
  cfgFlags << std::hex << flags;
  path = Baseline("\"dwCfgFlags\"=dword:" + cfgFlags.str() + "\n" + values.str());
  return count;
}

std::string PrintersFile(const std::string& lines) {
  const std::string path = TempPath("audit-printers.txt");
  WriteFile(path, lines);
  return path;
}

Json Parse(const ProcessResult& r) {
  Json json = Json::parse(r.out, nullptr, false);
  EXPECT_TRUE(json.is_object()) << r.out << r.err;
  return json.is_object() ? json : Json::object();
}

// The JSON lines of a fleet, by printer name.
std::map<std::string, Json> ByName(const std::string& out) {
  std::map<std::string, Json> objects;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    Json object = Json::parse(line, nullptr, false);
    EXPECT_TRUE(object.is_object()) << line;
    if (object.is_object()) objects[object.value("name", "")] = object;
  }
  return objects;
}

TEST(CliAudit, APrinterAsTheBaselineExitsZero) {
  const ProcessResult text = RunLangmon({"audit", AsTheSimulatedPrinter()});
  EXPECT_EQ(text.status, 0) << text.err;
  EXPECT_NE(text.out.find("Result:   as the baseline in all 2 settings\n"), std::string::npos)
      << text.out;
  const Json json = Parse(RunLangmon({"audit", AsTheSimulatedPrinter(), "--json"}));
  EXPECT_EQ(json["compliant"], true);
  EXPECT_EQ(json["source"], "printer");
  EXPECT_EQ(json["exitStatus"], 0);
}

// Each setting that differs is named with the printer's value and the
// baseline's, in text and in JSON.
TEST(CliAudit, ADifferingPrinterIsNamedWithTheSettingAndBothValues) {
  const ProcessResult text = RunLangmon({"audit", ThreeCopies()});
  EXPECT_EQ(text.status, 5) << text.err;
  EXPECT_NE(text.out.find("differs from the baseline in 1 of 2 settings: Copies (printer 1, "
                          "baseline 3)"),
            std::string::npos)
      << text.out;
  const ProcessResult json = RunLangmon({"audit", ThreeCopies(), "--json"});
  EXPECT_EQ(json.status, 5);
  const Json audit = Parse(json);
  EXPECT_EQ(audit["compliant"], false);
  EXPECT_EQ(audit["compared"][0],
            Json::parse(R"({"name": "Copies", "registryValue": "dwCopies", "printerValue": 1,
                            "baselineValue": 3, "expected": 3, "result": "differs"})"));
  EXPECT_EQ(audit["compared"][1]["result"], "same");
}

// A value the maps fold is compared as a printer that holds it reads it
// back: saver mode 5 goes out as 100 and reads back as 1.
TEST(CliAudit, AValueTheMapsFoldIsComparedAsItReadsBack) {
  const std::string folded =
      Baseline("\"dwCfgFlags\"=dword:00000008\n\"dwSaverMode\"=dword:00000005\n");
  const ProcessResult r = RunLangmon({"audit", folded, "--json"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Parse(r)["compared"][0]["expected"], 1);
}

// The one test that matters most: a printer that does not answer falls
// back to the built-in defaults, and a baseline of exactly those defaults
// must still not pass. The same baseline passes on a printer that answers
// with those values.
TEST(CliAudit, ASilentPrinterIsNeverCompliantEvenWhenItsFallbackMatches) {
  std::string baseline;
  ASSERT_GE(TheBuiltInDefaults(baseline), 10u) << "too few settings to mean anything";
  MisbehavingServer silent(Misbehaviour::NeverAnswer);
  const std::string file = TempPath("audit-silent.prn");
  auto fileRun = std::async(std::launch::async, [&] {
    return RunLangmon({"audit", baseline, "--json", "--printer", "file:" + file});
  });
  auto fleetRun = std::async(std::launch::async, [&] {
    return RunLangmon({"audit", baseline, "--json", "--printers",
                       PrintersFile(silent.Uri() + " silent\nsim: answering\n")});
  });
  const ProcessResult answering = RunLangmon({"audit", baseline, "--json"});
  EXPECT_EQ(answering.status, 0) << answering.err;
  const ProcessResult single = fileRun.get();
  EXPECT_EQ(single.status, 3) << single.err;
  const Json audit = Parse(single);
  EXPECT_EQ(audit["source"], "defaults") << "the baseline was loaded as stored settings";
  EXPECT_TRUE(audit["compliant"].is_null());
  EXPECT_EQ(audit["differing"], 0);
  EXPECT_NE(single.err.find("the printer did not answer; nothing was compared"), std::string::npos)
      << single.err;
  const ProcessResult fleet = fleetRun.get();
  EXPECT_EQ(fleet.status, 3) << fleet.err;
  auto objects = ByName(fleet.out);
  EXPECT_EQ(objects["silent"]["exitStatus"], 3);
  EXPECT_EQ(objects["answering"]["exitStatus"], 0);
}

// A printer that leaves a setting the baseline selects unanswered was not
// read whole: exit status 3, even though what it did answer differs, which
// is still named.
TEST(CliAudit, ASettingLeftUnansweredKeepsStatusThreeWhateverDiffers) {
  const std::string objects = TempPath("audit-no-copies.json");
  WriteFile(objects, R"({"objects": {"050103030104": null}})");
  const std::string baseline =
      Baseline("\"dwCfgFlags\"=dword:00000005\n\"dwCopies\"=dword:1\n\"dwDensity\"=dword:8\n");
  const ProcessResult r = RunLangmon({"audit", baseline, "--printer", "sim:" + objects});
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_NE(r.out.find("differs from the baseline in 1 of 2 settings: Density (printer 6, "
                       "baseline 8); not read whole: 1 of 2 settings not compared: Copies (not "
                       "answered)"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.err.find("not compared with the baseline: Copies (not answered)"), std::string::npos)
      << r.err;
  EXPECT_EQ(
      Parse(RunLangmon({"audit", baseline, "--json", "--printer", "sim:" + objects}))["compliant"],
      false);
}

// A fleet reads the baseline once, before its workers start: a pipe serves.
TEST(CliAudit, AFleetReadsTheBaselineOnce) {
  const ProcessResult r =
      RunLangmon({"audit", "/dev/stdin", "--printer", "sim:", "--printer", "sim:"},
                 ReadFile(AsTheSimulatedPrinter()));
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 2) << r.out;
}

// An audit reads and sends no setting: the printer's transcript holds the
// queries of a configuration read and no set line.
TEST(CliAudit, NothingIsSentToThePrinter) {
  const std::string transcript = TempPath("audit-transcript.bin");
  PrinterServer server({"--transcript", transcript});
  const ProcessResult r = RunLangmon({"audit", ThreeCopies(), "--printer", server.Uri()});
  EXPECT_EQ(r.status, 5) << r.err;
  server.Stop();
  const std::string received = ReadFile(transcript);
  EXPECT_NE(received.find("@PJL DMINFO"), std::string::npos) << "no configuration was read";
  EXPECT_EQ(received.find(kSetLine), std::string::npos) << "a setting was sent";
}

// A fleet's status is the worst of its printers': a printer not read whole
// outweighs one that differs, and a failure outweighs both.
TEST(CliAudit, AFleetEndsWithItsWorstPrintersStatus) {
  MisbehavingServer silent(Misbehaviour::NeverAnswer);
  MisbehavingServer closes(Misbehaviour::AcceptAndClose);
  PrinterServer differs;
  ASSERT_EQ(RunLangmon({"set", "Copies=3", "--printer", differs.Uri()}).status, 0);
  const std::string same = "sim: same\n";
  const std::string different = differs.Uri() + " different\n";
  const struct {
    std::string printers;
    int status;
    const char* summary;
  } cases[] = {
      {same + "sim: also\n", 0, ""},
      {same + different, 5, "langmon: 1 of 2 printers differ from the baseline: different\n"},
      {same + different + silent.Uri() + " silent\n", 3,
       "langmon: 1 of 3 printers did not answer fully: silent\n"},
      {different + closes.Uri() + " broken\n", 1, "langmon: 1 of 2 printers failed: broken\n"},
  };
  std::vector<std::future<ProcessResult>> runs;
  for (const auto& c : cases) {
    const std::string file = PrintersFile(c.printers);
    runs.push_back(std::async(std::launch::async, [file] {
      return RunLangmon({"audit", AsTheSimulatedPrinter(), "--printers", file});
    }));
  }
  for (std::size_t i = 0; i < runs.size(); ++i) {
    SCOPED_TRACE(cases[i].printers);
    const ProcessResult r = runs[i].get();
    EXPECT_EQ(r.status, cases[i].status) << r.out << r.err;
    EXPECT_NE(r.err.find(cases[i].summary), std::string::npos) << r.err;
  }
}

TEST(CliAudit, CsvHasOneRowPerPrinterWithItsDifferences) {
  const ProcessResult r =
      RunLangmon({"audit", ThreeCopies(), "--csv", "--printer", "sim:", "--printer", "sim:"});
  EXPECT_EQ(r.status, 5) << r.err;
  std::istringstream in(r.out);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 3u) << r.out;
  EXPECT_EQ(lines[0],
            "uri,name,exitStatus,source,compliant,compared,differing,seconds,error,differences,"
            "notCompared");
  for (const std::string& row : {lines[1], lines[2]}) {
    EXPECT_TRUE(row.starts_with("sim:,langmon-")) << row;
    EXPECT_NE(row.find(",5,printer,false,2,1,"), std::string::npos) << row;
    EXPECT_TRUE(row.ends_with(",\"Copies (printer 1, baseline 3)\",")) << row;
  }
}

// A difference nobody could read is no result: output that cannot be
// written ends the run with 1, not with 5.
TEST(CliAudit, OutputThatCannotBeWrittenEndsWithOneNotFive) {
  const int full = open("/dev/full", O_WRONLY);
  ASSERT_GE(full, 0);
  const ProcessResult r = RunWithStdout({build_paths::kCli, "audit", ThreeCopies()}, full);
  close(full);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << r.err;
}

// What audit cannot use is refused with exit status 2 before any printer
// is contacted, alone or in a fleet.
TEST(CliAudit, RefusesABaselineItCannotUseBeforeContactingAnyPrinter) {
  MisbehavingServer printer(Misbehaviour::NeverAnswer);
  const std::string twoPrinters = TempPath("two.reg");
  WriteFile(twoPrinters,
            "REGEDIT4\n\n[HKLM\\System\\CurrentControlSet\\Control\\Print\\Printers\\a\\"
            "PrinterDriverData]\n\"dwCfgFlags\"=dword:1\n\"dwCopies\"=dword:1\n"
            "[HKLM\\System\\CurrentControlSet\\Control\\Print\\Printers\\b\\PrinterDriverData]\n"
            "\"dwCfgFlags\"=dword:1\n\"dwCopies\"=dword:1\n");
  const struct {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"audit"}, "BASELINE.reg is required"},
      {{"audit", "/nonexistent/baseline.reg"}, "/nonexistent/baseline.reg"},
      {{"audit", Baseline("\"dwCopies\"=dword:xyz\n")}, ":4: dword value must be"},
      {{"audit", Baseline("\"dwCopies\"=dword:1\n")}, "selects no setting"},
      {{"audit", Baseline("\"dwCfgFlags\"=dword:0f000000\n")}, "selects no setting"},
      {{"audit", Baseline("\"dwCfgFlags\"=dword:5\n\"dwCopies\"=dword:1\n")},
       "selects Density, but the file holds no dword for it"},
      {{"audit", twoPrinters}, "holds the settings of 2 printers (\"a\", \"b\")"},
      {{"audit", ThreeCopies(), "--settings", ThreeCopies()}, "--settings is not for audit"},
  };
  for (const auto& c : cases)
    for (bool fleet : {false, true}) {
      SCOPED_TRACE(c.message + std::string(fleet ? " (fleet)" : ""));
      std::vector<std::string> args = c.args;
      args.insert(args.end(), {"--printer", printer.Uri()});
      if (fleet) args.insert(args.end(), {"--printer", printer.Uri()});
      const ProcessResult r = RunLangmon(args);
      EXPECT_EQ(r.status, 2) << r.err;
      EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
  EXPECT_EQ(printer.Connections(), 0u);
}

}  // namespace
}  // namespace langmon::host::testing

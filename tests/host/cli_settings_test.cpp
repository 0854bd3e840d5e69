// The langmon command's everyday settings work: listing the settings,
// setting single ones, backing the configuration up as a .reg file and
// restoring it, and verifying what was sent by reading it back.
#include <gtest/gtest.h>
#include <unistd.h>

#include <future>
#include <nlohmann/json.hpp>

#include "build_paths.h"
#include "misbehaving_server.h"
#include "process.h"

namespace langmon::host::testing {
namespace {

using langmon::testing::MisbehavingServer;
using langmon::testing::Misbehaviour;

const std::string kExamples = build_paths::kExamples;
constexpr char kSetLine[] = "@PJL DMCMD ASCIIHEX=\"0400";

nlohmann::json ParseJson(const ProcessResult& r) {
  auto json = nlohmann::json::parse(r.out, nullptr, false);
  EXPECT_TRUE(json.is_object()) << r.out << r.err;
  return json.is_object() ? json : nlohmann::json::object();
}

nlohmann::json Setting(const nlohmann::json& config, const std::string& name) {
  for (const auto& s : config["settings"])
    if (s["name"] == name) return s;
  ADD_FAILURE() << "no setting " << name;
  return {};
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(CliSettings, ListsEverySettingWithItsBitAndWhatItAccepts) {
  const ProcessResult text = RunLangmon({"settings"});
  EXPECT_EQ(text.status, 0) << text.err;
  EXPECT_EQ(Count(text.out, "\n"), 27u);  // a heading and 26 settings
  for (const char* line :
       {"  3  Density         dwDensity          0x000004  4 to 8\n",
        "  9  InstalledMem    dwInstalledMem     -         not sent: read from the printer only\n",
        " 17  Resolution      dwResolution       0x004000  9 to 11\n"})
    EXPECT_NE(text.out.find(line), std::string::npos) << line << text.out;

  const nlohmann::json json = ParseJson(RunLangmon({"settings", "--json"}));
  ASSERT_EQ(json["settings"].size(), 26u);
  const nlohmann::json density = json["settings"][2];
  EXPECT_EQ(density["registryValue"], "dwDensity");
  EXPECT_EQ(density["bit"], 4);
  EXPECT_EQ(density["accepts"], nlohmann::json::parse(R"([{"from": 4, "to": 8}])"));
  EXPECT_EQ(json["settings"][8]["sendable"], false);
}

TEST(CliSettings, SetSendsExactlyTheNamedSettings) {
  const std::string out = TempPath("set.prn");
  // Stored settings selecting other values do not go out with them.
  const ProcessResult r = RunLangmon({"set", "dwResolution=9", "copies=0x4", "--printer",
                                      "file:" + out, "--settings", kExamples + "/settings.reg"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "SetConfigObjects: sent 2 settings to the printer: Copies, Resolution\n");
  const std::string written = ReadFile(out);
  EXPECT_EQ(Count(written, kSetLine), 2u);
  EXPECT_NE(written.find("@PJL DMCMD ASCIIHEX=\"040005010303010408020004\"\r\n"), std::string::npos)
      << written;
  EXPECT_NE(written.find("@PJL DMCMD ASCIIHEX=\"0400050103030108080300012C\"\r\n"),
            std::string::npos)
      << written;
}

TEST(CliSettings, SetRefusesWhatCannotBeSentAndNamesEachOne) {
  const std::string out = TempPath("refused.prn");
  const struct {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"Bogus=1"}, "\"Bogus\" is no setting (langmon settings lists them)"},
      {{"InstalledMem=4"}, "InstalledMem cannot be sent: it has no presence bit"},
      {{"TestPage=19"}, "TestPage cannot be sent"},
      {{"Density=9"}, "Density does not take 9: it accepts 4 to 8"},
      {{"Copies=three"}, "Copies=three: the value must be a number"},
      {{"Copies"}, "\"Copies\" is not NAME=VALUE"},
      {{"Copies=1", "copies=2"}, "Copies is given more than once"},
      {{"Copies=1", "Smoothing=0", "Lang=x"}, "Smoothing does not take 0: it accepts 1, 2; Lang=x"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), "set");
    args.insert(args.end(), {"--printer", "file:" + out});
    SCOPED_TRACE(args[1]);
    const ProcessResult r = RunLangmon(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find(std::string("langmon: error: nothing was set: ")), std::string::npos);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(access(out.c_str(), F_OK), -1) << "the port was opened";
  }
}

// Backup and restore against one printer that keeps its state between runs.
TEST(CliSettings, ConfigRegWritesABackupThatApplyRestores) {
  PrinterServer server;
  const std::string backup = TempPath("backup.reg");
  const ProcessResult saved = RunLangmon({"config", "--reg", backup, "--printer", server.Uri()});
  EXPECT_EQ(saved.status, 0) << saved.err;
  EXPECT_NE(saved.out.find("Saved 25 settings to " + backup + " (dwCfgFlags 0x00DBFFFF)\n"),
            std::string::npos)
      << saved.out;
  // UTF-16LE with a byte-order mark, CR LF line ends, lowercase dwords.
  const std::string bytes = ReadFile(backup);
  ASSERT_EQ(bytes.substr(0, 2), "\xFF\xFE");
  std::string text;
  for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
    EXPECT_EQ(bytes[i + 1], '\0');
    text += bytes[i];
  }
  const std::string head =
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Print\\Printers\\langmon"
      "\\PrinterDriverData]\r\n"
      "\"dwCfgFlags\"=dword:00dbffff\r\n\"dwCopies\"=dword:00000001\r\n";
  EXPECT_EQ(text.substr(0, head.size()), head);

  const ProcessResult changed =
      RunLangmon({"set", "Copies=5", "Density=4", "--printer", server.Uri()});
  EXPECT_EQ(changed.status, 0) << changed.err;
  const ProcessResult restored =
      RunLangmon({"apply", "--settings", backup, "--verify", "--printer", server.Uri()});
  EXPECT_EQ(restored.status, 0) << restored.err;
  EXPECT_NE(restored.out.find("sent 22 settings"), std::string::npos) << restored.out;
  EXPECT_NE(restored.out.find("verified: the printer reads back 22 settings as sent\n"),
            std::string::npos)
      << restored.out;

  const nlohmann::json config =
      ParseJson(RunLangmon({"config", "--json", "--printer", server.Uri()}));
  EXPECT_EQ(Setting(config, "Copies")["value"], 1);
  EXPECT_EQ(Setting(config, "Density")["value"], 6);
}

std::string ObjectsFile(const std::string& json) {
  const std::string path = TempPath("objects.json");
  WriteFile(path, json);
  return path;
}

TEST(CliSettings, BackupHoldsOnlyWhatThePrinterAnswered) {
  const std::string partial = TempPath("partial.reg");
  const ProcessResult r =
      RunLangmon({"config", "--reg", partial, "--printer",
                  "sim:" + ObjectsFile(R"({"objects": {"050103030104": null}})")});
  EXPECT_EQ(r.status, 3) << r.err;  // Copies unanswered
  EXPECT_NE(r.out.find("Saved 24 settings to " + partial + " (dwCfgFlags 0x00DBFFFE)"),
            std::string::npos)
      << r.out;
  const ProcessResult restored =
      RunLangmon({"apply", "--settings", partial, "--printer", "file:" + TempPath("restore.prn")});
  EXPECT_EQ(restored.status, 0) << restored.err;
  EXPECT_EQ(restored.out.find("Copies"), std::string::npos) << restored.out;
  EXPECT_NE(restored.out.find("sent 21 settings"), std::string::npos) << restored.out;
}

// A backup that would not hold the printer's settings, or cannot be
// written, is refused and leaves the file that was there.
TEST(CliSettings, BackupIsRefusedWithoutAnswersOrRoomAndKeepsTheOldFile) {
  const std::string silent = "sim:" + ObjectsFile(R"({"faults": {"silent": true}})");
  const std::string none = "sim:" + ObjectsFile(R"({"defaults": false})");
  const struct {
    std::string printer;
    std::string file;
    bool oldFile;  // a backup is there before the run
    int status;
    std::string message;
  } cases[] = {
      {silent, TempPath("old.reg"), true, 3,
       ": the printer did not answer, so the record holds no settings of the printer"},
      {none, TempPath("old.reg"), true, 3, ": the printer answered none of the settings"},
      {"sim:", "/nonexistent/backup.reg", false, 1,
       "cannot write /nonexistent/backup.reg: No such file or directory"},
      {"sim:", "/dev/full", false, 1, "cannot write /dev/full: No space left on device"},
  };
  std::vector<std::future<ProcessResult>> runs;  // the silent printer costs the 5 s probe
  for (const auto& c : cases) {
    if (c.oldFile) WriteFile(c.file, "old backup");
    runs.push_back(std::async(std::launch::async, [&c] {
      return RunLangmon({"config", "--reg", c.file, "--printer", c.printer});
    }));
  }
  for (std::size_t i = 0; i < runs.size(); ++i) {
    const auto& c = cases[i];
    SCOPED_TRACE(c.file);
    const ProcessResult r = runs[i].get();
    EXPECT_EQ(r.status, c.status) << r.err;
    const std::string shown = c.oldFile ? "not writing " + c.file + c.message : c.message;
    EXPECT_NE(r.err.find("langmon: error: " + shown), std::string::npos) << r.err;
    if (c.oldFile) {
      EXPECT_EQ(ReadFile(c.file), "old backup");
    }
  }
}

TEST(CliSettings, VerifyNamesSettingsThatDidNotTakeOrCouldNotBeReadBack) {
  // FuserTempTray1 0xFFFF0000 goes out as a 2-byte negative number, which
  // the printer keeps as 0: it reads back as 60.
  const std::string unsendable = SettingsFile(
      "\"dwCfgFlags\"=dword:00000021\n\"dwCopies\"=dword:3\n"
      "\"dwFuserTempTray1\"=dword:ffff0000\n");
  const std::string noCopies = "sim:" + ObjectsFile(R"({"objects": {"050103030104": null}})");
  const struct {
    std::vector<std::string> args;
    int status;
    std::string message;
  } cases[] = {
      {{"apply", "--settings", unsendable},
       1,
       "langmon: error: SetConfigObjects did not take: FuserTempTray1 (expected 4294901760, read "
       "back 60)"},
      {{"set", "Copies=3", "Density=5", "--printer", noCopies},
       3,
       "langmon: warning: cannot verify Copies: the printer did not answer them"},
      {{"set", "Copies=3", "--printer", "file:" + TempPath("verify.prn")},
       3,
       "langmon: warning: cannot verify: the printer did not answer when the configuration was "
       "read back"},
  };
  std::vector<std::future<ProcessResult>> runs;  // the file port costs the 5 s probe
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--verify", "--json"});
    runs.push_back(std::async(std::launch::async, [args] { return RunLangmon(args); }));
  }
  for (std::size_t i = 0; i < runs.size(); ++i) {
    SCOPED_TRACE(cases[i].args[0]);
    const ProcessResult r = runs[i].get();
    EXPECT_EQ(r.status, cases[i].status) << r.err;
    EXPECT_NE(r.err.find(cases[i].message), std::string::npos) << r.err;
    const nlohmann::json json = ParseJson(r);
    EXPECT_EQ(json["exitStatus"], cases[i].status);
    EXPECT_TRUE(json["verify"].is_object()) << r.out;
  }
  const nlohmann::json different = ParseJson(
      RunLangmon({"apply", "--settings", unsendable, "--verify", "--json"}))["verify"]["different"];
  EXPECT_EQ(different,
            nlohmann::json::parse(
                R"([{"name": "FuserTempTray1", "expected": 4294901760, "readBack": 60}])"));
}

// A printer name the driver-data key path cannot hold, or that a backup's
// key line cannot hold, is refused before any port opens, named shortened.
TEST(CliSettings, PrinterNamesTheKeyPathOrABackupCannotHoldAreRefusedBeforeAnyPortOpens) {
  MisbehavingServer printer(Misbehaviour::NeverAnswer);
  const std::string longName(300, 'q');
  const std::string backup = TempPath("refused.reg");
  const std::vector<std::vector<std::string>> runs = {
      {"config", "--printer-name", longName},
      {"apply", "--settings", kExamples + "/settings.reg", "--printer-name", longName},
      {"set", "Copies=2", "--printer-name", longName},
      {"testpage", "--page", "19", "--printer-name", longName},
      {"config", "--reg", backup, "--printer-name", "new\nline"},
  };
  for (std::vector<std::string> args : runs) {
    SCOPED_TRACE(args[0]);
    args.insert(args.end(), {"--printer", printer.Uri()});
    const ProcessResult r = RunLangmon(args);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_EQ(r.err.rfind("langmon: error: --printer-name cannot be used: the printer name ", 0),
              0u)
        << r.err;
    EXPECT_LT(r.err.size(), 300u) << "a long name is shortened";
  }
  EXPECT_EQ(printer.Connections(), 0u);
  EXPECT_EQ(ReadFile(backup), "") << "no backup written";
  const ProcessResult fleet =
      RunLangmon({"config", "--printer", printer.Uri(), "--printer", "sim:", "--printers", [&] {
                    const std::string path = TempPath("long-name.txt");
                    WriteFile(path, "sim: " + longName + "\n");
                    return path;
                  }()});
  EXPECT_EQ(fleet.status, 2) << fleet.err;
  EXPECT_NE(fleet.err.find("long-name.txt:1: the printer name \"qqq"), std::string::npos)
      << fleet.err;
  EXPECT_EQ(printer.Connections(), 0u);
}

}  // namespace
}  // namespace langmon::host::testing

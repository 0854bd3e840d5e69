// What the langmon command answers a script: the exit status that tells a
// full read from a partial one or a fallback, JSON for every command and
// its errors, and output that cannot be written.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "build_paths.h"
#include "process.h"

namespace langmon::host::testing {
namespace {

const std::string kExamples = build_paths::kExamples;

nlohmann::json ParseJson(const ProcessResult& r) {
  auto json = nlohmann::json::parse(r.out, nullptr, false);
  EXPECT_TRUE(json.is_object()) << r.out << r.err;
  return json.is_object() ? json : nlohmann::json::object();
}

std::string ObjectsFile(const std::string& json) {
  const std::string path = TempPath("objects.json");
  WriteFile(path, json);
  return path;
}

// Printers that answer the probe, then all, some or none of the queries.
// An object the printer lacks is answered without a value, so these runs
// need no time-out.
TEST(CliAnswers, ExitStatusTellsAFullReadFromAPartialOne) {
  const struct {
    const char* what;
    std::string objects;
    int status;
    int answered;  // settings with a presence bit whose "answered" is true
    const char* tableLine;
  } cases[] = {
      {"every object", "{}", 0, 22,
       "  1  Copies          dwCopies                    1  0x000001  yes"},
      {"no copies object", R"({"objects": {"050103030104": null}})", 3, 21,
       "  1  Copies          dwCopies                    -  0x000001  no"},
      {"no objects at all", R"({"defaults": false})", 3, 0,
       "Source:   the printer (0 of 22 settings with a presence bit answered, 15 not answered, 7 "
       "not asked)"},
      // Without tray 3 and PostScript the read skips what depends on them:
      // nothing is missing.
      {"no tray 3, no PostScript",
       R"({"objects": {"07020802010d0103": null, "07020f0101020105": 0}})", 0, 17,
       "  8  FuserTempTray3  dwFuserTempTray3            -  0x000080  not asked"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string printer = "sim:" + ObjectsFile(c.objects);
    const ProcessResult table = RunLangmon({"config", "--printer", printer});
    EXPECT_EQ(table.status, c.status) << table.err;
    EXPECT_NE(table.out.find(c.tableLine), std::string::npos) << table.out;
    EXPECT_EQ(table.err.find("warning: the printer did not answer") != std::string::npos,
              c.status == 3)
        << table.err;
    const ProcessResult json = RunLangmon({"config", "--json", "--printer", printer});
    EXPECT_EQ(json.status, c.status);
    const nlohmann::json config = ParseJson(json);
    EXPECT_EQ(config["exitStatus"], c.status);
    EXPECT_EQ(config["complete"], c.status == 0);
    int answered = 0;
    for (const auto& s : config["settings"])
      answered += !s["bit"].is_null() && s["answered"] == true;
    EXPECT_EQ(answered, c.answered);
  }
}

// Every command prints one JSON object with --json, wherever the option
// stands.
TEST(CliAnswers, EveryCommandAnswersInJson) {
  const struct {
    std::vector<std::string> args;
    const char* member;
    nlohmann::json value;
  } cases[] = {
      {{"--json", "config"}, "source", "printer"},
      {{"settings", "--json"}, "settings", nullptr},
      {{"testpage", "--page", "19", "--json"}, "page", "DEMOPAGE"},
      {{"device-id", "--json"}, "deviceId", nullptr},
      {{"apply", "--json", "--settings", kExamples + "/settings.reg"}, "sent", nullptr},
      {{"set", "Copies=2", "--json"}, "sent", nlohmann::json::array({"Copies"})},
      {{"print", "-", "--json", "--job-id", "9"}, "released", true},
      {{"--version", "--json"}, "version", nullptr},
      {{"--json", "config", "--help"}, "help", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    const ProcessResult r = RunLangmon(c.args, "job data");
    EXPECT_EQ(r.status, 0) << r.err;
    const nlohmann::json json = ParseJson(r);
    EXPECT_EQ(json["exitStatus"], 0);
    ASSERT_TRUE(json.contains(c.member)) << r.out;
    if (!c.value.is_null()) {
      EXPECT_EQ(json[c.member], c.value);
    }
  }
}

TEST(CliAnswers, ErrorsInJsonNameWhatFailedWhyAndTheStatus) {
  const struct {
    std::vector<std::string> args;
    int status;
    const char* error;
    const char* cause;
  } cases[] = {
      {{"--json", "bogus"}, 2, "unknown command \"bogus\"", "the commands are config"},
      {{"--json", "config", "--nope"}, 2, "wrong command line", "--nope"},
      {{"--json", "config", "--port", ""}, 2, "--port is empty", "spooler port name"},
      {{"--json", "config", "--printer", "lpd://host"}, 2, "bad device URI", "unknown scheme"},
      {{"--json", "print", "/nonexistent.prn"}, 2, "cannot open /nonexistent.prn", "No such file"},
      {{"--json", "set", "Density=9"}, 2, "nothing was set", "it accepts 4 to 8"},
      {{"--json", "config", "--port", "COM1:"}, 1, "GetConfigObjects failed", "COM1: is not one"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[1]);
    const ProcessResult r = RunLangmon(c.args);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_NE(r.err.find("langmon: error: "), std::string::npos) << r.err;
    const nlohmann::json json = ParseJson(r);
    EXPECT_EQ(json["exitStatus"], c.status);
    EXPECT_EQ(json.value("error", ""), c.error);
    EXPECT_NE(json.value("cause", "").find(c.cause), std::string::npos) << r.out;
  }
}

// A full disk or a reader that went away: the run fails and says so
// instead of ending as if all had been written.
TEST(CliAnswers, OutputThatCannotBeWrittenFailsTheRun) {
  int closed[2];
  ASSERT_EQ(pipe(closed), 0);
  close(closed[0]);
  const int full = open("/dev/full", O_WRONLY);
  ASSERT_GE(full, 0);
  const struct {
    int out;
    std::vector<std::string> args;
    const char* reason;
  } cases[] = {
      {full, {"config"}, "No space left on device"},
      {full, {"config", "--json"}, "No space left on device"},
      {full, {"settings"}, "No space left on device"},
      {closed[1], {"config"}, "Broken pipe"},
      {closed[1], {"device-id", "--json"}, "Broken pipe"},
      // The version, and a fleet's lines, name the cause as every run does.
      {full, {"--version"}, "No space left on device"},
      {closed[1], {"--version"}, "Broken pipe"},
      {full, {"config", "--printer", "sim:", "--printer", "sim:"}, "No space left on device"},
      {closed[1], {"config", "--json", "--printer", "sim:", "--printer", "sim:"}, "Broken pipe"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), build_paths::kCli);
    SCOPED_TRACE(c.args[0] + " " + c.reason);
    const ProcessResult r = RunWithStdout(args, c.out);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find(std::string("langmon: error: cannot write the output: ") + c.reason),
              std::string::npos)
        << r.err;
  }
  close(closed[1]);
  close(full);
}

}  // namespace
}  // namespace langmon::host::testing

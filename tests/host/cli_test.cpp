// The langmon command run as a process against the in-process simulated
// printer and the local port monitors.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <future>
#include <nlohmann/json.hpp>

#include "build_paths.h"
#include "process.h"

extern char** environ;

namespace langmon::host::testing {
namespace {

const std::string kCli = build_paths::kCli;
const std::string kGolden = build_paths::kGolden;
const std::string kExamples = build_paths::kExamples;

ProcessResult Langmon(std::vector<std::string> args, const std::string& input = "") {
  args.insert(args.begin(), kCli);
  return Run(args, input);
}

TEST(Cli, ConfigTableMatchesTheGoldenFile) {
  const ProcessResult r = Langmon({"config"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");  // stderr is no terminal: no progress line
  EXPECT_EQ(r.out, ReadFile(kGolden + "/config_sim.txt"));
}

TEST(Cli, ConfigJsonMatchesTheGoldenFile) {
  const ProcessResult r = Langmon({"config", "--json", "--printer", "sim:"});
  EXPECT_EQ(r.status, 0) << r.err;
  const auto json = nlohmann::json::parse(r.out, nullptr, false);
  ASSERT_FALSE(json.is_discarded()) << r.out;
  EXPECT_EQ(json, nlohmann::json::parse(ReadFile(kGolden + "/config_sim.json")));
  EXPECT_EQ(json["cfgFlags"], 0xDBFFFF);
  EXPECT_EQ(json["settings"].size(), 26u);
}

// A printer that does not answer costs the monitor its 5-second ECHO probe,
// so the runs that need one go side by side.
TEST(Cli, UnansweredProbeFallsBackToStoredSettingsOrDefaults) {
  const std::string silent = TempPath("silent.json");
  WriteFile(silent, R"({"faults": {"silent": true}})");
  const std::string settings = SettingsFile(
      "\"dwCfgFlags\"=dword:00000001\n\"dwCopies\"=dword:00000004\n\"dwPaperSize\"=dword:0000002b"
      "\n");
  auto defaults = std::async(std::launch::async, [&] {
    return Langmon({"config", "--json", "--printer", "sim:" + silent});
  });
  auto stored = std::async(std::launch::async, [&] {
    return Langmon({"config", "--json", "--printer", "sim:" + silent, "--settings", settings});
  });
  // Values of another printer's key do not count as stored settings.
  auto otherPrinter = std::async(std::launch::async, [&] {
    return Langmon({"config", "--printer", "sim:" + silent, "--settings", settings,
                    "--printer-name", "Other"});
  });

  // Exit status 3: the answer did not come from the printer.
  const ProcessResult d = defaults.get();
  ASSERT_EQ(d.status, 3) << d.err;
  const auto dj = nlohmann::json::parse(d.out);
  EXPECT_EQ(dj["source"], "defaults");
  EXPECT_EQ(dj["cfgFlags"], 0x0FFFFFFF);
  EXPECT_EQ(dj["settings"][8]["value"], 2097152);  // InstalledMem default

  const ProcessResult s = stored.get();
  ASSERT_EQ(s.status, 3) << s.err;
  const auto sj = nlohmann::json::parse(s.out);
  EXPECT_EQ(sj["source"], "stored-settings");
  EXPECT_EQ(sj["cfgFlags"], 0x0FFFFFFF);
  EXPECT_EQ(sj["settings"][0]["value"], 4);         // dwCopies
  EXPECT_EQ(sj["settings"][13]["value"], 43);       // dwPaperSize, never mapped
  EXPECT_EQ(sj["settings"][8]["value"], 20480000);  // InstalledMem fallback

  const ProcessResult o = otherPrinter.get();
  EXPECT_EQ(o.status, 3) << o.err;
  EXPECT_NE(o.out.find("Source:   built-in defaults"), std::string::npos) << o.out;
  EXPECT_NE(o.err.find("warning: " + settings +
                       ": left out 1 key of another printer (this run uses "
                       "printer \"Other\""),
            std::string::npos)
      << o.err;
}

// Runs langmon with its standard error on a terminal; returns what the
// terminal showed.
std::string TerminalStderr(std::vector<std::string> args) {
  args.insert(args.begin(), kCli);
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  grantpt(master);
  unlockpt(master);
  const std::string slave = ptsname(master);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, slave.c_str(), O_RDWR | O_NOCTTY, 0);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  EXPECT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  std::string shown;
  pollfd p{master, POLLIN, 0};
  while (poll(&p, 1, 10000) > 0) {
    char buffer[4096];
    const ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0) break;  // EIO once the program has closed the terminal
    shown.append(buffer, static_cast<std::size_t>(n));
  }
  const int status = WaitForExit(pid, "langmon", std::chrono::seconds(120));
  close(master);
  EXPECT_EQ(status, 0);
  return shown;
}

TEST(Cli, ProgressLineOnlyOnATerminalAndNotWhenQuiet) {
  const std::string shown = TerminalStderr({"config"});
  EXPECT_NE(shown.find("\r\x1b[Kreading configuration: waiting for the printer to answer"),
            std::string::npos)
      << shown;
  EXPECT_NE(shown.find("\r\x1b[Kreading configuration: Copies (1 of 25)"), std::string::npos);
  EXPECT_NE(shown.find("\r\x1b[Kreading configuration: Tray3Installed (7 of 25)"),
            std::string::npos);
  EXPECT_NE(shown.find("\r\x1b[Kreading configuration: WideA4 (25 of 25)\r\x1b[K"),
            std::string::npos);
  EXPECT_EQ(shown.substr(shown.size() - 4), "\r\x1b[K");  // wiped at the end
  EXPECT_EQ(TerminalStderr({"config", "--quiet"}), "");
  EXPECT_EQ(TerminalStderr({"testpage", "--page", "17"}), "");  // only configuration reads
  // A print job shows bytes, share and rate.
  const std::string job = TempPath("job.prn");
  WriteFile(job, std::string(100000, 'j'));
  const std::string printed = TerminalStderr({"print", job});
  EXPECT_NE(printed.find("\r\x1b[Kprinting: 100.0 kB of 100.0 kB (100%), "), std::string::npos)
      << printed;
  EXPECT_EQ(TerminalStderr({"print", job, "--quiet"}), "");
}

TEST(Cli, ApplySendsTheSelectedSettingsInOneBlock) {
  const std::string out = TempPath("apply.prn");
  const ProcessResult r =
      Langmon({"apply", "--settings", kExamples + "/settings.reg", "--printer", "file:" + out});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "SetConfigObjects: sent 5 settings to the printer: Copies, Density, PaperSize, "
            "Resolution, SaverMode\n");
  EXPECT_EQ(ReadFile(out),
            "\x1b%-12345X@PJL \n"
            "@PJL DMCMD ASCIIHEX=\"040005010303010408020003\"\r\n"
            "@PJL DMCMD ASCIIHEX=\"040005010401010508020005\"\r\n"
            "@PJL DMCMD ASCIIHEX=\"040005010303010d040103\"\r\n"
            "@PJL DMCMD ASCIIHEX=\"0400050103030108080300012C\"\r\n"
            "@PJL DMCMD ASCIIHEX=\"040005010401060708020000\"\r\n"
            "\x1b%-12345X");
}

TEST(Cli, ApplyTraceShowsTheSetLineAsSent) {
  const ProcessResult r = Langmon({"apply", "--trace", "--settings",
                                   SettingsFile("\"dwCfgFlags\"=dword:00000020\n"
                                                "\"dwFuserTempTray1\"=dword:0000003d\n")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "SetConfigObjects: sent 1 setting to the printer: FuserTempTray1\n");
  // Driver 61 goes out as -1 with type 9: word 0x2402, value FFFF.
  EXPECT_NE(r.err.find("-> @PJL DMCMD ASCIIHEX=\"0400070104010303010d2402FFFF\"<CR><LF>"),
            std::string::npos)
      << r.err;
}

TEST(Cli, TestPageFollowsTheStoredOrGivenPageNumber) {
  const struct {
    std::vector<std::string> args;
    const char* page;
  } cases[] = {
      {{"testpage", "--page", "21"}, "PSTYPEFACELIST"},
      {{"testpage", "--page", "18"}, "PCLTYPELIST"},
      {{"testpage", "--page", "22"}, "DEMOPAGE"},
      {{"testpage", "--page", "4294967295"}, "SELFTEST"},
      {{"testpage", "--settings", kExamples + "/settings.reg"}, "PSTYPEFACELIST"},
  };
  for (const auto& c : cases) {
    const ProcessResult r = Langmon(c.args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              std::string("PrintTestPage: the printer was asked for test page ") + c.page + "\n");
  }
}

TEST(Cli, DeviceIdComesFromTheSimulatedPrinter) {
  const std::string objects = TempPath("id.json");
  WriteFile(objects, R"({"deviceId": "MFG:Test;MDL:Model 7;"})");
  ProcessResult r = Langmon({"device-id"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind("MFG:", 0), 0u) << r.out;
  r = Langmon({"device-id", "--printer", "sim:" + objects});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "MFG:Test;MDL:Model 7;\n");
}

TEST(Cli, PrintSendsOneJobAndReportsItsRelease) {
  const std::string out = TempPath("job.prn");
  std::string data;
  for (int i = 0; i < 5000; ++i) data += "line " + std::to_string(i) + "\r\n";
  data += std::string("\0\x1b\xff", 3);
  const ProcessResult r =
      Langmon({"print", "-", "--job-id", "7", "--printer", "file:" + out, "--port", "FILE:"}, data);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "job 7: sent " + std::to_string(data.size()) + " bytes to FILE: (file:" + out +
                       ")\njob 7 released\n");
  EXPECT_EQ(ReadFile(out), data);

  const std::string in = TempPath("job.txt");
  WriteFile(in, "hello");
  const ProcessResult t = Langmon({"print", in, "--trace"});
  EXPECT_EQ(t.status, 0) << t.err;
  EXPECT_EQ(t.out, "job 1: sent 5 bytes to LPT1: (sim:)\njob 1 released\n");
  for (const char* line :
       {"-- start document, job 1: ok", "-- spooler: OpenPrinter \"langmon\": ok", "-> hello",
        "-- spooler: SetJob job 1, command 3 (JOB_CONTROL_CANCEL): ok",
        "-- spooler: ClosePrinter: ok"})
    EXPECT_NE(t.err.find(line), std::string::npos) << line << "\n" << t.err;
}

// "[   0.004] -> text": seconds with three decimals, a direction, the text.
bool IsTraceLine(const std::string& line) {
  const std::size_t close = line.find("] ");
  if (line.empty() || line[0] != '[' || close == std::string::npos || close < 6) return false;
  const std::string stamp = line.substr(1, close - 1);
  const std::size_t dot = stamp.find('.');
  if (dot == std::string::npos || stamp.size() - dot - 1 != 3) return false;
  for (std::size_t i = 0; i < stamp.size(); ++i) {
    const char c = stamp[i];
    if (i != dot && !(c >= '0' && c <= '9') && !(c == ' ' && i < dot)) return false;
  }
  const std::string direction = line.substr(close + 2, 3);
  return direction == "-> " || direction == "<- " || direction == "-- " || direction == "!! ";
}

TEST(Cli, TraceShowsBothDirectionsWithTimestampsAndVisibleControlBytes) {
  const ProcessResult r = Langmon({"config", "--trace", "--quiet"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, ReadFile(kGolden + "/config_sim.txt"));
  std::size_t lines = 0, sent = 0, received = 0;
  std::size_t start = 0;
  while (start < r.err.size()) {
    const std::size_t end = r.err.find('\n', start);
    const std::string text = r.err.substr(start, end - start);
    EXPECT_TRUE(IsTraceLine(text)) << text;
    sent += text.find("] -> ") != std::string::npos;
    received += text.find("] <- ") != std::string::npos;
    ++lines;
    start = end + 1;
  }
  // Entry text, ECHO, 25 queries, exit text out; ECHO and 25 replies back.
  EXPECT_EQ(sent, 28u);
  EXPECT_EQ(received, 26u * 2 + 25);  // repeated line and <FF>, plus a record per query
  EXPECT_NE(r.err.find("] -> <ESC>%-12345X@PJL <LF>\n"), std::string::npos);
  EXPECT_NE(r.err.find("] -> <ESC>%-12345X\n"), std::string::npos);
  EXPECT_NE(r.err.find("] <- <FF>\n"), std::string::npos);
  EXPECT_NE(r.err.find("] -- time-outs: read interval 10 ms, total 10 ms"), std::string::npos);
}

struct Refusal {
  std::vector<std::string> args;
  int status;
  std::string message;
};

// Command lines that are refused, with the status and the message that
// names the cause.
std::vector<Refusal> Refusals() {
  const std::string badReg = TempPath("bad.reg");
  WriteFile(badReg, "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\X]\n\"dwCopies\"=dword:xyz\n");
  const std::string badJson = TempPath("bad.json");
  WriteFile(badJson, R"({"objects": {"zz": 1}})");
  const std::string noTestPage = SettingsFile("\"dwCopies\"=dword:1\n");
  const std::vector<Refusal> cases = {
      {{}, 2, "langmon: error: a command is required: config, apply, set, settings"},
      {{"status"}, 2, "langmon: error: unknown command \"status\": the commands are config"},
      {{"config", "extra"}, 2, "the argument \"extra\" was not expected"},
      {{"config", "--port", ""}, 2, "langmon: error: --port is empty"},
      {{"config", "--printer", ""}, 2, "langmon: error: --printer is empty"},
      {{"config", "--printer-name", ""}, 2, "langmon: error: --printer-name is empty"},
      {{"apply", "--settings", ""}, 2, "langmon: error: --settings is empty"},
      {{"config", "--printer", "lpd://host/queue"},
       2,
       "langmon: error: bad device URI \"lpd://host/queue\": unknown scheme \"lpd\""},
      {{"config", "--printer", "socket://host:99999"}, 2, "1 to 65535"},
      {{"config", "--settings", "/nonexistent.reg"},
       2,
       "langmon: error: /nonexistent.reg: cannot open the .reg file: No such file or directory"},
      {{"config", "--settings", badReg}, 2, badReg + ":4: dword value must be 1 to 8"},
      {{"config", "--printer", "sim:" + badJson}, 2, "objects.zz"},
      {{"config", "--printer", "sim:/nonexistent.json"}, 2, "/nonexistent.json"},
      {{"print", "/nonexistent.prn"}, 2, "cannot open /nonexistent.prn: No such file"},
      {{"print"}, 2, "FILE is required"},
      {{"config", "--timeout", "0"}, 2, "--timeout: must be a number of seconds above 0"},
      {{"config", "--connect-timeout", "nan"},
       2,
       "--connect-timeout: must be a number of seconds above 0 and at most 1000000, not \"nan\""},
      {{"apply"}, 2, "apply needs the stored settings to send: --settings FILE.reg"},
      {{"testpage", "--settings", noTestPage},
       1,
       "PrintTestPage failed: printer \"langmon\" has no stored \"dwTestPage\""},
      {{"apply", "--settings", noTestPage},
       1,
       "SetConfigObjects failed: no stored settings are selected"},
      {{"config", "--port", "COM1:"},
       1,
       "GetConfigObjects failed: the monitor serves this request on parallel ports (LPT1: to "
       "LPT9:) only, and COM1: is not one"},
      {{"testpage", "--page", "19", "--port", "FILE:"}, 1, "FILE: is not one"},
      {{"device-id", "--printer", "file:/dev/null"},
       1,
       "GetDeviceID failed: a file: port cannot report a device ID"},
      {{"config", "--printer", "parallel:/nonexistent/lp0"},
       1,
       "cannot open port LPT1: on parallel:/nonexistent/lp0: open /nonexistent/lp0: No such "
       "file or directory"},
      {{"config", "--printer", "usb:" + badReg}, 1, "not a character device"},
  };
  return cases;
}

TEST(Cli, ErrorsNameTheirCauseAndExitStatus) {
  for (const Refusal& c : Refusals()) {
    std::string shown;
    for (const std::string& a : c.args) shown += a + " ";
    SCOPED_TRACE(shown);
    const ProcessResult r = Langmon(c.args);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
}

// The options may stand after a command, so a command's help lists them
// too; the program's help says that a fleet writes JSON Lines.
TEST(Cli, HelpAfterACommandListsTheGlobalOptionsToo) {
  const ProcessResult config = Langmon({"config", "--help"});
  EXPECT_EQ(config.status, 0) << config.err;
  EXPECT_NE(config.out.find("--reg"), std::string::npos) << config.out;
  const std::size_t global = config.out.find("Global options (before or after the command):");
  ASSERT_NE(global, std::string::npos) << config.out;
  for (const char* option : {"--printer ", "--settings", "--json", "--timeout", "--version"})
    EXPECT_NE(config.out.find(option, global), std::string::npos) << option;
  const ProcessResult top = Langmon({"--help"});
  EXPECT_NE(top.out.find("one line per printer of a fleet (JSON Lines)"), std::string::npos)
      << top.out;
}

TEST(Cli, ConfigOverAFilePortFallsBackAfterTheProbe) {
  // A FILE: port has no back channel: the probe goes unanswered and the
  // defaults come back; the file holds the request text.
  const std::string out = TempPath("config.prn");
  const ProcessResult r = Langmon({"config", "--json", "--printer", "file:" + out});
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_EQ(nlohmann::json::parse(r.out)["source"], "defaults");
  const std::string written = ReadFile(out);
  EXPECT_EQ(written.rfind("\x1b%-12345X@PJL \n@PJL ECHO Getting Configuration", 0), 0u);
  EXPECT_EQ(written.substr(written.size() - 9), "\x1b%-12345X");
}

}  // namespace
}  // namespace langmon::host::testing

// End to end over real loopback sockets: the langmon command drives the
// monitor, the monitor talks through the socket port monitor to a
// langmon-printer server in another process.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <nlohmann/json.hpp>

#include "build_paths.h"
#include "process.h"

namespace langmon::host::testing {
namespace {

const std::string kCli = build_paths::kCli;
const std::string kGolden = build_paths::kGolden;

ProcessResult Langmon(std::vector<std::string> args, const std::string& input = "",
                      std::chrono::milliseconds limit = std::chrono::seconds(120)) {
  args.insert(args.begin(), kCli);
  return Run(args, input, limit);
}

nlohmann::json Json(const ProcessResult& r) {
  auto json = nlohmann::json::parse(r.out, nullptr, false);
  EXPECT_FALSE(json.is_discarded()) << r.out << r.err;
  return json;
}

nlohmann::json Setting(const nlohmann::json& config, const std::string& name) {
  for (const auto& s : config["settings"])
    if (s["name"] == name) return s;
  ADD_FAILURE() << "no setting " << name;
  return nlohmann::json::object();
}

std::uint32_t Value(const nlohmann::json& config, const std::string& name) {
  return Setting(config, name)["value"].get<std::uint32_t>();
}

// Everything but the first line, which names the device.
std::string Body(const std::string& table) { return table.substr(table.find('\n') + 1); }

TEST(EndToEnd, FullConfigurationReadOverTcp) {
  PrinterServer server;
  const ProcessResult r = Langmon({"config", "--printer", server.Uri()});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, r.out.find('\n')),
            "Configuration of printer \"langmon\" on port LPT1: (" + server.Uri() + ")");
  // The same printer as the in-process one: the same table.
  EXPECT_EQ(Body(r.out), Body(ReadFile(kGolden + "/config_sim.txt")));
  EXPECT_EQ(server.Stop(), 0);
}

TEST(EndToEnd, ApplyThenReadBackThroughTheMaps) {
  PrinterServer server;
  const std::string settings = TempPath("apply.reg");
  // Copies 3, density 8 (printer 5), paper 43 (printer 3), resolution 9
  // (printer 300), SaverMode 2 (printer 0), fuser tray 1 61 (printer -1),
  // language 25 (printer 3).
  WriteFile(settings,
            "Windows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\langmon\\"
            "PrinterDriverData]\r\n"
            "\"dwCfgFlags\"=dword:0000542d\r\n"
            "\"dwCopies\"=dword:00000003\r\n"
            "\"dwDensity\"=dword:00000008\r\n"
            "\"dwPaperSize\"=dword:0000002b\r\n"
            "\"dwResolution\"=dword:00000009\r\n"
            "\"dwSaverMode\"=dword:00000002\r\n"
            "\"dwFuserTempTray1\"=dword:0000003d\r\n"
            "\"dwLang\"=dword:00000019\r\n");
  const ProcessResult before = Langmon({"config", "--json", "--printer", server.Uri()});
  ASSERT_EQ(before.status, 0) << before.err;
  EXPECT_EQ(Value(Json(before), "Copies"), 1u);

  const ProcessResult apply = Langmon({"apply", "--settings", settings, "--printer", server.Uri()});
  EXPECT_EQ(apply.status, 0) << apply.err;
  EXPECT_EQ(apply.out,
            "SetConfigObjects: sent 7 settings to the printer: Copies, Density, FuserTempTray1, "
            "Lang, PaperSize, Resolution, SaverMode\n");

  // A later connection reads the printer's new state.
  const ProcessResult after = Langmon({"config", "--json", "--printer", server.Uri()});
  ASSERT_EQ(after.status, 0) << after.err;
  const nlohmann::json config = Json(after);
  EXPECT_EQ(config["source"], "printer");
  EXPECT_EQ(config["cfgFlags"], 0xDBFFFF);
  EXPECT_EQ(Value(config, "Copies"), 3u);
  EXPECT_EQ(Value(config, "Density"), 8u);
  EXPECT_EQ(Value(config, "PaperSize"), 43u);
  EXPECT_EQ(Value(config, "Resolution"), 9u);
  EXPECT_EQ(Value(config, "SaverMode"), 2u);
  EXPECT_EQ(Value(config, "FuserTempTray1"), 61u);
  EXPECT_EQ(Value(config, "Lang"), 25u);
  EXPECT_EQ(Value(config, "DarkCourier"), 0u);  // not selected, unchanged
}

TEST(EndToEnd, TestPageAndAJobReachThePrinter) {
  const std::string transcript = TempPath("transcript.bin");
  PrinterServer server({"--transcript", transcript});
  const ProcessResult page = Langmon({"testpage", "--page", "19", "--printer", server.Uri()});
  EXPECT_EQ(page.status, 0) << page.err;
  EXPECT_EQ(page.out, "PrintTestPage: the printer was asked for test page DEMOPAGE\n");

  std::string job = "\x1b%-12345X@PJL JOB NAME=\"e2e\"\r\n";
  for (int i = 0; i < 20000; ++i) job += "data " + std::to_string(i) + "\n";
  job += "\x1b%-12345X";
  const ProcessResult print =
      Langmon({"print", "-", "--job-id", "42", "--printer", server.Uri()}, job);
  EXPECT_EQ(print.status, 0) << print.err;
  EXPECT_EQ(print.out, "job 42: sent " + std::to_string(job.size()) + " bytes to LPT1: (" +
                           server.Uri() + ")\njob 42 released\n");

  EXPECT_EQ(server.Stop(), 0);
  // The test page line goes out without the entry text; the socket port
  // puts it first on the connection the line opens.
  EXPECT_TRUE(ReadFile(transcript) == "\x1b%-12345X@PJL \n@PJL SET TESTPAGE=DEMOPAGE\r\n" + job);
}

TEST(EndToEnd, PrinterThatGoesSilentMidReadLeavesTheRestUnanswered) {
  // The ECHO probe and 24 queries are answered; the last query (WideA4)
  // waits out the monitor's 5-second limit.
  PrinterServer server({"--silent-after", "25"});
  const ProcessResult r = Langmon({"config", "--json", "--printer", server.Uri()});
  EXPECT_EQ(r.status, 3) << r.err;  // an unanswered query is no port failure, but no full read
  const nlohmann::json config = Json(r);
  EXPECT_EQ(config["source"], "printer");
  EXPECT_EQ(config["cfgFlags"], 0xDBFFFF & ~0x800000);
  EXPECT_EQ(Setting(config, "TrayLock")["value"], 2u);
  // Not answered: no value, though the record holds the 0 the monitor left.
  EXPECT_TRUE(Setting(config, "WideA4")["value"].is_null());
  EXPECT_EQ(Setting(config, "WideA4")["driverValue"], 0u);
}

TEST(EndToEnd, ResetConnectionIsReportedAsAFailure) {
  // The printer resets the connection after the ECHO probe and 23 replies:
  // everything up to Smoothing is answered; TrayLock and WideA4 never are,
  // since the port does not connect again within the request.
  PrinterServer server({"--reset-after", "24"});
  // A run that keeps going is a fault of its own, killed here rather than at
  // the suite's limit.
  const ProcessResult r =
      Langmon({"config", "--json", "--printer", server.Uri()}, "", std::chrono::seconds(60));
  ASSERT_NE(r.status, 128 + SIGKILL) << "still running after 60 s";
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("langmon: error: the port failed during GetConfigObjects: "),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("Connection reset by peer"), std::string::npos) << r.err;
  // What was read before the reset is still shown, and says where it failed.
  const nlohmann::json config = Json(r);
  EXPECT_EQ(config["source"], "printer");
  EXPECT_EQ(config["cfgFlags"], 0x1BFFFFu);
  EXPECT_NE(config["portFailure"].get<std::string>().find("reset"), std::string::npos);
}

TEST(EndToEnd, UnreachablePrinterIsNamedWithTheSocketMessage) {
  // A port that was free a moment ago: nothing listens there.
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  socklen_t size = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  close(fd);
  const std::string uri = "socket://127.0.0.1:" + std::to_string(ntohs(address.sin_port));

  const struct {
    std::vector<std::string> args;
    const char* request;
  } cases[] = {
      {{"config"}, "GetConfigObjects failed: "},
      {{"apply", "--settings", std::string(build_paths::kExamples) + "/settings.reg"},
       "SetConfigObjects failed: "},
      {{"testpage", "--page", "17"}, "PrintTestPage failed: "},
      {{"print", "-"}, "job 1 failed: "},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    args.push_back("--printer");
    args.push_back(uri);
    SCOPED_TRACE(args[0]);
    const ProcessResult r = Langmon(args, "data");
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find(c.request), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("cannot connect to 127.0.0.1:" + std::to_string(ntohs(address.sin_port)) +
                         ": Connection refused"),
              std::string::npos)
        << r.err;
  }
}

}  // namespace
}  // namespace langmon::host::testing

// langmon-printer --fleet run as a process: its listening lines and printers
// file, printers that are independent of each other, the seed's choice of
// silent and resetting printers, the fleet-wide latency, its ports, its
// open-file limit and its usage errors.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "build_paths.h"
#include "hang_limit.h"
#include "process.h"

extern char** environ;

namespace langmon::host::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

using langmon::testing::kHangLimit;
const std::string kEntry = "\x1b%-12345X@PJL \n";

// One printer as its listening line gives it.
struct Listening {
  unsigned port = 0;
  std::string role;  // "", "silent" or "resets"
};

// langmon-printer started with `args` (after the program, which the shell
// prefix may precede), its standard output read line by line and its
// standard error in a file; killed if still running at the end.
class PrinterProcess {
 public:
  explicit PrinterProcess(const std::vector<std::string>& args,
                          const std::vector<std::string>& prefix = {}) {
    std::vector<std::string> argv = prefix;
    argv.push_back(build_paths::kPrinter);
    argv.insert(argv.end(), args.begin(), args.end());
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    std::vector<char*> raw;
    for (std::string& a : argv) raw.push_back(a.data());
    raw.push_back(nullptr);
    if (posix_spawn(&pid_, raw[0], &actions, nullptr, raw.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    out_ = ::fdopen(out[0], "r");
  }
  ~PrinterProcess() {
    if (pid_ > 0) ::kill(pid_, SIGKILL);
    Wait();
    if (out_ != nullptr) std::fclose(out_);
  }

  // The next `count` listening lines; fewer when the program ends first.
  std::vector<Listening> Lines(std::size_t count) {
    static const std::regex kLine(R"(listening on 127\.0\.0\.1:(\d+)(?: \((silent|resets)\))?\n)");
    std::vector<Listening> lines;
    char text[256];
    while (lines.size() < count && out_ != nullptr && std::fgets(text, sizeof text, out_)) {
      std::cmatch m;
      EXPECT_TRUE(std::regex_match(text, m, kLine)) << text;
      lines.push_back({static_cast<unsigned>(std::stoul(m[1].str())), m[2].str()});
    }
    return lines;
  }
  // SIGTERM, then the exit status.
  int Stop() {
    if (pid_ > 0) ::kill(pid_, SIGTERM);
    return Wait();
  }
  // The exit status once the program ends by itself (killed after the hang
  // limit, which fails the test).
  int Wait() {
    if (pid_ <= 0) return status_;
    status_ = WaitForExit(pid_, "langmon-printer", kHangLimit);
    pid_ = -1;
    return status_;
  }
  std::string Err() const { return ReadFile(errPath_); }
  pid_t Pid() const { return pid_; }

 private:
  std::string errPath_ = TempPath("fleet-stderr.txt");
  pid_t pid_ = -1;
  std::FILE* out_ = nullptr;
  int status_ = -1;
};

std::string Uri(unsigned port) { return "socket://127.0.0.1:" + std::to_string(port); }

std::vector<std::string> Roles(const std::vector<Listening>& lines) {
  std::vector<std::string> roles;
  for (const Listening& l : lines) roles.push_back(l.role);
  return roles;
}

TEST(PrinterFleet, ListeningLinesAndThePrintersFileNameTheSamePrinters) {
  const std::string list = TempPath("fleet.txt");
  PrinterProcess fleet({"--fleet", "10", "--port", "0", "--silent-share", "0.2", "--reset-share",
                        "0.1", "--list", list});
  const std::vector<Listening> lines = fleet.Lines(10);
  ASSERT_EQ(lines.size(), 10u) << fleet.Err();
  std::string expected = "# 10 simulated printers\n";
  std::string silent, resets, entries;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string name = "sim-" + std::to_string(i + 1);
    if (lines[i].role == "silent") silent += " " + name;
    if (lines[i].role == "resets") resets += " " + name;
    entries += Uri(lines[i].port) + " " + name + "\n";
  }
  EXPECT_EQ(std::count(silent.begin(), silent.end(), ' '), 2) << "0.2 of 10";
  EXPECT_EQ(std::count(resets.begin(), resets.end(), ' '), 1) << "0.1 of 10";
  EXPECT_EQ(ReadFile(list),
            expected + "# silent:" + silent + "\n# resets:" + resets + "\n" + entries);
  EXPECT_EQ(fleet.Stop(), 0);
  EXPECT_EQ(fleet.Err(), "");
}

nlohmann::json Setting(const std::string& uri, const std::string& name) {
  const ProcessResult r = RunLangmon({"config", "--json", "--printer", uri});
  const auto json = nlohmann::json::parse(r.out, nullptr, false);
  if (json.is_discarded()) return {};
  for (const auto& s : json["settings"])
    if (s["name"] == name) return s["value"];
  return {};
}

TEST(PrinterFleet, ASettingSentToOnePrinterIsNotSeenByAnother) {
  PrinterProcess fleet({"--fleet", "2", "--port", "0"});
  const std::vector<Listening> lines = fleet.Lines(2);
  ASSERT_EQ(lines.size(), 2u) << fleet.Err();
  const nlohmann::json before = Setting(Uri(lines[1].port), "Copies");
  ASSERT_TRUE(before.is_number()) << before;
  ASSERT_NE(before, 7);
  const ProcessResult set = RunLangmon({"set", "Copies=7", "--printer", Uri(lines[0].port)});
  ASSERT_EQ(set.status, 0) << set.err;
  EXPECT_EQ(Setting(Uri(lines[0].port), "Copies"), 7);
  EXPECT_EQ(Setting(Uri(lines[1].port), "Copies"), before);
}

// What a printer answers to two ECHO queries on one connection, the
// second sent once the first is answered (or `wait` has passed), as the
// monitor sends its queries.
Received TwoEchoes(unsigned port, std::chrono::milliseconds wait) {
  const int fd = Connect(port);
  EXPECT_GE(fd, 0);
  Send(fd, kEntry + "@PJL ECHO one\r\n");
  Received r = ReceiveReplies(fd, 1, wait);
  const std::string second = "@PJL ECHO two\r\n";
  if (!r.closed && r.error == 0 && ::send(fd, second.data(), second.size(), MSG_NOSIGNAL) < 0)
    r.error = errno;
  if (!r.closed && r.error == 0) {
    const Received more = ReceiveReplies(fd, 1, wait);
    r.bytes += more.bytes;
    r.error = more.error;
    r.closed = more.closed;
  }
  ::close(fd);
  return r;
}

TEST(PrinterFleet, TheSeedChoosesTheSamePrintersEachTimeAndTheyBehaveSo) {
  const auto start = [](const char* seed) {
    return std::vector<std::string>{"--fleet",       "12",  "--port",         "0",
                                    "--seed",        seed,  "--silent-share", "0.25",
                                    "--reset-share", "0.25"};
  };
  PrinterProcess first(start("7"));
  PrinterProcess again(start("7"));
  PrinterProcess other(start("8"));
  const std::vector<Listening> lines = first.Lines(12);
  ASSERT_EQ(lines.size(), 12u) << first.Err();
  EXPECT_EQ(Roles(again.Lines(12)), Roles(lines));
  EXPECT_NE(Roles(other.Lines(12)), Roles(lines));
  for (const Listening& printer : lines) {
    SCOPED_TRACE(printer.role);
    // A silent printer's wait is a lower bound: nothing may come in it.
    const Received r = TwoEchoes(printer.port, printer.role == "silent" ? 500ms : kHangLimit);
    if (printer.role == "silent") {
      EXPECT_EQ(r.bytes, "");
      EXPECT_FALSE(r.closed || r.error) << "the connection stays open";
    } else if (printer.role == "resets") {
      EXPECT_EQ(r.bytes, "@PJL ECHO one\r\n\f");
      EXPECT_TRUE(r.error == ECONNRESET || r.error == EPIPE) << std::strerror(r.error);
    } else {
      EXPECT_EQ(r.bytes, "@PJL ECHO one\r\n\f@PJL ECHO two\r\n\f");
    }
  }
}

TEST(PrinterFleet, LatencyHoldsEveryReplyOfEveryPrinter) {
  constexpr auto kLatency = 200ms;
  PrinterProcess fleet({"--fleet", "3", "--port", "0", "--latency", "200"});
  const std::vector<Listening> lines = fleet.Lines(3);
  ASSERT_EQ(lines.size(), 3u) << fleet.Err();
  for (const Listening& printer : lines) {
    const int fd = Connect(printer.port);
    ASSERT_GE(fd, 0);
    for (const char* text : {"one", "two"}) {
      const auto sent = Clock::now();
      Send(fd, kEntry + "@PJL ECHO " + text + "\r\n");
      EXPECT_EQ(ReceiveReplies(fd, 1, kHangLimit).bytes,
                std::string("@PJL ECHO ") + text + "\r\n\f");
      EXPECT_GE(Clock::now() - sent, kLatency);
    }
    ::close(fd);
  }
}

// The first port the system hands out for outgoing connections: below it,
// only another listener can take a port, never a client of another test.
unsigned FirstEphemeralPort() {
  unsigned low = 32768;
  if (std::FILE* f = std::fopen("/proc/sys/net/ipv4/ip_local_port_range", "r")) {
    if (std::fscanf(f, "%u", &low) != 1) low = 32768;
    std::fclose(f);
  }
  return low;
}

// Three consecutive ports that nothing listens on now, below the ports that
// outgoing connections use; 0 when none are found.
unsigned FreePorts(unsigned attempt) {
  const unsigned top = std::min(FirstEphemeralPort(), 65536u);
  if (top < 10003) return 0;
  const unsigned span = top - 3 - 10000;
  const unsigned base =
      10000 + (static_cast<unsigned>(::getpid()) * 7919u + attempt * 104729u) % span;
  for (unsigned p = base; p < base + 3; ++p) {
    const int fd = Connect(p);
    if (fd >= 0) {
      ::close(fd);
      return 0;
    }
  }
  return base;
}

TEST(PrinterFleet, ServesConsecutivePortsOrNoneWhenOneIsTaken) {
  // Another program may bind a port between the check and the fleet's bind:
  // then the fleet rightly refuses, and the test takes other ports.
  unsigned base = 0;
  for (unsigned attempt = 0; attempt < 20 && base == 0; ++attempt) {
    const unsigned candidate = FreePorts(attempt);
    if (candidate == 0) continue;
    PrinterProcess fleet({"--fleet", "3", "--port", std::to_string(candidate)});
    const std::vector<Listening> lines = fleet.Lines(3);
    if (lines.size() != 3u) continue;
    for (unsigned i = 0; i < 3; ++i) EXPECT_EQ(lines[i].port, candidate + i);
    EXPECT_EQ(fleet.Stop(), 0);
    base = candidate;
  }
  ASSERT_NE(base, 0u) << "no three consecutive ports could be served";
  PrinterProcess taken({"--port", std::to_string(base + 1)});
  ASSERT_EQ(taken.Lines(1).size(), 1u) << taken.Err();
  PrinterProcess fleet({"--fleet", "3", "--port", std::to_string(base)});
  EXPECT_EQ(fleet.Lines(3).size(), 0u) << "no printer listens";
  EXPECT_EQ(fleet.Wait(), 1);
  EXPECT_EQ(fleet.Err(), "langmon-printer: error: sim-2: cannot listen on 127.0.0.1:" +
                             std::to_string(base + 1) + ": Address already in use\n");
}

TEST(PrinterFleet, RaisesTheOpenFileLimitOrSaysHowManyPrintersFit) {
  const struct {
    const char* limit;  // shell commands run before the program
    bool serves;
    const char* says;
  } cases[] = {
      {"ulimit -Sn 64", true, ""},
      {"ulimit -n 200", false,
       "langmon-printer: error: 100 printers need about 464 open files and this machine allows "
       "200 (ulimit -Hn): serve at most 34 printers, or raise the limit\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.limit);
    PrinterProcess fleet({"--fleet", "100", "--port", "0"},
                         {"/bin/sh", "-c", std::string(c.limit) + " && exec \"$0\" \"$@\""});
    EXPECT_EQ(fleet.Lines(100).size(), c.serves ? 100u : 0u);
    EXPECT_EQ(c.serves ? fleet.Stop() : fleet.Wait(), c.serves ? 0 : 1);
    EXPECT_EQ(fleet.Err(), c.says);
  }
}

// The printers file a fleet writes is what `langmon --printers` reads: each
// printer's result follows its role, and a printer that cannot be reached,
// added by hand, is reported as such.
TEST(PrinterFleet, LangmonReadsTheFleetFromItsPrintersFile) {
  const std::string list = TempPath("fleet-printers.txt");
  PrinterProcess fleet({"--fleet", "8", "--port", "0", "--silent-share", "0.25", "--reset-share",
                        "0.25", "--list", list});
  const std::vector<Listening> lines = fleet.Lines(8);
  ASSERT_EQ(lines.size(), 8u) << fleet.Err();
  PrinterProcess gone({"--port", "0"});
  const std::vector<Listening> goneLine = gone.Lines(1);
  ASSERT_EQ(goneLine.size(), 1u) << gone.Err();
  gone.Stop();
  WriteFile(list, ReadFile(list) + Uri(goneLine[0].port) + " unreachable\n");

  const ProcessResult r = RunLangmon({"config", "--json", "--printers", list});
  EXPECT_NE(r.status, 0) << "some printers failed";
  std::map<std::string, nlohmann::json> objects;
  std::istringstream out(r.out);
  for (std::string line; std::getline(out, line);) {
    const auto object = nlohmann::json::parse(line, nullptr, false);
    if (object.is_object()) objects[object.value("name", "")] = object;
  }
  ASSERT_EQ(objects.size(), 9u) << r.out;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const nlohmann::json& o = objects["sim-" + std::to_string(i + 1)];
    SCOPED_TRACE(o.dump());
    EXPECT_EQ(o["uri"], Uri(lines[i].port));
    if (lines[i].role == "silent") {
      EXPECT_EQ(o["exitStatus"], 3);
      EXPECT_EQ(o["source"], "defaults");
    } else if (lines[i].role == "resets") {
      EXPECT_EQ(o["exitStatus"], 1);
    } else {
      EXPECT_EQ(o["exitStatus"], 0);
      EXPECT_EQ(o["complete"], true);
    }
  }
  EXPECT_EQ(objects["unreachable"]["exitStatus"], 1);
  EXPECT_NE(objects["unreachable"].value("cause", "").find("refused"), std::string::npos)
      << objects["unreachable"];
}

// Runs the program as a user of its own whose thread limit is `threads`
// (the main thread and one per server loop, and any the sanitizers'
// runtime takes). Root is bound by no such limit, so only root can make a
// user that is.
std::vector<std::string> WithThreadLimit(int threads) {
  return {"/usr/bin/setpriv", "--reuid=54321", "--regid=54321", "--clear-groups", "/bin/bash", "-c",
          // Leak checking at exit needs a thread of its own, which the
          // limit may not leave.
          "export ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0\" && ulimit -u " +
              std::to_string(threads) + " && exec \"$0\" \"$@\""};
}

TEST(PrinterFleet, ServesEveryConnectionWithoutAThreadOfItsOwn) {
  if (::geteuid() != 0 || ::access("/usr/bin/setpriv", X_OK) != 0)
    GTEST_SKIP() << "needs root and setpriv to run under a thread limit";
  {
    PrinterProcess fleet({"--fleet", "5", "--port", "0"}, WithThreadLimit(1));
    EXPECT_EQ(fleet.Lines(5).size(), 0u);
    EXPECT_EQ(fleet.Wait(), 1);
    EXPECT_EQ(fleet.Err().rfind("langmon-printer: error: cannot start a thread to serve the "
                                "printers (Resource temporarily unavailable)",
                                0),
              0u)
        << fleet.Err();
  }
  // At the lowest limit at which the fleet starts (a sanitizer's runtime
  // may take a thread of its own) there is no thread to spare, and still
  // every printer answers several clients at once.
  std::unique_ptr<PrinterProcess> fleet;
  std::vector<Listening> lines;
  for (int limit = 2; limit <= 8 && lines.empty(); ++limit) {
    fleet = std::make_unique<PrinterProcess>(
        std::vector<std::string>{"--fleet", "5", "--port", "0", "--latency", "20"},
        WithThreadLimit(limit));
    lines = fleet->Lines(5);
  }
  ASSERT_EQ(lines.size(), 5u) << fleet->Err();
  std::vector<int> clients;
  for (const Listening& line : lines)
    for (int k = 0; k < 3; ++k) {
      clients.push_back(Connect(line.port));
      ASSERT_GE(clients.back(), 0);
      Send(clients.back(), kEntry + "@PJL ECHO many\r\n");
    }
  for (int fd : clients) {
    EXPECT_EQ(ReceiveReplies(fd, 1, kHangLimit).bytes, "@PJL ECHO many\r\n\f");
    ::close(fd);
  }
  EXPECT_EQ(fleet->Stop(), 0) << fleet->Err();
}

// Whether this build runs under AddressSanitizer: GCC says so with a macro,
// clang through __has_feature.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
constexpr bool kAddressSanitizer = __has_feature(address_sanitizer);
#else
constexpr bool kAddressSanitizer = false;
#endif

// The server's CPU time so far, in seconds (user and system).
double CpuSeconds(pid_t pid) {
  const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
  std::istringstream fields(stat.substr(stat.rfind(')') + 2));
  std::string field;
  double ticks = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i)
    if (i >= 14) ticks += std::stod(field);
  return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

TEST(PrinterFleet, OutOfDescriptorsTheServerWaitsForOneToCloseWithoutSpinning) {
  if (kAddressSanitizer)
    GTEST_SKIP() << "the sanitizers' runtime opens a pipe to check memory it reports on, and "
                    "takes a descriptor-starved server's checks for faults";
  // 68 descriptors are what one printer asks for: it starts, and its
  // connections run out of descriptors before they reach the 64 allowed.
  PrinterProcess printer({"--port", "0"},
                         {"/bin/bash", "-c", "ulimit -n 68 && exec \"$0\" \"$@\""});
  const std::vector<Listening> lines = printer.Lines(1);
  ASSERT_EQ(lines.size(), 1u) << printer.Err();
  std::vector<int> clients;
  for (int i = 0; i < 64; ++i) {
    clients.push_back(Connect(lines[0].port));
    ASSERT_GE(clients.back(), 0);
  }
  const double before = CpuSeconds(printer.Pid());
  std::this_thread::sleep_for(1s);
  // A loop woken again and again by the waiting clients would take most of
  // a processor in that second.
  EXPECT_LT(CpuSeconds(printer.Pid()) - before, 0.5);
  const std::string err = printer.Err();
  EXPECT_NE(err.find("cannot accept a connection (Too many open files): clients wait until one "
                     "closes"),
            std::string::npos)
      << err;
  for (int i = 0; i < 8; ++i) ::close(clients[static_cast<std::size_t>(i)]);
  const int last = clients.back();
  Send(last, kEntry + "@PJL ECHO waited\r\n");
  EXPECT_EQ(ReceiveReplies(last, 1, kHangLimit).bytes, "@PJL ECHO waited\r\n\f");
  for (std::size_t i = 8; i < clients.size(); ++i) ::close(clients[i]);
  EXPECT_EQ(printer.Stop(), 0) << printer.Err();
}

TEST(PrinterFleet, UsageErrorsExitTwoNamingTheOptionAndTheRange) {
  const struct {
    std::vector<std::string> args;
    std::string says;
  } cases[] = {
      {{"--fleet", "0"}, "--fleet: 0 is out of range: 1 to 1024"},
      {{"--fleet", "1025"}, "--fleet: 1025 is out of range: 1 to 1024"},
      {{"--fleet", "many"}, "--fleet: \"many\" is not a whole number (1 to 1024)"},
      {{"--latency", "60001"}, "--latency: 60001 is out of range: 0 to 60000"},
      {{"--latency", "5", "--delay-ms", "5"}, "--delay-ms excludes --latency"},
      {{"--silent-share", "1.5"}, "--silent-share: 1.5 is out of range: 0 to 1"},
      {{"--reset-share", "-0.1"}, "--reset-share: -0.1 is out of range: 0 to 1"},
      {{"--silent-share", "nan"}, "--silent-share: \"nan\" is not a fraction (0 to 1)"},
      {{"--silent-share", "0.6", "--reset-share", "0.5"},
       "--silent-share 0.6 and --reset-share 0.5 together exceed 1"},
      {{"--seed", "4294967296"}, "--seed: 4294967296 is out of range: 0 to 4294967295"},
      {{"--fleet", "10", "--port", "65530"},
       "--fleet 10 from --port 65530 needs ports up to 65539, beyond 65535"},
      {{"--fleet", "2", "--transcript", TempPath("t.bin")},
       "--transcript records one printer and cannot be used with --fleet"},
      {{"--list", "/nonexistent/printers.txt"},
       "cannot write the printers file /nonexistent/printers.txt: No such file"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> argv = {build_paths::kPrinter};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    if (c.args.front() != "--fleet") argv.insert(argv.end(), {"--port", "0"});
    const ProcessResult r = testing::Run(argv, "", kHangLimit);
    SCOPED_TRACE(c.args.front());
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "") << "no listening line";
    EXPECT_EQ(r.err.rfind("langmon-printer: error: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
  }
}

}  // namespace
}  // namespace langmon::host::testing

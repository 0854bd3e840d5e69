// langmon-printer over loopback: the server in-process, and the binary
// itself for its command line, its "listening on" line and its shutdown.
#include "printer_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "build_paths.h"
#include "hang_limit.h"
#include "langmon_version.h"
#include "process.h"

namespace langmon::printer {
namespace {

using namespace std::chrono_literals;
using sim::kStaleReply;
using sim::SimFaults;
using sim::SimPrinter;
using Clock = std::chrono::steady_clock;

const std::string kEntry = "\x1b%-12345X@PJL \n";

using host::testing::Connect;
using host::testing::Received;
using host::testing::ReceiveReplies;
using host::testing::Send;
using host::testing::TempPath;

class ServerTest : public ::testing::Test {
 protected:
  void Start(ServerOptions options = {}) {
    options.port = 0;
    server_ = std::make_unique<PrinterServer>(printer_, options);
    std::string error;
    ASSERT_TRUE(server_->Listen(error)) << error;
    thread_ = std::thread([this] { server_->Run(); });
  }
  void TearDown() override {
    if (server_) server_->Stop();
    if (thread_.joinable()) thread_.join();
  }
  SimPrinter printer_;
  std::unique_ptr<PrinterServer> server_;
  std::thread thread_;
};

TEST_F(ServerTest, AnswersEchoAndDminfoOverTcp) {
  Start();
  const int fd = Connect(server_->Port());
  ASSERT_GE(fd, 0);
  Send(fd, kEntry + "@PJL ECHO tcp\r\n@PJL DMINFO ASCIIHEX=\"0000050103030104\"\r\n");
  const Received r = ReceiveReplies(fd, 2);
  EXPECT_EQ(r.bytes,
            "@PJL ECHO tcp\r\n\f@PJL DMINFO ASCIIHEX=\"0000050103030104\"\r\n"
            "\"80000005010303010408020001\"\r\n\f");
  ::close(fd);
}

TEST_F(ServerTest, ClientsShareObjectsButNotReplies) {
  Start();
  const int a = Connect(server_->Port());
  const int b = Connect(server_->Port());
  ASSERT_GE(a, 0);
  ASSERT_GE(b, 0);
  Send(a, kEntry + "@PJL DMCMD ASCIIHEX=\"040005010303010408020007\"\r\n@PJL ECHO a\r\n");
  EXPECT_EQ(ReceiveReplies(a, 1).bytes, "@PJL ECHO a\r\n\f");
  Send(b, kEntry + "@PJL DMINFO ASCIIHEX=\"0000050103030104\"\r\n");
  const Received rb = ReceiveReplies(b, 1);
  EXPECT_NE(rb.bytes.find("\"80000005010303010408020007\""), std::string::npos);
  EXPECT_EQ(ReceiveReplies(a, 1, 100ms).bytes, "") << "b's reply went to a";
  ::close(a);
  ::close(b);
}

TEST_F(ServerTest, SplitRepliesArriveInPiecesOfTheChosenSize) {
  SimFaults faults;
  faults.splitSizes = {4};
  printer_.SetFaults(faults);
  ServerOptions options;
  options.splitPauseMs = 30;
  Start(options);
  const int fd = Connect(server_->Port());
  ASSERT_GE(fd, 0);
  Send(fd, kEntry + "@PJL ECHO abcdefg\r\n");
  const Received r = ReceiveReplies(fd, 1);
  EXPECT_EQ(r.bytes, "@PJL ECHO abcdefg\r\n\f");
  // Pieces that arrive while the client is not reading may merge; the ones
  // read in time show the chosen size.
  ASSERT_GE(r.pieces.size(), 2u);
  EXPECT_EQ(*std::min_element(r.pieces.begin(), r.pieces.end()), 4u);
  ::close(fd);
}

TEST_F(ServerTest, ResetAfterNRepliesAbortsTheConnection) {
  ServerOptions options;
  options.resetAfter = 1;
  Start(options);
  const int fd = Connect(server_->Port());
  ASSERT_GE(fd, 0);
  Send(fd, kEntry + "@PJL ECHO one\r\n");
  const Received r = ReceiveReplies(fd, 2);
  EXPECT_EQ(r.bytes, "@PJL ECHO one\r\n\f");
  EXPECT_EQ(r.error, ECONNRESET);
  ::close(fd);
  // Others may still connect.
  const int again = Connect(server_->Port());
  EXPECT_GE(again, 0);
  ::close(again);
}

TEST_F(ServerTest, StopClosesOpenConnections) {
  Start();
  const int fd = Connect(server_->Port());
  ASSERT_GE(fd, 0);
  Send(fd, kEntry);
  server_->Stop();
  thread_.join();
  const Received r = ReceiveReplies(fd, 1);
  EXPECT_TRUE(r.closed || r.error != 0);
  ::close(fd);
}

TEST(ServerAddress, ScopeSaysWhoCanReachTheServer) {
  const struct {
    const char* address;
    AddressScope scope;
  } cases[] = {
      {"127.0.0.1", AddressScope::Loopback},
      {"127.1.2.3", AddressScope::Loopback},
      {"::1", AddressScope::Loopback},
      {"0.0.0.0", AddressScope::Any},
      {"::", AddressScope::Any},
      {"192.168.1.5", AddressScope::Interface},
      {"fe80::1", AddressScope::Interface},
      {"localhost", AddressScope::Invalid},
      {"1.2.3", AddressScope::Invalid},
      {"", AddressScope::Invalid},
  };
  for (const auto& c : cases) EXPECT_EQ(ScopeOfAddress(c.address), c.scope) << c.address;
}

// Connects to the server's port on `address` (IPv4 or IPv6 text).
int ConnectTo(const char* address, unsigned port) {
  sockaddr_storage addr{};
  auto& in = reinterpret_cast<sockaddr_in&>(addr);
  auto& in6 = reinterpret_cast<sockaddr_in6&>(addr);
  socklen_t len = sizeof in;
  if (::inet_pton(AF_INET, address, &in.sin_addr) == 1) {
    in.sin_family = AF_INET;
    in.sin_port = htons(static_cast<std::uint16_t>(port));
  } else {
    ::inet_pton(AF_INET6, address, &in6.sin6_addr);
    in6.sin6_family = AF_INET6;
    in6.sin6_port = htons(static_cast<std::uint16_t>(port));
    len = sizeof in6;
  }
  const int fd = ::socket(addr.ss_family, SOCK_STREAM, 0);
  if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0) return fd;
  if (fd >= 0) ::close(fd);
  return -1;
}

TEST_F(ServerTest, ListensOnTheAddressItIsGiven) {
  const int probe = ::socket(AF_INET6, SOCK_STREAM, 0);
  if (probe < 0) GTEST_SKIP() << "no IPv6 on this machine";
  ::close(probe);
  const struct {
    const char* listen;
    const char* connect;
    const char* endpoint;
  } cases[] = {
      {"127.0.0.1", "127.0.0.1", "127.0.0.1:"},
      {"0.0.0.0", "127.0.0.1", "0.0.0.0:"},
      {"::1", "::1", "[::1]:"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.listen);
    ServerOptions options;
    options.address = c.listen;
    TearDown();
    Start(options);
    EXPECT_EQ(server_->Endpoint(), c.endpoint + std::to_string(server_->Port()));
    const int fd = ConnectTo(c.connect, server_->Port());
    ASSERT_GE(fd, 0);
    Send(fd, kEntry + "@PJL ECHO " + c.listen + "\r\n");
    EXPECT_EQ(ReceiveReplies(fd, 1).bytes, "@PJL ECHO " + std::string(c.listen) + "\r\n\f");
    ::close(fd);
  }
}

// ---- the binary -------------------------------------------------------------

struct Child {
  pid_t pid = -1;
  FILE* out = nullptr;
};

// Starts langmon-printer with the arguments and reads its first stdout line;
// its stderr goes to `errPath` when one is given.
Child Spawn(std::vector<std::string> args, std::string* firstLine,
            const std::string& errPath = "") {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (!errPath.empty()) {
      const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(err, 2);
    }
    ::dup2(pipeFds[1], 1);
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    std::vector<char*> argv;
    std::string binary = build_paths::kPrinter;
    argv.push_back(binary.data());
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(binary.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(pipeFds[1]);
  Child child{pid, ::fdopen(pipeFds[0], "r")};
  char line[256] = {};
  if (std::fgets(line, sizeof line, child.out) != nullptr) *firstLine = line;
  return child;
}

using langmon::testing::kHangLimit;

// The child's exit status (128 + N for signal N), within the hang limit.
int WaitExit(Child& child) {
  const int status = host::testing::WaitForExit(child.pid, "langmon-printer", kHangLimit);
  std::fclose(child.out);
  return status;
}

TEST(PrinterBinary, PrintsItsPortServesAndExitsZeroOnSigterm) {
  const std::string objects = TempPath("printer_objects.json");
  std::ofstream(objects) << R"({"objects": {"050103030104": 9}})";
  std::string line;
  Child child = Spawn({"--port", "0", "--objects", objects, "--stale"}, &line);
  ASSERT_GT(child.pid, 0);
  unsigned port = 0;
  ASSERT_EQ(std::sscanf(line.c_str(), "listening on 127.0.0.1:%u", &port), 1) << line;
  const int fd = Connect(port);
  ASSERT_GE(fd, 0);
  Send(fd, kEntry + "@PJL DMINFO ASCIIHEX=\"0000050103030104\"\r\n");
  const Received r = ReceiveReplies(fd, 2);
  EXPECT_EQ(r.bytes.rfind(kStaleReply, 0), 0u) << "stale reply first";
  EXPECT_NE(r.bytes.find("\"80000005010303010408020009\""), std::string::npos);
  ::close(fd);
  ::kill(child.pid, SIGTERM);
  EXPECT_EQ(WaitExit(child), 0);
}

TEST(PrinterBinary, VersionIsThePrograms) {
  const host::testing::ProcessResult r = host::testing::Run({build_paths::kPrinter, "--version"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "langmon-printer " LANGMON_VERSION "\n");
}

TEST(PrinterBinary, SigintAlsoExitsZero) {
  std::string line;
  Child child = Spawn({"--port", "0"}, &line);
  ASSERT_GT(child.pid, 0);
  ASSERT_NE(line.find("listening on 127.0.0.1:"), std::string::npos);
  ::kill(child.pid, SIGINT);
  EXPECT_EQ(WaitExit(child), 0);
}

TEST(PrinterBinary, BadObjectsFileFailsWithoutListening) {
  const std::string objects = TempPath("printer_bad.json");
  std::ofstream(objects) << R"({"objects": {"0501": 1}})";
  std::string line;
  Child child = Spawn({"--port", "0", "--objects", objects}, &line);
  ASSERT_GT(child.pid, 0);
  EXPECT_EQ(line, "");
  EXPECT_EQ(WaitExit(child), 2);
}

using host::testing::ProcessResult;
using host::testing::ReadFile;
using host::testing::WriteFile;

TEST(PrinterBinary, UsageErrorsExitTwoNamingTheOptionAndTheRange) {
  const std::string negativeDelay = TempPath("negative-delay.json");
  WriteFile(negativeDelay, R"({"faults": {"delayMs": -1}})");
  const struct {
    std::vector<std::string> args;
    std::string says;
  } cases[] = {
      {{"--port", "abc"}, "--port: \"abc\" is not a whole number (0 to 65535)"},
      {{"--port", "70000"}, "--port: 70000 is out of range: 0 to 65535"},
      {{"--port", "-1"}, "--port: -1 is out of range: 0 to 65535"},
      {{"--split", "0"}, "--split: 0 is out of range: 1 to 65536"},
      {{"--split", "4", "0"}, "--split: 0 is out of range: 1 to 65536"},
      {{"--delay-ms", "-5"}, "--delay-ms: -5 is out of range: 0 to 3600000"},
      {{"--reset-after", "x"}, "--reset-after: \"x\" is not a whole number"},
      {{"--listen", "localhost"}, "--listen: \"localhost\" is not a numeric IPv4 or IPv6"},
      {{"--unknown", "loud"}, "--unknown: loud not in {empty,silent}"},
      {{"--bogus"}, "not expected: --bogus"},
      {{"extra"}, "not expected: extra"},
      {{"--objects", "/nonexistent/objects.json"},
       "/nonexistent/objects.json: cannot open the objects file: No such"},
      {{"--objects", negativeDelay}, "faults.delayMs: a whole number of milliseconds from 0"},
      {{"--transcript", "/nonexistent/t.bin"},
       "cannot write the transcript /nonexistent/t.bin: No such file"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> argv = {build_paths::kPrinter, "--port", "0"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const ProcessResult r = host::testing::Run(argv, "", kHangLimit);
    SCOPED_TRACE(c.args.front());
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "") << "no listening line";
    EXPECT_EQ(r.err.rfind("langmon-printer: error: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
  }
}

TEST(PrinterBinary, WarnsWhenOtherMachinesCanReachItOrAnOptionHasNoEffect) {
  const struct {
    std::vector<std::string> args;
    const char* listening;
    const char* warning;  // empty: none
  } cases[] = {
      {{}, "listening on 127.0.0.1:", ""},
      {{"--listen", "0.0.0.0"}, "listening on 0.0.0.0:", "(every address of this machine)"},
      {{"--device-id", "MFG:X;"}, "listening on 127.0.0.1:", "--device-id has no effect over TCP"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"--port", "0"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const std::string err = TempPath("printer-stderr.txt");
    std::string line;
    Child child = Spawn(args, &line, err);
    ASSERT_GT(child.pid, 0);
    EXPECT_EQ(line.rfind(c.listening, 0), 0u) << line;
    ::kill(child.pid, SIGTERM);
    EXPECT_EQ(WaitExit(child), 0);
    const std::string warned = ReadFile(err);
    if (*c.warning == '\0') {
      EXPECT_EQ(warned, "");
    } else {
      EXPECT_EQ(warned.rfind("langmon-printer: warning: ", 0), 0u) << warned;
      EXPECT_NE(warned.find(c.warning), std::string::npos) << warned;
    }
  }
}

// Waits until the file holds `size` bytes or the hang limit passes.
std::string WaitForFile(const std::string& path, std::size_t size) {
  const auto end = Clock::now() + kHangLimit;
  std::string bytes = ReadFile(path);
  while (bytes.size() < size && Clock::now() < end) {
    std::this_thread::sleep_for(20ms);
    bytes = ReadFile(path);
  }
  return bytes;
}

TEST(PrinterBinary, TranscriptIsOnDiskAsTheBytesArriveWithoutACap) {
  const std::string path = TempPath("transcript.bin");
  std::string line;
  Child child = Spawn({"--port", "0", "--transcript", path}, &line);
  ASSERT_GT(child.pid, 0);
  unsigned port = 0;
  ASSERT_EQ(std::sscanf(line.c_str(), "listening on 127.0.0.1:%u", &port), 1) << line;
  // More than the 16 MiB the printer keeps in memory.
  std::string job = kEntry + "@PJL ENTER LANGUAGE=PCL\r\n";
  while (job.size() < (17u << 20)) job += "page data " + std::to_string(job.size()) + "\n";
  const int fd = Connect(port);
  ASSERT_GE(fd, 0);
  Send(fd, job);
  // On disk while the server still runs.
  EXPECT_TRUE(WaitForFile(path, job.size()) == job) << "transcript differs from what was sent";
  ::close(fd);
  ::kill(child.pid, SIGTERM);
  EXPECT_EQ(WaitExit(child), 0);
  EXPECT_TRUE(ReadFile(path) == job);
}

TEST(PrinterBinary, TranscriptThatCannotBeWrittenStopsTheServerWithStatusOne) {
  const std::string err = TempPath("printer-stderr.txt");
  std::string line;
  Child child = Spawn({"--port", "0", "--transcript", "/dev/full"}, &line, err);
  ASSERT_GT(child.pid, 0);
  unsigned port = 0;
  ASSERT_EQ(std::sscanf(line.c_str(), "listening on 127.0.0.1:%u", &port), 1) << line;
  const int fd = Connect(port);
  ASSERT_GE(fd, 0);
  Send(fd, kEntry + "@PJL ECHO lost\r\n");
  // The server ends by itself; the hang limit only guards the test.
  const int status = WaitExit(child);
  ::close(fd);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(ReadFile(err),
            "langmon-printer: error: cannot write the transcript /dev/full: No space left on "
            "device; the server stops\n");
}

}  // namespace
}  // namespace langmon::printer

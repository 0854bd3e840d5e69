// langmon-printer over loopback: the server in-process, and the binary
// itself for its command line, its "listening on" line and its shutdown.
#include "printer_server.h"

#include <arpa/inet.h>
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
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace langmon::sim {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::string kEntry = "\x1b%-12345X@PJL \n";

int Connect(unsigned port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

void Send(int fd, const std::string& text) {
  ASSERT_EQ(::send(fd, text.data(), text.size(), MSG_NOSIGNAL), static_cast<ssize_t>(text.size()));
}

// Receives until `count` form feeds arrived or the time is up. Records the
// size of every recv and the last error (ECONNRESET and the like).
struct Received {
  std::string bytes;
  std::vector<std::size_t> pieces;
  int error = 0;
  bool closed = false;
};

Received ReceiveReplies(int fd, int count, std::chrono::milliseconds limit = 3000ms) {
  Received r;
  const auto end = Clock::now() + limit;
  while (std::count(r.bytes.begin(), r.bytes.end(), '\f') < count && Clock::now() < end) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 20) <= 0) continue;
    char buffer[4096];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n < 0) {
      r.error = errno;
      break;
    }
    if (n == 0) {
      r.closed = true;
      break;
    }
    r.bytes.append(buffer, static_cast<std::size_t>(n));
    r.pieces.push_back(static_cast<std::size_t>(n));
  }
  return r;
}

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
  const Received r = ReceiveReplies(fd, 2, 2000ms);
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
  const Received r = ReceiveReplies(fd, 1, 1000ms);
  EXPECT_TRUE(r.closed || r.error != 0);
  ::close(fd);
}

// ---- the binary -------------------------------------------------------------

struct Child {
  pid_t pid = -1;
  FILE* out = nullptr;
};

// Starts langmon-printer with the arguments and reads its first stdout line.
Child Spawn(std::vector<std::string> args, std::string* firstLine) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(pipeFds[1], 1);
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    std::vector<char*> argv;
    std::string binary = LANGMON_PRINTER_PATH;
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

int WaitExit(Child& child) {
  int status = 0;
  ::waitpid(child.pid, &status, 0);
  std::fclose(child.out);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(PrinterBinary, PrintsItsPortServesAndExitsZeroOnSigterm) {
  const std::string objects = ::testing::TempDir() + "/printer_objects.json";
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

TEST(PrinterBinary, SigintAlsoExitsZero) {
  std::string line;
  Child child = Spawn({"--port", "0"}, &line);
  ASSERT_GT(child.pid, 0);
  ASSERT_NE(line.find("listening on 127.0.0.1:"), std::string::npos);
  ::kill(child.pid, SIGINT);
  EXPECT_EQ(WaitExit(child), 0);
}

TEST(PrinterBinary, BadObjectsFileFailsWithoutListening) {
  const std::string objects = ::testing::TempDir() + "/printer_bad.json";
  std::ofstream(objects) << R"({"objects": {"0501": 1}})";
  std::string line;
  Child child = Spawn({"--port", "0", "--objects", objects}, &line);
  ASSERT_GT(child.pid, 0);
  EXPECT_EQ(line, "");
  EXPECT_EQ(WaitExit(child), 2);
}

}  // namespace
}  // namespace langmon::sim

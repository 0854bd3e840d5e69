// Running the host programs as processes from the tests.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

#include "hang_limit.h"

namespace langmon::host::testing {

struct ProcessResult {
  int status = -1;  // exit status; 128 + signal when killed
  std::string out;
  std::string err;
};

// Runs a program to its end (killing it after `limit`), feeding `input` on
// its standard input, and collects both output streams.
ProcessResult Run(const std::vector<std::string>& argv, const std::string& input = "",
                  std::chrono::milliseconds limit = std::chrono::seconds(120));

// Runs the langmon command with `args` as Run does.
ProcessResult RunLangmon(std::vector<std::string> args, const std::string& input = "",
                         std::chrono::milliseconds limit = std::chrono::seconds(120));

// Waits for the child `pid` to end; its exit status (128 + signal when
// killed). A child still running after `limit` is killed and fails the test
// naming `what`, and the status is -1: a hang fails by name instead of at
// ctest's time-out.
int WaitForExit(pid_t pid, const std::string& what, std::chrono::milliseconds limit);

// Runs a program to its end with its standard output on the descriptor
// `out` and SIGPIPE at its default action, as a shell starts it; collects
// standard error.
ProcessResult RunWithStdout(const std::vector<std::string>& args, int out);

// A langmon-printer server on a free loopback port for the life of the
// object; stopped with SIGTERM.
class PrinterServer {
 public:
  explicit PrinterServer(const std::vector<std::string>& options = {});
  ~PrinterServer();
  PrinterServer(const PrinterServer&) = delete;
  PrinterServer& operator=(const PrinterServer&) = delete;

  unsigned port() const { return port_; }
  std::string Uri() const { return "socket://127.0.0.1:" + std::to_string(port_); }
  // Stops the server; its exit status.
  int Stop();

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  unsigned port_ = 0;
};

// A loopback TCP connection to `port`; -1 when refused.
int Connect(unsigned port);
// Sends all of `text` (a test failure when it cannot).
void Send(int fd, const std::string& text);

// What ReceiveReplies got: the bytes, the size of every recv, and how the
// connection ended (an error such as ECONNRESET, or closed by the peer).
struct Received {
  std::string bytes;
  std::vector<std::size_t> pieces;
  int error = 0;
  bool closed = false;
};
// Receives until `count` form feeds arrived, the connection ends or `limit`
// passes.
Received ReceiveReplies(int fd, int count,
                        std::chrono::milliseconds limit = ::langmon::testing::kHangLimit);

// A REGEDIT4 file in the temporary directory holding `values` ("name"=dword:...
// lines) under the driver-data key of `printer`.
std::string SettingsFile(const std::string& values, const std::string& printer = "langmon");

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
// A fresh file name in the temporary directory.
std::string TempPath(const std::string& stem);

}  // namespace langmon::host::testing

// The langmon command's options and exit statuses, shared by its commands.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "platform/platform.h"

namespace langmon::cli {

enum ExitStatus { kSuccess = 0, kFailed = 1, kUsage = 2, kTimedOut = 4 };

struct Options {
  std::string device = "sim:";
  std::string port = "LPT1:";
  std::string printerName = "langmon";
  std::string settings;
  bool trace = false;
  bool quiet = false;
  double connectTimeout = 10;     // seconds, each connect (--connect-timeout)
  std::optional<double> timeout;  // seconds, the whole command (--timeout)
  // When the time limit runs out: the start of the run plus --timeout.
  std::optional<std::chrono::steady_clock::time_point> deadline;
  bool json = false;
  std::optional<DWORD> page;
  std::string file;
  DWORD jobId = 1;
  std::string document;
};

}  // namespace langmon::cli

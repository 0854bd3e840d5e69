// The langmon command's options and exit statuses, shared by its commands.
#pragma once

#include <optional>
#include <string>

#include "platform/platform.h"

namespace langmon::cli {

enum ExitStatus { kSuccess = 0, kFailed = 1, kUsage = 2 };

struct Options {
  std::string device = "sim:";
  std::string port = "LPT1:";
  std::string printerName = "langmon";
  std::string settings;
  bool trace = false;
  bool quiet = false;
  bool verbose = false;  // list each line a .reg file leaves out
  bool json = false;
  std::optional<DWORD> page;
  std::string file;
  DWORD jobId = 1;
  std::string document;
};

}  // namespace langmon::cli

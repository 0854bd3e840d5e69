#include "report.h"

#include <fmt/format.h>

namespace langmon::cli {

using host::PortFailure;

void Error(const std::string& text) { fmt::print(stderr, "langmon: error: {}\n", text); }
void Warning(const std::string& text) { fmt::print(stderr, "langmon: warning: {}\n", text); }

std::string Win32ErrorText(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
      return "file not found";
    case ERROR_ACCESS_DENIED:
      return "access denied";
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return "out of memory";
    case ERROR_GEN_FAILURE:
      return "the device does not work";
    case ERROR_NOT_SUPPORTED:
      return "not supported";
    case ERROR_INVALID_PARAMETER:
      return "invalid parameter";
    case ERROR_BUSY:
      return "the port is in use";
    case ERROR_TIMEOUT:
      return "timed out";
    case ERROR_INVALID_PRINT_MONITOR:
      return "the port monitor lacks a required operation";
    default:
      return fmt::format("error {}", error);
  }
}

std::string DescribeFailure(const PortFailure& f) {
  if (!f.message.empty()) return f.message;
  return fmt::format("{} failed: {}", f.operation, Win32ErrorText(f.error));
}

}  // namespace langmon::cli

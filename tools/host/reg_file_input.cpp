#include "reg_file_input.h"

namespace langmon::host {

sim::InputResult ReadRegFile(const std::string& path, RegFile& out, std::string& error,
                             std::optional<std::chrono::steady_clock::time_point> deadline) {
  std::string bytes;
  const sim::InputResult read =
      sim::ReadInputFile(path, {".reg file", kMaxRegFileBytes, deadline}, bytes, error);
  if (read != sim::InputResult::Read) return read;
  RegFileError failure;
  if (!ParseRegFile(bytes, out, failure)) {
    error = path + ":" + std::to_string(failure.line) + ": " + failure.reason;
    return sim::InputResult::Refused;
  }
  return sim::InputResult::Read;
}

}  // namespace langmon::host

// A print job's result for --json, kept apart from the print command's flow.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "options.h"
#include "platform/platform.h"

namespace langmon::cli {

// The outcome of one print job, filled by the print command and reported
// as text or, with --json, as JobJson.
struct PrintResult {
  DWORD jobId = 0;
  std::optional<std::uint64_t> size;  // of the input, when it is a regular file
  std::uint64_t bytesRead = 0;        // from the input
  bool started = false;               // StartDocPort accepted the document
  bool complete = false;              // every byte read was handed to the port
  std::uint64_t bytesSent = 0;        // taken by the port monitor's writes
  std::uint64_t bytesTaken = 0;       // known to have reached the printer
  // What the printer's TCP acknowledged, when the port can tell; more than
  // bytesTaken when the connection broke, which drops what was not read.
  std::optional<std::uint64_t> bytesAcknowledged;
  bool released = false;  // the monitor released the job
  std::string failure;    // why the job failed; empty when it did not
};

nlohmann::ordered_json JobJson(const Options& options, const PrintResult& result);

}  // namespace langmon::cli

// langmon-printer's command line: its options with their ranges, and the
// printer configuration they make with the objects file.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <string>
#include <vector>

#include "printer_config.h"
#include "printer_server.h"

namespace langmon::printer {

// What the command line sets besides the server's own options.
struct Knobs {
  std::string objectsFile;
  std::string deviceId;
  std::string transcript;
  DWORD delayMs = 0;
  std::vector<std::size_t> split;
  bool noise = false;
  std::string noiseText = "\x01\x02 noise ";
  bool stale = false;
  bool silent = false;
  long long silentAfter = -1;
  std::vector<std::string> silentObjects;
  std::string unknown;
  // --fleet and the knobs that concern a fleet.
  unsigned fleet = 0;  // 0: one printer, no --fleet
  DWORD latencyMs = 0;
  double silentShare = 0;
  double resetShare = 0;
  std::uint32_t seed = 1;
  std::string list;
};

// Bounds of the fleet's knobs.
constexpr unsigned kMaxFleet = 1024;
constexpr DWORD kMaxLatencyMs = 60000;

// Adds every option to `app`; each number is checked for its range, with a
// message that names the option, the value and the range.
void AddOptions(CLI::App& app, ServerOptions& options, Knobs& knobs);

// The objects file, then the command-line knobs over it. False with a
// message when the file cannot be read or is malformed.
bool MakeConfig(const CLI::App& app, const Knobs& knobs, sim::PrinterConfig& config,
                std::string& error);

}  // namespace langmon::printer

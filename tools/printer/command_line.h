// langmon-printer's command line: its options with their ranges, and the
// printer configuration they make with the objects file. CLI11 stays inside
// command_line.cpp: it is the costliest header of the tree to compile.
#pragma once

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

// What the command line asks for, checked: the server's options, the knobs,
// and the printer configuration they make over the objects file.
struct CommandLine {
  ServerOptions options;
  Knobs knobs;
  sim::PrinterConfig config;
  bool deviceIdGiven = false;  // --device-id, which has no effect over TCP
};

// What ParseCommandLine returns when the server is to run.
constexpr int kServe = -1;
// The exit status of a usage error.
constexpr int kUsageStatus = 2;

// Reads and checks argv: every number against its range, the options'
// combinations, then the objects file and the knobs over it. kServe to go
// on; otherwise the exit status: 0 once --help or --version has printed its
// text, kUsageStatus with the message in `error`.
int ParseCommandLine(int argc, char** argv, CommandLine& line, std::string& error);

}  // namespace langmon::printer

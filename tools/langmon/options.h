// The langmon command's options and exit statuses, shared by its commands.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace langmon::host {
struct RegFile;
}

namespace langmon::cli {

struct Baseline;

// kUnanswered: the request went through, but the answer did not come whole
// from the printer (a configuration from stored settings or defaults, some
// settings unanswered, settings that could not be read back to verify).
// kTimedOut: the time limit (--timeout) cut the command short.
// kDiffers: audit read the printer whole, and it differs from the baseline.
// kStoppedBySignal: a fleet stopped by SIGINT, SIGTERM or SIGHUP ends with
// this plus the signal's number, as a shell reports a program it ended.
enum ExitStatus {
  kSuccess = 0,
  kFailed = 1,
  kUsage = 2,
  kUnanswered = 3,
  kTimedOut = 4,
  kDiffers = 5,
  kStoppedBySignal = 128
};

// The status of a run with two outcomes: a usage error outweighs a failure,
// which outweighs an incomplete answer, which outweighs a difference from
// the baseline (a fleet with a printer not read whole was not read whole),
// which outweighs success.
constexpr int Worse(int a, int b) {
  constexpr auto rank = [](int s) {
    return s == kSuccess ? 0 : s == kDiffers ? 1 : s == kUnanswered ? 2 : s + 2;
  };
  return rank(a) >= rank(b) ? a : b;
}

struct Options {
  std::string device = "sim:";
  std::vector<std::string> devices;  // every --printer; one is also `device`
  std::string printersFile;          // --printers FILE
  std::optional<int> jobs;           // --jobs N
  bool csv = false;                  // --csv
  std::string port = "LPT1:";
  std::string printerName = "langmon";
  std::string settings;
  // Whose settings in the file of --settings are loaded: empty for the
  // run's own printer; a fleet names the file's one printer.
  std::string settingsFrom;
  // A fleet's file of several printers' settings: each printer takes its
  // own, and the other printers' keys are theirs, not left out.
  bool settingsPerPrinter = false;
  // The file of --settings, read and parsed once by a fleet's parent and
  // shared with its workers; null: each run reads the file itself.
  std::shared_ptr<const host::RegFile> settingsFile;
  bool trace = false;
  bool quiet = false;
  bool verbose = false;           // list each line a .reg file leaves out
  double connectTimeout = 10;     // seconds, each connect (--connect-timeout)
  std::optional<double> timeout;  // seconds, the whole command (--timeout)
  // When the time limit runs out: the start of the run plus --timeout.
  std::optional<std::chrono::steady_clock::time_point> deadline;
  bool json = false;
  std::optional<DWORD> page;
  std::string file;
  DWORD jobId = 1;
  std::string document;
  std::string regFile;                   // config --reg
  bool verify = false;                   // apply, set --verify
  std::vector<std::string> assignments;  // set NAME=VALUE...
  std::string baseline;                  // audit BASELINE.reg
  // The baseline, read and checked once by a fleet's parent and shared with
  // its workers; null: the run reads it itself.
  std::shared_ptr<const Baseline> baselineRead;
};

}  // namespace langmon::cli

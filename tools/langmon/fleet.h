// Fleets: one command (config, apply, set, testpage) run against many
// printers at once. The parent process stays single-threaded: it reads the
// printers, forks worker processes (each its own monitor instance, serving
// a printer on each port the monitor serves, one thread each), hands
// them printers over a pipe as their slots free up, reads one result line
// per printer back over another, and writes the results as they come: text,
// JSON Lines or CSV. Each printer runs through the same command code as a
// single run, so its result is the one a single run would give.
#pragma once

#include <cstddef>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "input_file.h"
#include "monitor/monitor_api.h"
#include "options.h"
#include "time_limit.h"

namespace langmon::cli {

// One printer of a fleet: its device URI and its spooler printer name.
struct FleetPrinter {
  std::string uri;
  std::string name;
  std::string origin;  // where it was named: "FILE:LINE" or "--printer URI"
};

// What every worker runs: the command and the options all printers share.
struct FleetJob {
  std::string command;  // "config", "apply", "set", "testpage"
  int (*run)(const Options& options) = nullptr;
  Options options;
  std::vector<FleetPrinter> printers;
};

// How many printers one worker serves at once: one on each port the monitor
// serves the configuration requests on (monitor_api.h).
inline constexpr int kSlotsPerWorker = static_cast<int>(std::size(kServedPortNames));
// The bounds of --jobs.
inline constexpr int kDefaultJobs = 256;
inline constexpr int kMaxJobs = 1024;

// Whether the command line asks for a fleet: --printers, --printer more
// than once, --jobs or --csv.
bool FleetAsked(const Options& options);

// The printers of --printer and --printers, in that order; an unnamed one
// is called "langmon-N" after its position N. Refused with `error` ("FILE:
// why", "FILE:LINE: why") when the file cannot be read or a line or a name is
// wrong; TimeUp when the deadline passed while the file was read. Device
// URIs that several printers share are warned of.
sim::InputResult CollectPrinters(const Options& options, std::vector<FleetPrinter>& printers,
                                 std::string& error);

// The stored settings of --settings, read and parsed once for the whole
// fleet (the workers inherit them); kSuccess, or the exit status of a file
// that cannot be read, which is reported.
int StoredSettingsForAll(Options& options, const std::vector<FleetPrinter>& fleet);

// Runs `command` on every printer the options name; the exit status.
int RunFleet(const std::string& command, int (*run)(const Options&), const Options& options);

// ---- between the parts ----------------------------------------------------

// A worker process: reads printer indices from `taskFd`, runs each on a free
// slot, writes "INDEX\tSTATUS\tJSON\n" to `resultFd`, and ends when `taskFd` ends
// and its printers are done.
[[noreturn]] void RunWorker(const FleetJob& job, int slots, int taskFd, int resultFd);
// One printer on the worker's port `slot` (an index into kServedPortNames),
// on the calling thread; its JSON object.
nlohmann::ordered_json RunFleetPrinter(const FleetJob& job, std::size_t index, int slot);

}  // namespace langmon::cli

// The parent of a fleet: single-threaded, so that it may fork. It starts the
// workers, hands them printers as their slots free up, reads their results
// with poll(), re-runs the printers of a worker that died, and enforces the
// deadline of --timeout itself (no watchdog thread here).
#include <fcntl.h>
#include <fmt/format.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <exception>
#include <memory>
#include <optional>
#include <vector>

#include "fleet.h"
#include "fleet_output.h"
#include "plumbing.h"
#include "progress_line.h"
#include "report.h"

namespace langmon::cli {

namespace {

using Json = nlohmann::ordered_json;
using ports::CloseFd;

struct Worker {
  pid_t pid = -1;
  int taskFd = -1;  // -1 once closed: no more printers for it
  int resultFd = -1;
  int slots = 0;
  std::vector<std::size_t> inFlight;  // handed out, no result yet
  std::string buffer;                 // a result line not yet whole
};

// The parent's state of one fleet's run: its workers, the printers waiting,
// in flight and done, and how the output and the progress line go. (The
// printers langmon-printer serves as a fleet are a SimulatedFleet.)
struct FleetRun {
  explicit FleetRun(const FleetJob& j) : job(j) {}
  const FleetJob& job;
  FleetFormat format = FleetFormat::Text;
  std::unique_ptr<host::ProgressLine> progress;  // on a terminal only
  std::deque<std::size_t> waiting;
  std::vector<std::optional<int>> statuses;
  std::vector<int> crashes;
  std::vector<Clock::time_point> handedOut;
  std::vector<Worker> workers;
  std::size_t finished = 0;
  int status = kSuccess;
  int signalFd = -1;   // SIGINT, SIGTERM and SIGHUP, blocked and read here
  sigset_t oldMask{};  // the mask before they were blocked, for the workers
  int stoppedBy = 0;   // the signal that stopped the fleet, or 0
};

void ClearProgress(FleetRun& fleet) {
  if (fleet.progress) fleet.progress->Wipe();
}

void ShowProgress(FleetRun& fleet, bool now) {
  const auto time = Clock::now();
  if (!fleet.progress || (!now && !fleet.progress->Due(time))) return;
  FleetTally tally{fleet.finished, 0, 0, fleet.waiting.size()};
  for (const auto& s : fleet.statuses)
    if (s && *s != kSuccess) ++tally.failed;
  for (const Worker& w : fleet.workers) tally.running += w.inFlight.size();
  fleet.progress->Show(ProgressText(tally), time);
}

// A printer's result, `line` as the output shows it: written out at once,
// each line flushed so that a reader sees it as the printer finishes.
void Finish(FleetRun& fleet, std::size_t index, int status, const std::string& line) {
  if (fleet.statuses[index]) return;
  fleet.statuses[index] = status;
  fleet.status = Worse(fleet.status, status);
  ++fleet.finished;
  ClearProgress(fleet);
  Print(line);
  FlushOutput();
  ShowProgress(fleet, true);
}

// A result the parent makes itself, for a printer no worker answered for.
void FinishWithError(FleetRun& fleet, std::size_t index, int status, const std::string& error,
                     const std::string& cause) {
  const FleetPrinter& p = fleet.job.printers[index];
  const double seconds =
      fleet.handedOut[index] == Clock::time_point{}
          ? 0.0
          : std::chrono::duration<double>(Clock::now() - fleet.handedOut[index]).count();
  const Json result{{"uri", p.uri},   {"name", p.name},       {"error", error},
                    {"cause", cause}, {"exitStatus", status}, {"seconds", seconds}};
  Finish(fleet, index, status, FleetLine(fleet.format, result));
}

void HandOut(FleetRun& fleet, Worker& worker, std::size_t index) {
  worker.inFlight.push_back(index);
  fleet.handedOut[index] = Clock::now();
  const std::string line = fmt::format("{}\n", index);
  // A worker that is gone is noticed when its results end; the printer is
  // in flight there and handled as such.
  if (::write(worker.taskFd, line.data(), line.size()) < 0) CloseFd(worker.taskFd);
}

// In a freshly forked worker: the stop signals act as they did before the
// fleet blocked them, and the worker dies with the parent, whatever ends it
// (a kill -9 too), instead of running on with printer connections open.
void BecomeWorker(FleetRun& fleet, pid_t parent) {
  CloseFd(fleet.signalFd);
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != parent) std::_Exit(kFailed);  // the parent died before the line above
  ::sigprocmask(SIG_SETMASK, &fleet.oldMask, nullptr);
}

// Starts a worker with `slots` slots; false with `error` when it cannot.
// The child keeps only its own two pipe ends: another worker's task pipe
// held open by a sibling would never end.
bool Spawn(FleetRun& fleet, int slots, std::string& error) {
  int task[2], result[2];
  if (::pipe2(task, O_CLOEXEC) != 0) {
    error = std::strerror(errno);
    return false;
  }
  if (::pipe2(result, O_CLOEXEC) != 0) {
    error = std::strerror(errno);
    ::close(task[0]);
    ::close(task[1]);
    return false;
  }
  std::fflush(stdout);
  std::fflush(stderr);
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid == 0) {
    for (Worker& w : fleet.workers) {
      CloseFd(w.taskFd);
      CloseFd(w.resultFd);
    }
    BecomeWorker(fleet, parent);
    ::close(task[1]);
    ::close(result[0]);
    try {
      RunWorker(fleet.job, slots, task[0], result[1]);
    } catch (...) {
      std::_Exit(kFailed);
    }
  }
  ::close(task[0]);
  ::close(result[1]);
  if (pid < 0) {
    error = std::strerror(errno);
    ::close(task[1]);
    ::close(result[0]);
    return false;
  }
  fleet.workers.push_back(Worker{pid, task[1], result[0], slots, {}, {}});
  return true;
}

// Hands waiting printers to workers with free slots; once none wait, tells
// every worker that no more come.
void Dispatch(FleetRun& fleet) {
  for (Worker& w : fleet.workers)
    while (w.taskFd >= 0 && !fleet.waiting.empty() &&
           w.inFlight.size() < static_cast<std::size_t>(w.slots)) {
      const std::size_t index = fleet.waiting.front();
      fleet.waiting.pop_front();
      HandOut(fleet, w, index);
    }
  if (fleet.waiting.empty())
    for (Worker& w : fleet.workers) CloseFd(w.taskFd);
}

// "INDEX\tSTATUS\tJSON" from a worker. JSON Lines pass the worker's text
// through: the parent is one thread for the whole fleet, so it parses only
// what it must show otherwise.
void TakeResultLine(FleetRun& fleet, Worker& worker, const std::string& line) {
  std::size_t index = 0, end = 0;
  int status = kFailed;
  try {
    index = std::stoul(line, &end);
    status = std::stoi(line.substr(end + 1));
  } catch (const std::exception&) {
    return;  // not a result of ours; the printer stays in flight
  }
  const std::size_t json = line.find('\t', end + 1);
  const auto it = std::find(worker.inFlight.begin(), worker.inFlight.end(), index);
  if (it == worker.inFlight.end() || json == std::string::npos) return;
  worker.inFlight.erase(it);
  if (fleet.format == FleetFormat::JsonLines) {
    Finish(fleet, index, status, line.substr(json + 1) + "\n");
    return;
  }
  const Json result = Json::parse(line.substr(json + 1), nullptr, false);
  if (result.is_discarded() || !result.is_object()) {
    FinishWithError(fleet, index, kFailed, "the worker's answer could not be read",
                    "it was no JSON object");
    return;
  }
  Finish(fleet, index, status, FleetLine(fleet.format, result));
}

// Reads what a worker sent; false at its end.
bool ReadResults(FleetRun& fleet, Worker& worker) {
  char chunk[8192];
  const ssize_t n = ::read(worker.resultFd, chunk, sizeof chunk);
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return true;
  if (n <= 0) return false;
  worker.buffer.append(chunk, static_cast<std::size_t>(n));
  for (std::size_t end; (end = worker.buffer.find('\n')) != std::string::npos;) {
    const std::string line = worker.buffer.substr(0, end);
    worker.buffer.erase(0, end + 1);
    TakeResultLine(fleet, worker, line);
  }
  return true;
}

// How a worker process ended, in words.
std::string HowItEnded(int waitStatus) {
  if (WIFSIGNALED(waitStatus)) {
    const int sig = WTERMSIG(waitStatus);
    const char* abbrev = sigabbrev_np(sig);
    return fmt::format("was killed by signal SIG{} ({})", abbrev ? abbrev : std::to_string(sig),
                       strsignal(sig));
  }
  if (WIFEXITED(waitStatus))
    return fmt::format("exited with status {} before answering", WEXITSTATUS(waitStatus));
  return "ended before answering";
}

// A printer whose worker died before answering for it. A test page is never
// asked twice; another request runs once more, alone in a fresh worker, so
// that a printer that brings its worker down takes no other printer with it.
void Orphaned(FleetRun& fleet, std::size_t index, const std::string& how) {
  const std::string error = "the worker process running this printer " + how;
  if (fleet.job.command == "testpage") {
    FinishWithError(fleet, index, kFailed, error,
                    "it is not known whether the test page was asked, so it is not asked again");
    return;
  }
  if (++fleet.crashes[index] >= 2) {
    FinishWithError(fleet, index, kFailed, error,
                    "it ended so twice, the second time running this printer alone");
    return;
  }
  std::string why;
  if (!Spawn(fleet, 1, why)) {
    FinishWithError(fleet, index, kFailed, error, "cannot start another worker: " + why);
    return;
  }
  HandOut(fleet, fleet.workers.back(), index);
}

// A worker's results have ended: it is collected, and what it left undone
// goes elsewhere. The worker is taken out of the list first, since
// re-running its printers adds workers.
void Reap(FleetRun& fleet, std::size_t which) {
  Worker worker = std::move(fleet.workers[which]);
  fleet.workers.erase(fleet.workers.begin() + static_cast<std::ptrdiff_t>(which));
  CloseFd(worker.taskFd);
  CloseFd(worker.resultFd);
  int waitStatus = 0;
  while (::waitpid(worker.pid, &waitStatus, 0) < 0 && errno == EINTR) {
  }
  if (worker.inFlight.empty() && fleet.waiting.empty()) return;
  const std::string how = HowItEnded(waitStatus);
  for (std::size_t index : worker.inFlight) Orphaned(fleet, index, how);
  const int spare = worker.slots - static_cast<int>(worker.inFlight.size());
  std::string why;
  // Should this fail, KeepAWorker tries again when no worker is left.
  if (!fleet.waiting.empty() && spare > 0) Spawn(fleet, spare, why);
}

// The fleet ends before its printers are done: the workers are killed,
// what they had finished is taken, and every printer not done is reported
// with `status` and `error`.
void StopWorkers(FleetRun& fleet, int status, const std::string& error) {
  for (Worker& w : fleet.workers) ::kill(w.pid, SIGKILL);
  for (std::size_t i = 0; i < fleet.workers.size(); ++i) {
    Worker& w = fleet.workers[i];
    while (ReadResults(fleet, w)) {
    }
    CloseFd(w.taskFd);
    CloseFd(w.resultFd);
    while (::waitpid(w.pid, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  for (std::size_t i = 0; i < fleet.statuses.size(); ++i)
    if (!fleet.statuses[i])
      FinishWithError(fleet, i, status, error,
                      fleet.handedOut[i] == Clock::time_point{} ? "it was not started"
                                                                : "stopped while still waiting");
  fleet.workers.clear();
}

// The deadline has passed (with the grace a single run's watchdog gives).
void StopAtDeadline(FleetRun& fleet) {
  StopWorkers(
      fleet, kTimedOut,
      TimeLimitText(fleet.job.options.timeout.value_or(0)) + " before this printer was done");
}

// SIGINT, SIGTERM or SIGHUP came: the fleet stops as a shell reports a
// program the signal ended, 128 + its number, having said what was done.
void StopOnSignal(FleetRun& fleet) {
  const char* name = sigabbrev_np(fleet.stoppedBy);
  StopWorkers(fleet, kStoppedBySignal + fleet.stoppedBy,
              fmt::format("langmon was stopped by SIG{} before this printer was done",
                          name ? name : std::to_string(fleet.stoppedBy)));
}

// Blocks the stop signals and opens the descriptor the poll loop reads them
// from: the parent is one thread, and a handler would have to do the same.
bool TakeStopSignals(FleetRun& fleet) {
  sigset_t stops;
  sigemptyset(&stops);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stops, sig);
  if (::sigprocmask(SIG_BLOCK, &stops, &fleet.oldMask) != 0) return false;
  fleet.signalFd = ::signalfd(-1, &stops, SFD_NONBLOCK | SFD_CLOEXEC);
  return fleet.signalFd >= 0;
}

// Whether a stop signal has come, remembering the first.
bool StopSignalled(FleetRun& fleet) {
  signalfd_siginfo info{};
  if (fleet.stoppedBy == 0 && fleet.signalFd >= 0 &&
      ::read(fleet.signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
    fleet.stoppedBy = static_cast<int>(info.ssi_signo);
  return fleet.stoppedBy != 0;
}

// How long poll() may wait: until the deadline's grace ends, and no longer
// than the progress line's next refresh.
int PollTimeout(const FleetRun& fleet) {
  std::optional<Clock::duration> wait;
  if (fleet.job.options.deadline)
    wait = *fleet.job.options.deadline + TimeLimit::kWatchdogGrace - Clock::now();
  if (fleet.progress)
    wait = std::min<Clock::duration>(wait.value_or(Clock::duration::max()),
                                     host::ProgressLine::kInterval);
  if (!wait) return -1;
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(*wait).count();
  return static_cast<int>(std::clamp<long long>(ms + 1, 0, 60'000));
}

bool PastDeadline(const FleetRun& fleet) {
  return fleet.job.options.deadline &&
         Clock::now() >= *fleet.job.options.deadline + TimeLimit::kWatchdogGrace;
}

// Printers wait but no worker is left (each that died took its slots with
// it and none could be started again): one more is tried, else they fail.
void KeepAWorker(FleetRun& fleet) {
  if (!fleet.workers.empty() || fleet.waiting.empty()) return;
  std::string why;
  if (Spawn(fleet, static_cast<int>(std::min<std::size_t>(fleet.waiting.size(), kSlotsPerWorker)),
            why))
    return;
  while (!fleet.waiting.empty()) {
    const std::size_t index = fleet.waiting.front();
    fleet.waiting.pop_front();
    FinishWithError(fleet, index, kFailed, "cannot start a worker process", why);
  }
}

// One round: hand out, wait for results, take them.
void Step(FleetRun& fleet) {
  KeepAWorker(fleet);
  Dispatch(fleet);
  std::vector<pollfd> fds;
  for (const Worker& w : fleet.workers) fds.push_back({w.resultFd, POLLIN, 0});
  fds.push_back({fleet.signalFd, POLLIN, 0});
  if (::poll(fds.data(), fds.size(), PollTimeout(fleet)) < 0 && errno != EINTR) return;
  // A signal first: a Ctrl-C ends the workers too, and their ends must not
  // be taken for crashes whose printers run again.
  if (StopSignalled(fleet)) return;
  // Backwards: reaping takes a worker out and may add others at the end.
  for (std::size_t i = fleet.workers.size(); i-- > 0;)
    if (fds[i].revents != 0 && !ReadResults(fleet, fleet.workers[i])) Reap(fleet, i);
  ShowProgress(fleet, false);
}

}  // namespace

namespace {

// The workers: as few as hold min(jobs, printers) slots at kSlotsPerWorker
// each, with the slots spread evenly.
bool StartWorkers(FleetRun& fleet, std::size_t jobs) {
  const std::size_t total = std::min(jobs, fleet.job.printers.size());
  const std::size_t count = (total + kSlotsPerWorker - 1) / kSlotsPerWorker;
  for (std::size_t i = 0; i < count; ++i) {
    const int slots = static_cast<int>(total / count + (i < total % count ? 1 : 0));
    std::string why;
    if (!Spawn(fleet, slots, why)) {
      if (!fleet.workers.empty()) return true;  // fewer workers, the same work
      Fail(kFailed, "cannot start a worker process", why);
      return false;
    }
  }
  return true;
}

// Hands out and collects until every printer is done, the deadline has
// passed or a stop signal came; then the workers are collected.
void RunToTheEnd(FleetRun& fleet) {
  while (fleet.finished < fleet.statuses.size()) {
    if (StopSignalled(fleet)) {
      StopOnSignal(fleet);
      break;
    }
    if (PastDeadline(fleet)) {
      StopAtDeadline(fleet);
      break;
    }
    Step(fleet);
  }
  for (Worker& w : fleet.workers) CloseFd(w.taskFd);
  while (!fleet.workers.empty()) Reap(fleet, fleet.workers.size() - 1);
}

FleetFormat FormatOf(const std::string& command, const Options& options) {
  if (options.json) return FleetFormat::JsonLines;
  if (!options.csv) return FleetFormat::Text;
  return command == "audit" ? FleetFormat::AuditCsv : FleetFormat::Csv;
}

}  // namespace

int RunFleet(const std::string& command, int (*run)(const Options&), const Options& options) {
  FleetJob job{command, run, options, {}};
  std::string error;
  const sim::InputResult read = CollectPrinters(options, job.printers, error);
  if (read != sim::InputResult::Read)
    return FailInput(read, "cannot read the printers", options.printersFile, error,
                     options.timeout);
  if (int rc = StoredSettingsForAll(job.options, job.printers)) return rc;
  FleetRun fleet(job);
  fleet.format = FormatOf(command, options);
  if (!options.quiet && isatty(STDERR_FILENO))
    fleet.progress = std::make_unique<host::ProgressLine>(stderr);
  const std::size_t n = job.printers.size();
  for (std::size_t i = 0; i < n; ++i) fleet.waiting.push_back(i);
  fleet.statuses.resize(n);
  fleet.crashes.resize(n);
  fleet.handedOut.resize(n);
  TakeStopSignals(fleet);  // without them a signal ends the parent as before
  if (!StartWorkers(fleet, static_cast<std::size_t>(options.jobs.value_or(kDefaultJobs))))
    return kFailed;
  // The results are the output from here on: no JSON object at the end.
  SetJsonOutput(false);
  Print(CsvHeaderOf(fleet.format));
  RunToTheEnd(fleet);
  // The stop signals stay blocked: the run ends here, and a second Ctrl-C
  // must not cut the summary short.
  CloseFd(fleet.signalFd);
  ClearProgress(fleet);
  std::vector<std::string> names;
  std::vector<int> statuses;
  for (std::size_t i = 0; i < n; ++i) {
    names.push_back(job.printers[i].name);
    statuses.push_back(fleet.statuses[i].value_or(kFailed));
  }
  std::fputs(FleetSummary(names, statuses).c_str(), stderr);
  return fleet.status;
}

}  // namespace langmon::cli

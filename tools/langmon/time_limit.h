// The run's time limit (--timeout). Session hands its deadline to the port
// monitors, which wait no longer and fail every call after it, and to the
// spooler stand-in, whose clock then runs ahead so that the monitor's
// exchanges end at once. What no wait of the port reaches (a name lookup, an
// input that never ends) is caught by a watchdog, which ends the process
// half a second after the deadline.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "input_file.h"

namespace langmon::cli {

using Clock = std::chrono::steady_clock;

class TimeLimit {
 public:
  // No limit without `seconds`; else the deadline is `start` plus them, and
  // the watchdog runs until this object goes.
  TimeLimit(std::optional<double> seconds, Clock::time_point start);
  ~TimeLimit();
  TimeLimit(const TimeLimit&) = delete;
  TimeLimit& operator=(const TimeLimit&) = delete;

  std::optional<Clock::time_point> Deadline() const { return deadline_; }
  // The exit status of a command that returned `status`: kTimedOut, with a
  // message naming the limit, when the deadline cut the command short.
  int Finish(int status) const;
  // What the message says: "the time limit of 5 s (--timeout) ran out".
  std::string Text() const;

  // How long after the deadline the watchdog ends a run that is still going.
  static constexpr std::chrono::milliseconds kWatchdogGrace{500};

 private:
  void Watch();

  std::optional<double> seconds_;
  bool json_ = false;  // --json, as the main thread's report knows it
  std::optional<Clock::time_point> deadline_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool done_ = false;
  std::thread watchdog_;
};

// "the time limit of 5 s (--timeout) ran out".
std::string TimeLimitText(double seconds);

// An input file that was not read whole: refused (kUsage; `error` is the
// reader's "PATH: reason", reported under `what`), or cut off by the time
// limit of `timeout` seconds (kTimedOut). Returns the status.
int FailInput(sim::InputResult result, const std::string& what, const std::string& path,
              const std::string& error, std::optional<double> timeout);

// Something of this run was cut short because its deadline had passed: a
// port call failed or the monitor's clock ran ahead. Noted per thread, the
// thread that runs the request (a fleet worker runs one printer per thread).
void NoteTimeRanOut();
bool TimeRanOut();
void ForgetTimeRanOut();

}  // namespace langmon::cli

#include "time_limit.h"

#include <fmt/format.h>
#include <unistd.h>

#include <cstdlib>

#include "options.h"
#include "report.h"

namespace langmon::cli {

namespace {

// Per thread: each printer of a fleet worker runs on its own thread.
thread_local bool t_timeRanOut = false;

}  // namespace

void NoteTimeRanOut() { t_timeRanOut = true; }
bool TimeRanOut() { return t_timeRanOut; }
void ForgetTimeRanOut() { t_timeRanOut = false; }

TimeLimit::TimeLimit(std::optional<double> seconds, Clock::time_point start)
    : seconds_(seconds), json_(JsonOutput()) {
  if (!seconds) return;
  deadline_ =
      start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(*seconds));
  watchdog_ = std::thread([this] { Watch(); });
}

TimeLimit::~TimeLimit() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    done_ = true;
  }
  wake_.notify_all();
  if (watchdog_.joinable()) watchdog_.join();
}

std::string TimeLimit::Text() const { return TimeLimitText(seconds_.value_or(0)); }

std::string TimeLimitText(double seconds) {
  return fmt::format("the time limit of {:g} s (--timeout) ran out", seconds);
}

int FailInput(sim::InputResult result, const std::string& what, const std::string& path,
              const std::string& error, std::optional<double> timeout) {
  if (result == sim::InputResult::TimeUp)
    return Fail(kTimedOut, TimeLimitText(timeout.value_or(0)), "stopped while reading " + path);
  return FailWith(kUsage, what, error);
}

int TimeLimit::Finish(int status) const {
  if (!deadline_ || status == kUsage || !TimeRanOut()) return status;
  Error(Text() + " before the command had finished");
  return kTimedOut;
}

// The last resort: nothing but the process's end can stop a wait that no
// deadline reaches. The messages go straight to the descriptors, since the
// main thread may hold the streams' locks; with --json nothing is on
// standard output yet (the object is printed when the run ends, after the
// watchdog has stopped), so the object this run can still give goes there.
void TimeLimit::Watch() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (wake_.wait_until(lock, *deadline_ + kWatchdogGrace, [this] { return done_; })) return;
  constexpr const char* kCause = "stopped while still waiting";
  const std::string text = "langmon: error: " + Text() + ": " + kCause + "\n";
  std::string json;
  if (json_) {
    const nlohmann::ordered_json object = {
        {"error", Text()}, {"cause", kCause}, {"exitStatus", kTimedOut}};
    json = object.dump(2) + "\n";
  }
  if (::write(STDERR_FILENO, text.data(), text.size()) < 0 ||
      ::write(STDOUT_FILENO, json.data(), json.size()) < 0) {
    // Nothing more can be said.
  }
  std::_Exit(kTimedOut);
}

}  // namespace langmon::cli

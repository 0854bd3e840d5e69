// The line on a terminal that a long task keeps up to date: a configuration
// read, a print job, a fleet. Drawn over itself (carriage return, then the
// rest of the line erased) and wiped when the task ends, so that the output
// around it is left as it would be without it. Redrawn at most every
// kInterval unless the caller shows a change at once.
#pragma once

#include <chrono>
#include <cstdio>
#include <string_view>

namespace langmon::host {

class ProgressLine {
 public:
  using Clock = std::chrono::steady_clock;

  explicit ProgressLine(std::FILE* out) : out_(out) {}
  ~ProgressLine() { Wipe(); }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // Whether a redraw is due at `now`: nothing shown yet, or kInterval since
  // the last.
  bool Due(Clock::time_point now) const { return !shown_ || now - shownAt_ >= kInterval; }
  void Show(std::string_view text, Clock::time_point now = Clock::now());
  // Erases the line, if anything is shown.
  void Wipe();

  static constexpr std::chrono::milliseconds kInterval{200};

 private:
  std::FILE* out_;
  bool shown_ = false;
  Clock::time_point shownAt_{};
};

}  // namespace langmon::host

#include "progress_line.h"

namespace langmon::host {

namespace {

constexpr char kOverLine[] = "\r\x1b[K";

}  // namespace

void ProgressLine::Show(std::string_view text, Clock::time_point now) {
  std::fputs(kOverLine, out_);
  std::fwrite(text.data(), 1, text.size(), out_);
  std::fflush(out_);
  shown_ = true;
  shownAt_ = now;
}

void ProgressLine::Wipe() {
  if (!shown_) return;
  std::fputs(kOverLine, out_);
  std::fflush(out_);
  shown_ = false;
}

}  // namespace langmon::host

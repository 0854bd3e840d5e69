#include "trace.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <set>
#include <vector>

#include "config/settings.h"
#include "pjl/pjl.h"
#include "plumbing.h"
#include "text_encoding.h"

namespace langmon::host {

std::string VisibleBytes(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    switch (b) {
      case 0x1B:
        out += "<ESC>";
        break;
      case '\r':
        out += "<CR>";
        break;
      case '\n':
        out += "<LF>";
        break;
      case 0x0C:
        out += "<FF>";
        break;
      default:
        if (b < 0x20 || b >= 0x7F)
          out += fmt::format("<{:02X}>", b);
        else
          out += c;
    }
  }
  return out;
}

// ---- TraceWriter --------------------------------------------------------------

TraceWriter::TraceWriter(std::FILE* out) : out_(out), start_(std::chrono::steady_clock::now()) {}

void TraceWriter::Line(std::string_view direction, std::string_view text) {
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  fmt::print(out_, "[{:8.3f}] {} {}\n", seconds, direction, text);
  std::fflush(out_);
}

void TraceWriter::Lines(std::string_view direction, std::string_view bytes) {
  while (!bytes.empty()) {
    const std::size_t lf = bytes.find('\n');
    const std::size_t n = lf == std::string_view::npos ? bytes.size() : lf + 1;
    Line(direction, VisibleBytes(bytes.substr(0, n)));
    bytes.remove_prefix(n);
  }
}

void TraceWriter::OnOpen(std::u16string_view portName, bool ok) {
  std::lock_guard<std::mutex> guard(mutex_);
  Line("--", fmt::format("open port \"{}\": {}", Utf16ToUtf8(portName), ok ? "ok" : "failed"));
}

void TraceWriter::OnStartDoc(DWORD jobId, bool ok) {
  std::lock_guard<std::mutex> guard(mutex_);
  inDocument_ = ok;
  Line("--", fmt::format("start document, job {}: {}", jobId, ok ? "ok" : "failed"));
}

void TraceWriter::OnWrite(const BYTE* data, DWORD requested, DWORD written, bool ok) {
  std::lock_guard<std::mutex> guard(mutex_);
  const std::string_view bytes(reinterpret_cast<const char*>(data), written);
  if (inDocument_ && bytes.size() > kJobDataShown) {
    Line("->", fmt::format("{} ... ({} bytes of print data)",
                           VisibleBytes(bytes.substr(0, kJobDataHead)), bytes.size()));
  } else {
    Lines("->", bytes);
  }
  if (!ok || written != requested)
    Line("--", fmt::format("write {}: {} of {} bytes taken", ok ? "short" : "failed", written,
                           requested));
}

void TraceWriter::OnRead(const BYTE* data, DWORD got, bool ok) {
  if (got == 0 && ok) return;  // the exchange polls; empty reads are noise
  std::lock_guard<std::mutex> guard(mutex_);
  Lines("<-", std::string_view(reinterpret_cast<const char*>(data), got));
  if (!ok) Line("--", "read failed");
}

void TraceWriter::OnEndDoc() {
  std::lock_guard<std::mutex> guard(mutex_);
  inDocument_ = false;
  Line("--", "end document");
}

void TraceWriter::OnClose() {
  std::lock_guard<std::mutex> guard(mutex_);
  Line("--", "close port");
}

void TraceWriter::OnTimeouts(const COMMTIMEOUTS& t) {
  std::lock_guard<std::mutex> guard(mutex_);
  Line("--", fmt::format("time-outs: read interval {} ms, total {} ms + {} ms/byte",
                         t.ReadIntervalTimeout, t.ReadTotalTimeoutConstant,
                         t.ReadTotalTimeoutMultiplier));
}

void TraceWriter::OnPrinterData(DWORD controlId, bool ok, DWORD returned) {
  std::lock_guard<std::mutex> guard(mutex_);
  Line("--", fmt::format("port monitor printer data, control 0x{:X}: {} ({} bytes)", controlId,
                         ok ? "ok" : "failed", returned));
}

void TraceWriter::OnFailure(std::string_view operation, DWORD error, const std::string& message) {
  std::lock_guard<std::mutex> guard(mutex_);
  // The port monitor's message says what failed; without one, the code's
  // words do.
  Line("!!", fmt::format("{} failed, error {}: {}", operation, error,
                         message.empty() ? ports::Win32ErrorText(error) : message));
}

void TraceWriter::Note(std::string_view text) {
  std::lock_guard<std::mutex> guard(mutex_);
  Line("--", text);
}

// ---- ConfigProgress ------------------------------------------------------------

namespace {

constexpr std::string_view kQuery = kQueryPrefix;
constexpr std::string_view kEcho = kEchoPrefix;

}  // namespace

ConfigProgress::ConfigProgress(std::FILE* out) : line_(out) {}

ConfigProgress::~ConfigProgress() { Finish(); }

int ConfigProgress::StepOf(std::string_view objectId) {
  for (std::size_t i = 0; i < kPrinterReadStepCount; ++i) {
    const char* id = SettingAt(kPrinterReadSteps[i].Position).ObjectId;
    if (id && objectId == id) return static_cast<int>(i);
  }
  return -1;
}

const char* ConfigProgress::StepName(int step) {
  if (step < 0 || static_cast<std::size_t>(step) >= kPrinterReadStepCount) return "?";
  return SettingAt(kPrinterReadSteps[step].Position).FieldName;
}

void ConfigProgress::OnWrite(const BYTE* data, DWORD, DWORD written, bool) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), written);
  const std::size_t query = bytes.find(kQuery);
  if (query != std::string_view::npos) {
    std::string_view id = bytes.substr(query + kQuery.size());
    id = id.substr(0, id.find('"'));
    const int step = StepOf(id);
    if (step >= 0)
      line_.Show(fmt::format("reading configuration: {} ({} of {})", StepName(step), step + 1,
                             kPrinterReadStepCount));
  } else if (bytes.find(kEcho) != std::string_view::npos) {
    line_.Show("reading configuration: waiting for the printer to answer");
  }
}

void ConfigProgress::Finish() { line_.Wipe(); }

// ---- PrintProgress ------------------------------------------------------------

namespace {

// Bytes in decimal units, one decimal from a kilobyte on: "512 B", "12.6 MB".
std::string Amount(double bytes) {
  constexpr const char* kUnits[] = {"B", "kB", "MB", "GB", "TB"};
  std::size_t unit = 0;
  while (bytes >= 1000 && unit + 1 < std::size(kUnits)) {
    bytes /= 1000;
    ++unit;
  }
  return unit == 0 ? fmt::format("{:.0f} B", bytes) : fmt::format("{:.1f} {}", bytes, kUnits[unit]);
}

}  // namespace

PrintProgress::PrintProgress(std::FILE* out, std::optional<std::uint64_t> size)
    : line_(out), size_(size) {}

PrintProgress::~PrintProgress() { Finish(); }

std::string PrintProgress::Line(std::uint64_t sent, std::optional<std::uint64_t> size,
                                double seconds) {
  std::string line = "printing: " + Amount(static_cast<double>(sent));
  if (size) {
    // Whole percent, rounded down: 100% only once everything is sent.
    const std::uint64_t share =
        *size == 0 ? 100 : std::min<std::uint64_t>(sent, *size) * 100 / *size;
    line += fmt::format(" of {} ({}%)", Amount(static_cast<double>(*size)), share);
  }
  if (seconds > 0) line += ", " + Amount(static_cast<double>(sent) / seconds) + "/s";
  return line;
}

void PrintProgress::Show(std::chrono::steady_clock::time_point now) {
  const double seconds = std::chrono::duration<double>(now - start_).count();
  line_.Show(Line(sent_, size_, seconds), now);
}

void PrintProgress::OnStartDoc(DWORD, bool ok) {
  inDocument_ = ok;
  sent_ = 0;
  start_ = std::chrono::steady_clock::now();
}

void PrintProgress::OnWrite(const BYTE*, DWORD, DWORD written, bool) {
  if (!inDocument_) return;
  sent_ += written;
  const auto now = std::chrono::steady_clock::now();
  if (line_.Due(now)) Show(now);
}

void PrintProgress::OnEndDoc() {
  if (inDocument_) Show(std::chrono::steady_clock::now());
  inDocument_ = false;
}

void PrintProgress::Finish() { line_.Wipe(); }

// ---- QuietNotice ------------------------------------------------------------------

QuietNotice::QuietNotice(std::FILE* out, std::chrono::milliseconds interval, Progress progress)
    : out_(out), interval_(interval), progress_(std::move(progress)) {}

QuietNotice::~QuietNotice() { Stop(); }

void QuietNotice::Start() {
  watcher_ = std::thread([this] { Watch(); });
}

void QuietNotice::Stop() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (watcher_.joinable()) watcher_.join();
}

void QuietNotice::OnStartDoc(DWORD, bool ok) {
  std::lock_guard<std::mutex> guard(mutex_);
  inDocument_ = ok;
  lastWrite_ = std::chrono::steady_clock::now();
}

void QuietNotice::OnWrite(const BYTE*, DWORD, DWORD written, bool) {
  if (written == 0) return;
  std::lock_guard<std::mutex> guard(mutex_);
  lastWrite_ = std::chrono::steady_clock::now();
}

void QuietNotice::OnEndDoc() {
  std::lock_guard<std::mutex> guard(mutex_);
  inDocument_ = false;
}

std::string QuietNotice::Text(std::chrono::seconds quiet) {
  return fmt::format(
      "the printer has taken nothing for {} s; still waiting (a printer out of paper or offline "
      "stalls so; --timeout bounds the wait)",
      quiet.count());
}

// The later of the last write that moved bytes and what the port monitor
// saw; under the lock.
std::chrono::steady_clock::time_point QuietNotice::LastProgress() {
  std::chrono::steady_clock::time_point last = lastWrite_;
  if (progress_)
    if (const auto seen = progress_()) last = std::max(last, *seen);
  return last;
}

// Looks once a second; says so once per whole interval of quiet.
void QuietNotice::Watch() {
  std::unique_lock<std::mutex> lock(mutex_);
  std::chrono::steady_clock::time_point told{};
  while (!wake_.wait_for(lock, std::chrono::seconds(1), [this] { return stop_; })) {
    const auto last = LastProgress();
    const auto quiet = std::chrono::steady_clock::now() - last;
    const auto intervals = quiet / interval_;
    if (!inDocument_ || intervals == 0 || told >= last + intervals * interval_) continue;
    told = last + intervals * interval_;
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(intervals * interval_);
    fmt::print(out_, "langmon: warning: {}\n", Text(seconds));
    std::fflush(out_);
  }
}

// ---- RequestRecorder ------------------------------------------------------------

void RequestRecorder::OnStartDoc(DWORD, bool ok) {
  std::lock_guard<std::mutex> guard(mutex_);
  inDocument_ = ok;
}

void RequestRecorder::OnEndDoc() {
  std::lock_guard<std::mutex> guard(mutex_);
  inDocument_ = false;
}

namespace {

void AppendWithin(std::string& to, const BYTE* data, DWORD size, std::size_t limit) {
  const std::size_t room = limit - std::min(limit, to.size());
  to.append(reinterpret_cast<const char*>(data), std::min<std::size_t>(room, size));
}

// The PJL lines of a text from their "@PJL" on (a reply may follow noise or
// the form feed of the one before), without the line end.
std::vector<std::string_view> PjlLines(std::string_view text) {
  std::vector<std::string_view> lines;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (const std::size_t at = line.find("@PJL"); at != std::string_view::npos)
      lines.push_back(line.substr(at));
    start = end + 1;
  }
  return lines;
}

}  // namespace

void RequestRecorder::OnWrite(const BYTE* data, DWORD, DWORD written, bool) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (!inDocument_) AppendWithin(written_, data, written, kLimit);
}

void RequestRecorder::OnRead(const BYTE* data, DWORD got, bool) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (!inDocument_) AppendWithin(read_, data, got, kLimit);
}

std::size_t RequestRecorder::RefusedReplies() const {
  std::lock_guard<std::mutex> guard(mutex_);
  const std::vector<std::string_view> asked = PjlLines(written_);
  const std::set<std::string_view> queries(asked.begin(), asked.end());
  std::size_t refused = 0;
  for (std::string_view line : PjlLines(read_))
    if ((line.starts_with("@PJL ECHO") || line.starts_with("@PJL DMINFO")) &&
        queries.count(line) == 0)
      ++refused;
  return refused;
}

std::string RequestRecorder::Written() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return written_;
}

void RequestRecorder::Clear() {
  std::lock_guard<std::mutex> guard(mutex_);
  written_.clear();
  read_.clear();
}

}  // namespace langmon::host

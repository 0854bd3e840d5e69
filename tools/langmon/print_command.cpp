#include <fmt/format.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "commands.h"
#include "job_report.h"
#include "plumbing.h"
#include "report.h"
#include "session.h"
#include "text_encoding.h"
#include "time_limit.h"
#include "trace.h"

namespace langmon::cli {

using namespace langmon::host;

namespace {

// How much of the input is read before the port opens.
constexpr std::size_t kReadAhead = 64 * 1024;

// The input of a job, opened, checked and read into before the port opens:
// a port may truncate its output when it opens (file:), so an input that
// cannot be printed must be refused before anything is touched.
struct JobInput {
  std::FILE* file = stdin;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> owned{nullptr, &std::fclose};
  std::optional<std::uint64_t> size;
  std::vector<BYTE> ahead;
  std::size_t aheadUsed = 0;
  int readError = 0;
  bool timeUp = false;  // the deadline passed while the job was being fed
};

// Opens the input (FILE or "-"); false with the reason in `error`.
bool OpenInput(const std::string& path, JobInput& input, std::string& error) {
  if (path != "-") {
    input.owned.reset(std::fopen(path.c_str(), "rb"));
    if (!input.owned) {
      error = fmt::format("cannot open {}: {}", path, std::strerror(errno));
      return false;
    }
    input.file = input.owned.get();
  }
  struct stat st {};
  if (fstat(fileno(input.file), &st) == 0) {
    if (S_ISDIR(st.st_mode)) {
      error = fmt::format("cannot print {}: it is a folder", path);
      return false;
    }
    if (S_ISREG(st.st_mode)) input.size = static_cast<std::uint64_t>(st.st_size);
  }
  input.ahead.resize(kReadAhead);
  input.ahead.resize(std::fread(input.ahead.data(), 1, kReadAhead, input.file));
  if (std::ferror(input.file)) {
    error = fmt::format("cannot read {}: {}", path == "-" ? "standard input" : path,
                        std::strerror(errno));
    return false;
  }
  return true;
}

// The next piece of the job: what was read ahead first, then the rest. The
// job stops at the deadline.
long ReadPiece(JobInput& input, const Options& options, BYTE* buffer, DWORD capacity) {
  if (options.deadline && Clock::now() >= *options.deadline) {
    input.timeUp = true;
    NoteTimeRanOut();
    return -1;
  }
  if (input.aheadUsed < input.ahead.size()) {
    const std::size_t n = std::min<std::size_t>(capacity, input.ahead.size() - input.aheadUsed);
    std::memcpy(buffer, input.ahead.data() + input.aheadUsed, n);
    input.aheadUsed += n;
    return static_cast<long>(n);
  }
  const std::size_t n = std::fread(buffer, 1, capacity, input.file);
  if (n == 0 && std::ferror(input.file)) {
    input.readError = errno;
    return -1;
  }
  return static_cast<long>(n);
}

std::string PortCause(Session& session, DWORD error) {
  return session.observed().HasFailure() ? DescribeFailure(session.observed().FirstFailure())
                                         : ports::Win32ErrorText(error);
}

// Why the job failed, first cause first; empty when it did not.
std::string JobFailure(Session& session, const Options& options, const JobInput& input,
                       const JobResult& job) {
  if (!job.started) return "StartDocPort failed: " + PortCause(session, job.error);
  if (input.timeUp) return "the time limit ran out while the job was being sent";
  if (job.sourceFailed)
    return fmt::format("reading {} failed: {}", options.file, std::strerror(input.readError));
  // A failure anywhere in the document, its end included (a port monitor
  // that could not confirm delivery), fails the job.
  if (!job.complete || session.observed().HasFailure()) return PortCause(session, job.error);
  if (!job.released) return "the monitor did not release it";
  return {};
}

int Report(const PrintResult& r, const Options& options) {
  if (JsonOutput()) JsonResult() = JobJson(options, r);
  if (r.failure.empty()) {
    if (!JsonOutput())
      Print(fmt::format("job {}: sent {} bytes to {} ({})\njob {} released\n", r.jobId, r.bytesSent,
                        options.port, options.device, r.jobId));
    return kSuccess;
  }
  const std::uint64_t of = r.size.value_or(r.bytesRead);
  if (r.bytesAcknowledged && *r.bytesAcknowledged > r.bytesTaken)
    return Fail(kFailed, fmt::format("job {} failed", r.jobId),
                fmt::format("{}; none of the {} bytes is known to have reached the printer: it "
                            "acknowledged {}, but a broken connection drops what the printer had "
                            "not yet read",
                            r.failure, of, *r.bytesAcknowledged));
  return Fail(kFailed, fmt::format("job {} failed", r.jobId),
              fmt::format("{}; {} of {} bytes reached the printer", r.failure, r.bytesTaken, of));
}

// A printer that takes nothing is waited for, as one out of paper must be,
// but a person is told so, on standard error.
QuietNotice* WatchForQuiet(Session& session) {
  const PortMonitor* port = &session.portMonitor();
  auto notice = std::make_unique<QuietNotice>(stderr, QuietNotice::kInterval,
                                              [port] { return port->LastProgress(); });
  QuietNotice* watching = notice.get();
  session.Watch(std::move(notice));
  watching->Start();
  return watching;
}

}  // namespace

int RunPrint(const Options& options) {
  JobInput input;
  std::string error;
  if (!OpenInput(options.file, input, error)) {
    Error(error);
    return kUsage;
  }
  Session session(options);
  if (int rc = session.Open(false)) return rc;
  session.observed().ResetFailure();
  PrintProgress* progress = nullptr;
  if (session.ProgressWanted()) {
    auto made = std::make_unique<PrintProgress>(stderr, input.size);
    progress = made.get();
    session.Watch(std::move(made));
  }
  QuietNotice* quiet = WatchForQuiet(session);
  const std::string document =
      !options.document.empty() ? options.document : (options.file == "-" ? "stdin" : options.file);
  PrintResult result;
  result.jobId = options.jobId;
  result.size = input.size;
  const JobResult job = session.spooler().PrintJob(
      options.jobId, Utf8ToUtf16(document), [&](BYTE* buffer, DWORD capacity) -> long {
        const long n = ReadPiece(input, options, buffer, capacity);
        if (n > 0) result.bytesRead += static_cast<std::uint64_t>(n);
        return n;
      });
  quiet->Stop();
  if (progress) progress->Finish();
  result.started = job.started;
  result.complete = job.complete;
  result.bytesSent = job.bytesSent;
  const std::optional<Taken> taken = session.portMonitor().LastDocumentTaken();
  result.bytesTaken = taken ? (taken->dropped ? 0 : taken->acknowledged) : job.bytesSent;
  if (taken) result.bytesAcknowledged = taken->acknowledged;
  result.released = job.released;
  result.failure = JobFailure(session, options, input, job);
  return Report(result, options);
}

}  // namespace langmon::cli

#include <fmt/format.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "job_report.h"
#include "report.h"
#include "session.h"
#include "text_encoding.h"

namespace langmon::cli {

using namespace langmon::host;

int RunPrint(const Options& options) {
  std::FILE* in = stdin;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(nullptr, &std::fclose);
  if (options.file != "-") {
    file.reset(std::fopen(options.file.c_str(), "rb"));
    if (!file) {
      Error(fmt::format("cannot open {}: {}", options.file, std::strerror(errno)));
      return kUsage;
    }
    in = file.get();
  }
  Session session(options);
  if (int rc = session.Open(false)) return rc;
  session.observed().ResetFailure();

  const std::string document =
      !options.document.empty() ? options.document : (options.file == "-" ? "stdin" : options.file);
  int readError = 0;
  const JobResult result = session.spooler().PrintJob(
      options.jobId, Utf8ToUtf16(document), [&](BYTE* buffer, DWORD capacity) -> long {
        const std::size_t n = std::fread(buffer, 1, capacity, in);
        if (n == 0 && std::ferror(in)) {
          readError = errno;
          return -1;
        }
        return static_cast<long>(n);
      });
  if (!result.started) {
    const std::string cause = session.observed().HasFailure()
                                  ? DescribeFailure(session.observed().FirstFailure())
                                  : Win32ErrorText(result.error);
    Error(fmt::format("job {}: StartDocPort failed: {}", options.jobId, cause));
    return kFailed;
  }
  if (!JsonOutput())
    Print(fmt::format("job {}: sent {} bytes to {} ({})\n", options.jobId, result.bytesSent,
                      options.port, options.device));
  int status = kSuccess;
  if (result.sourceFailed) {
    Error(fmt::format("job {}: reading {} failed: {}", options.jobId, options.file,
                      std::strerror(readError)));
    status = kFailed;
  } else if (!result.complete) {
    const std::string cause = session.observed().HasFailure()
                                  ? DescribeFailure(session.observed().FirstFailure())
                                  : Win32ErrorText(result.error);
    Error(fmt::format("job {}: the port stopped taking data: {}", options.jobId, cause));
    status = kFailed;
  }
  if (result.released) {
    if (!JsonOutput()) Print(fmt::format("job {} released\n", options.jobId));
  } else {
    Error(fmt::format("job {} was not released by the monitor", options.jobId));
    status = kFailed;
  }
  if (JsonOutput()) JsonResult() = JobJson(options, result);
  return status;
}

}  // namespace langmon::cli

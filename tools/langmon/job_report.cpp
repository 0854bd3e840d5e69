#include "job_report.h"

namespace langmon::cli {

nlohmann::ordered_json JobJson(const Options& options, const host::JobResult& result) {
  return {{"request", "print"},          {"job", options.jobId},
          {"port", options.port},        {"device", options.device},
          {"started", result.started},   {"bytesSent", result.bytesSent},
          {"complete", result.complete}, {"released", result.released}};
}

}  // namespace langmon::cli

#include "job_report.h"

namespace langmon::cli {

// "delivered": every byte reached the printer and the job was released;
// "bytesReachedPrinter": as far as the port can tell (a network printer's
// acknowledgements); "size": of the input, null when not known.
nlohmann::ordered_json JobJson(const Options& options, const PrintResult& result) {
  return {{"request", "print"},
          {"job", options.jobId},
          {"port", options.port},
          {"device", options.device},
          {"started", result.started},
          {"bytesSent", result.bytesSent},
          {"complete", result.complete},
          {"released", result.released},
          {"delivered", result.failure.empty()},
          {"bytesReachedPrinter", result.bytesTaken},
          {"size", result.size ? nlohmann::ordered_json(*result.size) : nlohmann::ordered_json()}};
}

}  // namespace langmon::cli

#include "job_report.h"

namespace langmon::cli {

// "delivered": every byte reached the printer and the job was released;
// "released": the monitor released the job to the spooler, which it does
// also when the printer did not take it; "bytesReachedPrinter": as far as
// the port can tell (a network printer's acknowledgements, none after a
// broken connection); "bytesAcknowledged": what a network printer's TCP
// acknowledged, null for other ports; "size": of the input, null when not
// known.
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
          {"bytesAcknowledged", result.bytesAcknowledged
                                    ? nlohmann::ordered_json(*result.bytesAcknowledged)
                                    : nlohmann::ordered_json()},
          {"size", result.size ? nlohmann::ordered_json(*result.size) : nlohmann::ordered_json()}};
}

}  // namespace langmon::cli

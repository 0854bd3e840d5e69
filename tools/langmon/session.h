// One run of the langmon command: the port monitor chosen by the device URI,
// wrapped so that the run can watch the port, the driver's stored settings
// in the host registry, and the spooler stand-in with the port open.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "config_report.h"
#include "observed_port.h"
#include "options.h"
#include "port_monitors.h"
#include "reg_file.h"
#include "spooler.h"
#include "trace.h"

namespace langmon::cli {

class Session {
 public:
  explicit Session(const Options& options) : options_(options) {}
  // Notes whether the time limit cut the run short (time_limit.h).
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Returns kSuccess, or the exit status of the failure it reported. The
  // port monitors and the spooler stand-in are held to the deadline of the
  // options.
  int Open(bool showProgress);

  host::Spooler& spooler() { return *spooler_; }
  ports::ObservedPortMonitor& observed() { return *observed_; }
  host::RequestRecorder& recorder() { return recorder_; }
  const host::PortMonitor& portMonitor() const { return *portMonitor_; }
  void FinishProgress();
  // Whether a progress line is wanted: stderr is a terminal, and neither
  // --quiet nor --trace was given.
  bool ProgressWanted() const;
  // Adds an observer of the port for the rest of the run (after Open).
  void Watch(std::unique_ptr<ports::PortObserver> observer);

  // Confirms that the printer took the request just made (PortMonitor::
  // ConfirmRequest): kSuccess, or kFailed with "REQUEST failed" reported and
  // `written` named as what went to the port unconfirmed. A failure after
  // the deadline counts as the time limit's.
  int ConfirmRequest(const std::string& request, const std::string& written);

  // Whether the time limit (--timeout) has run out.
  bool PastDeadline() const;

  // Whether the monitor serves the configuration requests on this port.
  bool PortIsParallel() const;
  // Why a request came back FALSE, as far as the host can tell.
  std::string RefusalCause(const std::string& fallback) const;

 private:
  int StoreSettings(const std::u16string& printer);
  int LoadSettings(const host::RegFile& file, const std::u16string& printer);
  void WatchThePort(bool showProgress);
  int StartSpoolerAndOpenPort(const std::u16string& printer);

  const Options& options_;
  std::unique_ptr<host::PortMonitor> portMonitor_;
  std::unique_ptr<ports::ObservedPortMonitor> observed_;
  host::RequestRecorder recorder_;
  std::unique_ptr<host::TraceWriter> trace_;
  std::unique_ptr<host::ConfigProgress> progress_;
  std::vector<std::unique_ptr<ports::PortObserver>> watchers_;
  std::unique_ptr<host::Spooler> spooler_;
};

// A port failure during a request that the monitor still answered: the
// result is shown, but the run does not count as a success.
int ReportLateFailure(Session& session, const std::string& request);

// "GetConfigObjects" on the session's port, and where the record came from.
// kSuccess, or the status of the refusal it reported (a port failure during
// the read is left for ReportLateFailure).
int ReadConfiguration(Session& session, const Options& options, ConfigRecord& record,
                      host::ConfigSource& source);

}  // namespace langmon::cli

#include "session.h"

#include <fmt/format.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "config/config.h"
#include "config_report.h"
#include "device_uri.h"
#include "monitor/monitor_api.h"
#include "plumbing.h"
#include "reg_file_input.h"
#include "report.h"
#include "text_encoding.h"
#include "time_limit.h"

namespace langmon::cli {

using namespace langmon::host;

namespace {

// The spooler calls the monitor makes, on the trace.
void TraceClientCall(TraceWriter& trace, const ClientCall& call) {
  std::string text = "spooler: " + call.op;
  if (call.op == "OpenPrinter") text += " \"" + call.printer + "\"";
  if (call.op == "SetJob")
    text += fmt::format(" job {}, command {}{}", call.jobId, call.command,
                        call.command == JOB_CONTROL_CANCEL ? " (JOB_CONTROL_CANCEL)" : "");
  trace.Note(text + (call.ok ? ": ok" : ": failed"));
}

// What the .reg file held that is no setting of this printer: one summary
// line, and with --verbose each line before it. Where other printers' keys
// were left out, the command says which printer the run uses and which
// option chooses another.
void ReportLeftOut(const Options& options, const std::vector<LeftOut>& leftOut,
                   const std::u16string& printer) {
  const std::string wanted =
      options.settingsFrom.empty() ? Utf16ToUtf8(printer) : options.settingsFrom;
  if (options.verbose)
    for (const LeftOut& item : leftOut)
      Warning(fmt::format("{}:{}: {}{}", options.settings, item.line, item.message,
                          item.kind != LeftOutKind::OtherPrinter
                              ? ""
                              : fmt::format(" (this run uses printer \"{}\"; choose it with "
                                            "--printer-name)",
                                            wanted)));
  const std::string summary = LeftOutSummary(
      leftOut, fmt::format(" (this run uses printer \"{}\"; choose another with --printer-name)",
                           Utf16ToUtf8(printer)));
  if (!summary.empty())
    Warning(fmt::format("{}: {}{}", options.settings, summary,
                        options.verbose ? "" : "; --verbose lists each line"));
}

// Acts on failures of the port: a read that failed means no reply can come
// (the connection is gone, or the time is up), so the monitor stops waiting
// for one in this request; a call that failed once the deadline had passed
// means the time limit cut the run short.
class FailureWatch : public ports::PortObserver {
 public:
  FailureWatch(Spooler& spooler, std::optional<Clock::time_point> deadline)
      : spooler_(spooler), deadline_(deadline) {}
  void OnFailure(std::string_view operation, DWORD, const std::string&) override {
    if (operation == "ReadPort") spooler_.StopWaiting();
    if (deadline_ && Clock::now() >= *deadline_) NoteTimeRanOut();
  }

 private:
  Spooler& spooler_;
  std::optional<Clock::time_point> deadline_;
};

PortLimits LimitsOf(const Options& options) {
  PortLimits limits;
  limits.connectTimeoutMs = static_cast<DWORD>(std::max(1.0, options.connectTimeout * 1000));
  if (options.deadline) limits.deadline = *options.deadline;
  return limits;
}

}  // namespace

Session::~Session() {
  if (spooler_ && spooler_->RanOutOfTime()) NoteTimeRanOut();
}

int Session::Open(bool showProgress) {
  std::string error;
  DeviceUri uri;
  if (!ParseDeviceUri(options_.device, uri, error))
    return FailWith(kUsage, "bad device URI", error);
  const std::u16string printer = Utf8ToUtf16(options_.printerName);
  if (int rc = StoreSettings(printer)) return rc;
  portMonitor_ = MakePortMonitor(uri, LimitsOf(options_), error);
  if (!portMonitor_) return FailWith(kUsage, "cannot use " + options_.device, error);
  WatchThePort(showProgress);
  return StartSpoolerAndOpenPort(printer);
}

void Session::FinishProgress() {
  if (progress_) progress_->Finish();
}

bool Session::ProgressWanted() const {
  return !options_.trace && !options_.quiet && isatty(STDERR_FILENO);
}

void Session::Watch(std::unique_ptr<ports::PortObserver> observer) {
  observed_->AddObserver(observer.get());
  watchers_.push_back(std::move(observer));
}

int Session::ConfirmRequest(const std::string& request, const std::string& written) {
  std::string error;
  if (portMonitor_->ConfirmRequest(error)) return kSuccess;
  if (PastDeadline()) NoteTimeRanOut();
  return Fail(
      kFailed, request + " failed",
      fmt::format("{} ({} went to the port; the printer did not confirm it)", error, written));
}

bool Session::PastDeadline() const {
  return options_.deadline && Clock::now() >= *options_.deadline;
}

bool Session::PortIsParallel() const {
  return ServesConfigurationRequests(Utf8ToUtf16(options_.port).c_str()) != FALSE;
}

std::string Session::RefusalCause(const std::string& fallback) const {
  if (observed_->HasFailure()) return DescribeFailure(observed_->FirstFailure());
  if (!PortIsParallel())
    return fmt::format(
        "the monitor serves this request on parallel ports (LPT1: to LPT9:) only, and {} is "
        "not one",
        options_.port);
  return fallback;
}

// The stored settings of --settings and --page, in the host registry.
int Session::StoreSettings(const std::u16string& printer) {
  std::string error;
  if (!options_.settings.empty()) {
    RegFile read;
    const RegFile* file = options_.settingsFile.get();
    if (file == nullptr) {
      const sim::InputResult result =
          ReadRegFile(options_.settings, read, error, options_.deadline);
      if (result != sim::InputResult::Read)
        return FailInput(result, "cannot read the stored settings", options_.settings, error,
                         options_.timeout);
      file = &read;
    }
    if (int rc = LoadSettings(*file, printer)) return rc;
  }
  if (!options_.page) return kSuccess;
  HKEY key = nullptr;
  const DWORD page = *options_.page;
  if (!CreateDriverDataKey(printer, key, error))
    return Fail(kFailed, "cannot store \"dwTestPage\"", error);
  RegSetValueExW(key, kTestPageValueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&page),
                 sizeof page);
  RegCloseKey(key);
  return kSuccess;
}

int Session::LoadSettings(const RegFile& file, const std::u16string& printer) {
  std::string error;
  std::vector<LeftOut> leftOut;
  if (LoadPrinterSettings(file, printer, leftOut, error, options_.settingsFrom) < 0)
    return Fail(kFailed, "cannot store the settings of " + options_.settings, error);
  if (options_.settingsPerPrinter)
    std::erase_if(leftOut, [](const LeftOut& l) { return l.kind == LeftOutKind::OtherPrinter; });
  ReportLeftOut(options_, leftOut, printer);
  return kSuccess;
}

// Wraps the port monitor so that the run sees what goes over the port:
// always the recorder, and the trace or the progress line when asked.
void Session::WatchThePort(bool showProgress) {
  PortMonitor* pm = portMonitor_.get();
  observed_ =
      std::make_unique<ports::ObservedPortMonitor>(pm->Table(), [pm] { return pm->LastMessage(); });
  observed_->AddObserver(&recorder_);
  if (options_.trace) {
    trace_ = std::make_unique<TraceWriter>(stderr);
    observed_->AddObserver(trace_.get());
  } else if (showProgress && ProgressWanted()) {
    progress_ = std::make_unique<ConfigProgress>(stderr);
    observed_->AddObserver(progress_.get());
  }
}

int Session::StartSpoolerAndOpenPort(const std::u16string& printer) {
  spooler_ = std::make_unique<Spooler>(printer);
  if (options_.deadline) spooler_->SetDeadline(*options_.deadline);
  Watch(std::make_unique<FailureWatch>(*spooler_, options_.deadline));
  if (trace_) {
    TraceWriter* trace = trace_.get();
    spooler_->SetClientCallSink([trace](const ClientCall& call) { TraceClientCall(*trace, call); });
  }
  std::string error;
  if (!spooler_->Initialize(error)) return FailWith(kFailed, "cannot start the monitor", error);
  DWORD openError = 0;
  if (!spooler_->OpenPort(Utf8ToUtf16(options_.port), observed_->Table(), openError)) {
    const std::string cause = observed_->HasFailure() ? DescribeFailure(observed_->FirstFailure())
                                                      : ports::Win32ErrorText(openError);
    return Fail(kFailed, fmt::format("cannot open port {} on {}", options_.port, options_.device),
                cause);
  }
  return kSuccess;
}

int ReportLateFailure(Session& session, const std::string& request) {
  if (!session.observed().HasFailure()) return kSuccess;
  const ports::PortFailure failure = session.observed().FirstFailure();
  // A call the time limit refused is no fault of the port.
  if (failure.error == ERROR_TIMEOUT && session.PastDeadline())
    return Fail(kFailed, request + " was cut short", DescribeFailure(failure));
  return Fail(kFailed, "the port failed during " + request, DescribeFailure(failure));
}

int ReadConfiguration(Session& session, const Options& options, ConfigRecord& record,
                      ConfigSource& source) {
  session.observed().ResetFailure();
  record = ConfigRecord{};
  const BOOL ok = session.spooler().GetConfigObjects(record);
  session.FinishProgress();
  if (!ok)
    return Fail(kFailed, "GetConfigObjects failed",
                session.RefusalCause("the monitor refused the request"));
  source = ClassifyRecord(record, HasStoredSettings(Utf8ToUtf16(options.printerName)));
  return kSuccess;
}

}  // namespace langmon::cli

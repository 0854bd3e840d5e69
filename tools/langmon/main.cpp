// langmon: drives the printer language monitor from the command line, the
// way the print spooler and the printer driver would, against a simulated
// printer, a printer on the network, a local printer device or a file.
#include <fmt/format.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "config/config.h"
#include "config_report.h"
#include "device_uri.h"
#include "langmon_version.h"
#include "observed_port.h"
#include "pjl/pjl.h"
#include "port_monitors.h"
#include "reg_file.h"
#include "requests/requests.h"
#include "spooler.h"
#include "text_encoding.h"
#include "trace.h"

namespace {

using namespace langmon;
using namespace langmon::host;

enum ExitStatus { kSuccess = 0, kFailed = 1, kUsage = 2 };

struct Options {
  std::string device = "sim:";
  std::string port = "LPT1:";
  std::string printerName = "langmon";
  std::string settings;
  bool trace = false;
  bool quiet = false;
  bool json = false;
  std::optional<DWORD> page;
  std::string file;
  DWORD jobId = 1;
  std::string document;
};

void Error(const std::string& text) { fmt::print(stderr, "langmon: error: {}\n", text); }
void Warning(const std::string& text) { fmt::print(stderr, "langmon: warning: {}\n", text); }

std::string Win32ErrorText(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
      return "file not found";
    case ERROR_ACCESS_DENIED:
      return "access denied";
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return "out of memory";
    case ERROR_GEN_FAILURE:
      return "the device does not work";
    case ERROR_NOT_SUPPORTED:
      return "not supported";
    case ERROR_INVALID_PARAMETER:
      return "invalid parameter";
    case ERROR_BUSY:
      return "the port is in use";
    case ERROR_TIMEOUT:
      return "timed out";
    case ERROR_INVALID_PRINT_MONITOR:
      return "the port monitor lacks a required operation";
    default:
      return fmt::format("error {}", error);
  }
}

std::string DescribeFailure(const PortFailure& f) {
  if (!f.message.empty()) return f.message;
  return fmt::format("{} failed: {}", f.operation, Win32ErrorText(f.error));
}

// Everything one run needs: the port monitor chosen by the device URI,
// wrapped so that the run can watch the port, and the spooler stand-in with
// the port open.
class Session {
 public:
  explicit Session(const Options& options) : options_(options) {}

  // Returns kSuccess, or the exit status of the failure it reported.
  int Open(bool showProgress) {
    std::string error;
    DeviceUri uri;
    if (!ParseDeviceUri(options_.device, uri, error)) {
      Error(error);
      return kUsage;
    }
    const std::u16string printer = Utf8ToUtf16(options_.printerName);
    if (int rc = StoreSettings(printer)) return rc;
    portMonitor_ = MakePortMonitor(uri, error);
    if (!portMonitor_) {
      Error(error);
      return kUsage;
    }
    WatchThePort(showProgress);
    return StartSpoolerAndOpenPort(printer);
  }

  Spooler& spooler() { return *spooler_; }
  ObservedPortMonitor& observed() { return *observed_; }
  RequestRecorder& recorder() { return recorder_; }
  void FinishProgress() {
    if (progress_) progress_->Finish();
  }

  bool PortIsParallel() const {
    return ServesConfigurationRequests(Utf8ToUtf16(options_.port).c_str()) != FALSE;
  }

  // Why a request came back FALSE, as far as the host can tell.
  std::string RefusalCause(const std::string& fallback) const {
    if (observed_->HasFailure()) return DescribeFailure(observed_->FirstFailure());
    if (!PortIsParallel())
      return fmt::format(
          "the monitor serves this request on parallel ports (LPT1: to LPT9:) only, and {} is "
          "not one",
          options_.port);
    return fallback;
  }

 private:
  // The stored settings of --settings and --page, in the host registry.
  int StoreSettings(const std::u16string& printer) {
    std::string error;
    if (!options_.settings.empty()) {
      RegFile file;
      if (!ReadRegFile(options_.settings, file, error)) {
        Error(error);
        return kUsage;
      }
      std::vector<std::string> warnings = file.warnings;
      if (LoadPrinterSettings(file, printer, warnings, error) < 0) {
        Error(options_.settings + ": " + error);
        return kFailed;
      }
      for (const std::string& w : warnings) Warning(options_.settings + ": " + w);
    }
    if (!options_.page) return kSuccess;
    HKEY key = nullptr;
    const DWORD page = *options_.page;
    if (!CreateDriverDataKey(printer, key, error)) {
      Error("cannot store \"dwTestPage\": " + error);
      return kFailed;
    }
    RegSetValueExW(key, kTestPageValueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&page),
                   sizeof page);
    RegCloseKey(key);
    return kSuccess;
  }

  // Wraps the port monitor so that the run sees what goes over the port:
  // always the recorder, and the trace or the progress line when asked.
  void WatchThePort(bool showProgress) {
    PortMonitor* pm = portMonitor_.get();
    observed_ =
        std::make_unique<ObservedPortMonitor>(pm->Table(), [pm] { return pm->LastMessage(); });
    observed_->AddObserver(&recorder_);
    if (options_.trace) {
      trace_ = std::make_unique<TraceWriter>(stderr);
      observed_->AddObserver(trace_.get());
    } else if (showProgress && !options_.quiet && isatty(STDERR_FILENO)) {
      progress_ = std::make_unique<ConfigProgress>(stderr);
      observed_->AddObserver(progress_.get());
    }
  }

  // The spooler calls the monitor makes, on the trace.
  static void TraceClientCall(TraceWriter& trace, const ClientCall& call) {
    std::string text = "spooler: " + call.op;
    if (call.op == "OpenPrinter") text += " \"" + call.printer + "\"";
    if (call.op == "SetJob")
      text += fmt::format(" job {}, command {}{}", call.jobId, call.command,
                          call.command == JOB_CONTROL_CANCEL ? " (JOB_CONTROL_CANCEL)" : "");
    trace.Note(text + (call.ok ? ": ok" : ": failed"));
  }

  int StartSpoolerAndOpenPort(const std::u16string& printer) {
    spooler_ = std::make_unique<Spooler>(printer);
    if (trace_) {
      TraceWriter* trace = trace_.get();
      spooler_->SetClientCallSink(
          [trace](const ClientCall& call) { TraceClientCall(*trace, call); });
    }
    std::string error;
    if (!spooler_->Initialize(error)) {
      Error(error);
      return kFailed;
    }
    DWORD openError = 0;
    if (!spooler_->OpenPort(Utf8ToUtf16(options_.port), observed_->Table(), openError)) {
      const std::string cause = observed_->HasFailure() ? DescribeFailure(observed_->FirstFailure())
                                                        : Win32ErrorText(openError);
      Error(fmt::format("cannot open port {} on {}: {}", options_.port, options_.device, cause));
      return kFailed;
    }
    return kSuccess;
  }

  const Options& options_;
  std::unique_ptr<PortMonitor> portMonitor_;
  std::unique_ptr<ObservedPortMonitor> observed_;
  RequestRecorder recorder_;
  std::unique_ptr<TraceWriter> trace_;
  std::unique_ptr<ConfigProgress> progress_;
  std::unique_ptr<Spooler> spooler_;
};

// A port failure during a request that the monitor still answered: the
// result is shown, but the run does not count as a success.
int ReportLateFailure(Session& session, const std::string& request) {
  if (!session.observed().HasFailure()) return kSuccess;
  Error(fmt::format("the port failed during {}: {}", request,
                    DescribeFailure(session.observed().FirstFailure())));
  return kFailed;
}

int RunConfig(const Options& options) {
  Session session(options);
  if (int rc = session.Open(true)) return rc;
  session.observed().ResetFailure();
  ConfigRecord record{};
  const BOOL ok = session.spooler().GetConfigObjects(record);
  session.FinishProgress();
  if (!ok) {
    Error("GetConfigObjects failed: " + session.RefusalCause("the monitor refused the request"));
    return kFailed;
  }
  const ConfigSource source =
      ClassifyRecord(record, HasStoredSettings(Utf8ToUtf16(options.printerName)));
  const ConfigContext context{options.printerName, options.port, options.device};
  if (options.json) {
    auto json = ConfigJson(record, source, context);
    if (session.observed().HasFailure())
      json["portFailure"] = DescribeFailure(session.observed().FirstFailure());
    fmt::print("{}\n", json.dump(2));
  } else {
    fmt::print("{}", FormatConfigTable(record, source, context));
  }
  return ReportLateFailure(session, "GetConfigObjects");
}

// Names of the settings whose set lines are in the written text.
std::vector<std::string> SentSettings(const std::string& written) {
  constexpr std::string_view kSet = kSetPrefix;
  std::vector<std::string> names;
  for (std::size_t pos = written.find(kSet); pos != std::string::npos;
       pos = written.find(kSet, pos + 1)) {
    const std::string_view payload = std::string_view(written).substr(pos + kSet.size());
    for (const Setting& s : kSettings) {
      if (s.PresenceBit != kNoPresenceBit && s.ObjectId && payload.starts_with(s.ObjectId)) {
        names.emplace_back(s.FieldName);
        break;
      }
    }
  }
  return names;
}

int RunApply(const Options& options) {
  if (options.settings.empty()) {
    Error("apply needs the stored settings to send: --settings FILE.reg");
    return kUsage;
  }
  Session session(options);
  if (int rc = session.Open(false)) return rc;
  session.observed().ResetFailure();
  session.recorder().Clear();
  DWORD returned = 0;
  const BOOL ok = session.spooler().GetPrinterData(u"SetConfigObjects", 0, nullptr, 0, &returned);
  const std::vector<std::string> sent = SentSettings(session.recorder().Written());
  if (!ok) {
    std::string cause = "nothing was sent";
    if (!HasStoredSettings(Utf8ToUtf16(options.printerName)))
      cause = fmt::format(
          "no stored settings are selected: \"dwCfgFlags\" is missing or 0 for printer \"{}\" in "
          "{}",
          options.printerName, options.settings);
    else if (sent.empty())
      cause = "none of the settings that \"dwCfgFlags\" selects is stored as a dword";
    else
      cause = "the port did not take the whole block of settings";
    Error("SetConfigObjects failed: " + session.RefusalCause(cause));
    return kFailed;
  }
  std::string list;
  for (const std::string& name : sent) list += (list.empty() ? "" : ", ") + name;
  fmt::print("SetConfigObjects: sent {} setting{} to the printer: {}\n", sent.size(),
             sent.size() == 1 ? "" : "s", list);
  return ReportLateFailure(session, "SetConfigObjects");
}

int RunTestPage(const Options& options) {
  Session session(options);
  if (int rc = session.Open(false)) return rc;
  session.observed().ResetFailure();
  session.recorder().Clear();
  const BOOL ok = session.spooler().GetPrinterData(u"PrintTestPage", 0, nullptr, 0, nullptr);
  if (!ok) {
    const std::string cause = fmt::format(
        "printer \"{}\" has no stored \"dwTestPage\" (give it with --page N or in --settings "
        "FILE.reg)",
        options.printerName);
    Error("PrintTestPage failed: " + session.RefusalCause(cause));
    return kFailed;
  }
  constexpr std::string_view kLine = kTestPagePrefix;
  const std::string written = session.recorder().Written();
  const std::size_t pos = written.find(kLine);
  std::string page = pos == std::string::npos ? "" : written.substr(pos + kLine.size());
  page = page.substr(0, page.find('\r'));
  fmt::print("PrintTestPage: the printer was asked for test page {}\n", page);
  return ReportLateFailure(session, "PrintTestPage");
}

int RunDeviceId(const Options& options) {
  Session session(options);
  if (int rc = session.Open(false)) return rc;
  session.observed().ResetFailure();
  unsigned char buffer[1024] = {};
  DWORD returned = 0;
  const BOOL ok =
      session.spooler().GetPrinterData(u"GetDeviceID", 0, buffer, sizeof buffer, &returned);
  if (!ok) {
    Error("GetDeviceID failed: " + (session.observed().HasFailure()
                                        ? DescribeFailure(session.observed().FirstFailure())
                                        : std::string("the port monitor behind ") + options.device +
                                              " offers no device ID request"));
    return kFailed;
  }
  returned = std::min<DWORD>(returned, sizeof buffer);
  // IEEE 1284: the ID follows a 2-byte big-endian length that counts itself.
  std::size_t length = returned >= 2 ? (buffer[0] << 8) | buffer[1] : 0;
  std::string id;
  if (length >= 2 && length <= returned)
    id.assign(reinterpret_cast<const char*>(buffer) + 2, length - 2);
  else
    id.assign(reinterpret_cast<const char*>(buffer), returned);
  fmt::print("{}\n", id);
  return ReportLateFailure(session, "GetDeviceID");
}

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
  fmt::print("job {}: sent {} bytes to {} ({})\n", options.jobId, result.bytesSent, options.port,
             options.device);
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
    fmt::print("job {} released\n", options.jobId);
  } else {
    Error(fmt::format("job {} was not released by the monitor", options.jobId));
    status = kFailed;
  }
  return status;
}

// The subcommands, each with what runs it.
struct Command {
  CLI::App* app;
  int (*run)(const Options& options);
};

void AddGlobalOptions(CLI::App& app, Options& options) {
  app.require_subcommand(1);
  app.set_version_flag("--version", "langmon " LANGMON_VERSION);
  app.option_defaults()->always_capture_default();
  app.add_option("--printer", options.device, "device URI of the printer")->capture_default_str();
  app.add_option("--port", options.port, "spooler port name");
  app.add_option("--printer-name", options.printerName, "spooler printer name");
  app.add_option("--settings", options.settings, "stored driver settings to load from a .reg file");
  app.add_flag("--trace", options.trace, "show the conversation on the port on stderr");
  app.add_flag("-q,--quiet", options.quiet, "no progress line");
}

std::vector<Command> AddCommands(CLI::App& app, Options& options) {
  CLI::App* config =
      app.add_subcommand("config", "read the printer's configuration (GetConfigObjects)");
  config->add_flag("--json", options.json, "print one JSON object");
  CLI::App* apply =
      app.add_subcommand("apply", "send the stored settings to the printer (SetConfigObjects)");
  CLI::App* testpage =
      app.add_subcommand("testpage", "have the printer print a test page (PrintTestPage)");
  testpage->add_option("--page", options.page,
                       "store this \"dwTestPage\" first (18 PCL fonts, 19 or 22 demo page, 21 "
                       "PostScript fonts, else self test)");
  CLI::App* deviceId = app.add_subcommand("device-id", "read the device ID (GetDeviceID)");
  CLI::App* print = app.add_subcommand("print", "send a file as one print job");
  print->add_option("FILE", options.file, "file to print, - for standard input")->required();
  print->add_option("--job-id", options.jobId, "spooler job id");
  print->add_option("--document", options.document, "document name");
  const std::vector<Command> commands = {{config, &RunConfig},
                                         {apply, &RunApply},
                                         {testpage, &RunTestPage},
                                         {deviceId, &RunDeviceId},
                                         {print, &RunPrint}};
  // The global options may stand after the command too.
  for (const Command& command : commands) command.app->fallthrough();
  return commands;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  CLI::App app{
      "Drive the printer language monitor as the print spooler and printer driver would.\n"
      "Device URIs: sim:, sim:FILE.json, socket://HOST[:PORT], parallel:/dev/lpN,\n"
      "usb:/dev/usb/lpN, file:PATH.",
      "langmon"};
  AddGlobalOptions(app, options);
  const std::vector<Command> commands = AddCommands(app, options);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return kUsage;
  }
  try {
    for (const Command& command : commands)
      if (command.app->parsed()) return command.run(options);
  } catch (const std::exception& e) {
    Error(e.what());
    return kFailed;
  }
  return kUsage;
}

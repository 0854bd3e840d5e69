// langmon-printer: a simulated PJL laser printer on a TCP port.
//
//   langmon-printer [--listen ADDRESS] [--port N] [--objects FILE.json]
//                   [--transcript FILE] [fault knobs...]
//   langmon-printer --fleet N [--port N] [--latency MS] [--silent-share F]
//                   [--reset-share F] [--seed S] [--list FILE] [...]
//
// Prints "listening on ADDRESS:PORT" (one line per printer of a fleet, in
// the order of the printers) once it accepts connections and runs until
// SIGINT or SIGTERM, then exits 0. Usage errors exit 2; a server that
// cannot listen, or a transcript or printers file that cannot be written, 1.
#include <signal.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "command_line.h"
#include "langmon_version.h"
#include "printer_server.h"
#include "simulated_fleet.h"
#include "transcript.h"

namespace {

using namespace langmon::printer;
using langmon::sim::PrinterConfig;

constexpr int kFailed = 1;
constexpr int kUsage = 2;

constexpr const char* kFooter =
    "The objects file is the format `langmon --printer sim:FILE.json` reads too.\n"
    "Only that in-process printer answers the device ID (--device-id, \"deviceId\"):\n"
    "a raw TCP port has no device-ID request. --listen, --port, --split-pause-ms,\n"
    "--reset-after and --transcript concern the TCP server only. With --fleet, every\n"
    "printer gets its own copy of the objects and the knobs; --list FILE writes the\n"
    "printers file that `langmon --printers FILE` reads.";

void Error(const std::string& text) {
  std::fprintf(stderr, "langmon-printer: error: %s\n", text.c_str());
}

void Warning(const std::string& text) {
  std::fprintf(stderr, "langmon-printer: warning: %s\n", text.c_str());
}

// The text a number option was given as ("0.6", not "0.600000").
std::string Given(const CLI::App& app, const std::string& option) {
  const CLI::Option* o = app.get_option(option);
  return o->results().empty() ? std::string() : o->results().front();
}

// Usage errors in combinations of options, which each option's own range
// check cannot see.
bool CheckCombinations(const CLI::App& app, const ServerOptions& options, const Knobs& knobs,
                       std::string& error) {
  if (knobs.fleet > 0 && !knobs.transcript.empty())
    error =
        "--transcript records one printer and cannot be used with --fleet (serve the "
        "printer to record on its own with --transcript)";
  else if (knobs.silentShare + knobs.resetShare > 1)
    error = "--silent-share " + Given(app, "--silent-share") + " and --reset-share " +
            Given(app, "--reset-share") +
            " together exceed 1: a printer is either silent or resets";
  else if (knobs.fleet > 0 && options.port != 0 && options.port + knobs.fleet - 1 > 65535)
    error = "--fleet " + std::to_string(knobs.fleet) + " from --port " +
            std::to_string(options.port) + " needs ports up to " +
            std::to_string(options.port + knobs.fleet - 1) +
            ", beyond 65535 (--port 0 takes a free port for each printer)";
  return error.empty();
}

// The printers file, created (or emptied) before anything listens so that a
// path that cannot be written is a usage error, and written once the ports
// are known.
class ListFile {
 public:
  ~ListFile() {
    if (file_ != nullptr) std::fclose(file_);
  }
  bool Open(const std::string& path, std::string& error) {
    path_ = path;
    file_ = std::fopen(path.c_str(), "w");
    if (file_ == nullptr)
      error = "cannot write the printers file " + path + ": " + std::strerror(errno);
    return file_ != nullptr;
  }
  bool Write(const std::string& text, std::string& error) {
    if (file_ == nullptr) return true;
    int why = 0;
    if (std::fputs(text.c_str(), file_) < 0 || std::fflush(file_) != 0) why = errno;
    if (std::fclose(file_) != 0 && why == 0) why = errno;
    file_ = nullptr;
    if (why == 0) return true;
    error = "cannot write the printers file " + path_ + ": " + std::strerror(why);
    return false;
  }

 private:
  std::string path_;
  std::FILE* file_ = nullptr;
};

// Serves until SIGINT or SIGTERM, or until the transcript fails. The
// listening lines come once every printer is served and the printers file
// is complete. False with a message when the fleet cannot be served.
//
// The two signals are blocked in every thread (the loops' threads inherit
// the mask) and taken here, synchronously: a handler runs on whichever
// thread the kernel picks, and a runtime that defers handlers to a safe
// point (ThreadSanitizer's) lost one now and then that came just as that
// thread began to wait, and the server never stopped. The wait is sliced so
// that a fleet that stops by itself (a failed transcript) is noticed too.
bool ServeUntilSignalled(SimulatedFleet& fleet, ListFile& list, std::string& error) {
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGINT);
  sigaddset(&stops, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stops, nullptr);
  signal(SIGPIPE, SIG_IGN);

  bool served = fleet.Start(error);
  if (served && !list.Write(fleet.PrintersFile(), error)) {
    fleet.Stop();
    served = false;
  }
  if (served) {
    for (std::size_t i = 0; i < fleet.Size(); ++i)
      std::printf("%s\n", fleet.ListeningLine(i).c_str());
    std::fflush(stdout);
  }
  while (!fleet.Finished()) {
    const timespec slice{0, 100'000'000};
    if (sigtimedwait(&stops, nullptr, &slice) > 0) fleet.Stop();
  }
  fleet.Wait();
  return served;
}

// Warnings about what the server will do that a user may not expect.
void WarnAboutReach(const CLI::App& app, const ServerOptions& options) {
  const AddressScope scope = ScopeOfAddress(options.address);
  if (scope != AddressScope::Loopback)
    Warning("listening on " + options.address +
            (scope == AddressScope::Any ? " (every address of this machine)" : "") +
            ": other machines can reach the simulated printer, which has no access control");
  if (app.count("--device-id"))
    Warning("--device-id has no effect over TCP: a raw TCP port has no device-ID request");
}

// Hands every byte the (one) printer receives to the transcript; a write
// that fails stops the server.
void RecordTranscript(SimulatedFleet& fleet, TranscriptFile& transcript) {
  transcript.OnFailure([&fleet](const std::string& message) {
    Error(message + "; the server stops");
    fleet.Stop();
  });
  fleet.Printer(0).SetTranscriptSink(
      [&transcript](const char* data, std::size_t size) { transcript.Write(data, size); });
}

// What the command line names, checked and opened before anything listens.
struct Prepared {
  PrinterConfig config;
  TranscriptFile transcript;
  ListFile list;
};

bool Prepare(const CLI::App& app, const ServerOptions& options, const Knobs& knobs,
             Prepared& prepared, std::string& error) {
  return CheckCombinations(app, options, knobs, error) &&
         MakeConfig(app, knobs, prepared.config, error) &&
         (knobs.transcript.empty() || prepared.transcript.Open(knobs.transcript, error)) &&
         (knobs.list.empty() || prepared.list.Open(knobs.list, error));
}

int Serve(const CLI::App& app, const ServerOptions& options, const Knobs& knobs) {
  Prepared prepared;
  std::string error;
  if (!Prepare(app, options, knobs, prepared, error)) {
    Error(error);
    return kUsage;
  }
  const unsigned count = std::max(knobs.fleet, 1u);
  if (!EnsureOpenFiles(count, error)) {
    Error(error);
    return kFailed;
  }
  SimulatedFleet fleet(prepared.config, options,
                       ChooseRoles(count, knobs.silentShare, knobs.resetShare, knobs.seed));
  if (!knobs.transcript.empty()) RecordTranscript(fleet, prepared.transcript);
  if (!fleet.Listen(error)) {
    Error(error);
    return kFailed;
  }
  WarnAboutReach(app, options);
  const bool served = ServeUntilSignalled(fleet, prepared.list, error);
  if (!served) Error(error);
  fleet.Printer(0).SetTranscriptSink(nullptr);
  const bool written = prepared.transcript.Close(error);
  if (options.verbose)
    std::fprintf(stderr, "served %lu connections, %llu replies\n", fleet.Accepted(),
                 static_cast<unsigned long long>(fleet.Replies()));
  return served && written ? 0 : kFailed;
}

int Run(int argc, char** argv) {
  CLI::App app{"Simulated PJL printer on a TCP port (raw AppSocket), on loopback by default."};
  app.footer(kFooter);
  ServerOptions options;
  Knobs knobs;
  langmon::printer::AddOptions(app, options, knobs);
  app.set_version_flag("--version", "langmon-printer " LANGMON_VERSION);
  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {  // --help, --version
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    Error(std::string(e.what()) + " (--help lists the options)");
    return kUsage;
  }
  return Serve(app, options, knobs);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    Error(e.what());
    return kFailed;
  }
}

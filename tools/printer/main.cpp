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

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "command_line.h"
#include "printer_server.h"
#include "simulated_fleet.h"
#include "transcript.h"

namespace {

using namespace langmon::printer;

constexpr int kFailed = 1;

void Error(const std::string& text) {
  std::fprintf(stderr, "langmon-printer: error: %s\n", text.c_str());
}

void Warning(const std::string& text) {
  std::fprintf(stderr, "langmon-printer: warning: %s\n", text.c_str());
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
void WarnAboutReach(const CommandLine& line) {
  const ServerOptions& options = line.options;
  const AddressScope scope = ScopeOfAddress(options.address);
  if (scope != AddressScope::Loopback)
    Warning("listening on " + options.address +
            (scope == AddressScope::Any ? " (every address of this machine)" : "") +
            ": other machines can reach the simulated printer, which has no access control");
  if (line.deviceIdGiven)
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

// The files the command line names, opened before anything listens.
struct Prepared {
  TranscriptFile transcript;
  ListFile list;
};

bool Prepare(const Knobs& knobs, Prepared& prepared, std::string& error) {
  return (knobs.transcript.empty() || prepared.transcript.Open(knobs.transcript, error)) &&
         (knobs.list.empty() || prepared.list.Open(knobs.list, error));
}

int Serve(const CommandLine& line) {
  const ServerOptions& options = line.options;
  const Knobs& knobs = line.knobs;
  Prepared prepared;
  std::string error;
  if (!Prepare(knobs, prepared, error)) {
    Error(error);
    return kUsageStatus;
  }
  const unsigned count = std::max(knobs.fleet, 1u);
  if (!EnsureOpenFiles(count, error)) {
    Error(error);
    return kFailed;
  }
  SimulatedFleet fleet(line.config, options,
                       ChooseRoles(count, knobs.silentShare, knobs.resetShare, knobs.seed));
  if (!knobs.transcript.empty()) RecordTranscript(fleet, prepared.transcript);
  if (!fleet.Listen(error)) {
    Error(error);
    return kFailed;
  }
  WarnAboutReach(line);
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
  CommandLine line;
  std::string error;
  const int status = ParseCommandLine(argc, argv, line, error);
  if (!error.empty()) Error(error);
  return status == kServe ? Serve(line) : status;
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

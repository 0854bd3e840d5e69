// langmon-printer: a simulated PJL laser printer on a TCP port.
//
//   langmon-printer [--listen ADDRESS] [--port N] [--objects FILE.json]
//                   [--transcript FILE] [fault knobs...]
//
// Prints "listening on ADDRESS:PORT" once it accepts connections and runs
// until SIGINT or SIGTERM, then exits 0. Usage errors exit 2, a server that
// cannot listen or a transcript that cannot be written 1.
#include <signal.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <exception>
#include <string>

#include "command_line.h"
#include "printer_server.h"
#include "transcript.h"

namespace {

using namespace langmon::sim;
using langmon::printer::Knobs;
using langmon::printer::TranscriptFile;

constexpr int kFailed = 1;
constexpr int kUsage = 2;

PrinterServer* g_server = nullptr;

extern "C" void OnSignal(int) {
  if (g_server != nullptr) g_server->Stop();
}

constexpr const char* kFooter =
    "The objects file is the format `langmon --printer sim:FILE.json` reads too.\n"
    "Only that in-process printer answers the device ID (--device-id, \"deviceId\"):\n"
    "a raw TCP port has no device-ID request. --listen, --port, --split-pause-ms,\n"
    "--reset-after and --transcript concern the TCP server only.";

void Error(const std::string& text) {
  std::fprintf(stderr, "langmon-printer: error: %s\n", text.c_str());
}

void Warning(const std::string& text) {
  std::fprintf(stderr, "langmon-printer: warning: %s\n", text.c_str());
}

// Serves until SIGINT or SIGTERM, or until the transcript fails.
void ServeUntilSignalled(PrinterServer& server) {
  g_server = &server;
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);

  std::printf("listening on %s\n", server.Endpoint().c_str());
  std::fflush(stdout);
  server.Run();
  g_server = nullptr;
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

int Serve(const CLI::App& app, const ServerOptions& options, const Knobs& knobs) {
  PrinterConfig config;
  std::string error;
  if (!MakeConfig(app, knobs, config, error)) {
    Error(error);
    return kUsage;
  }
  TranscriptFile transcript;
  if (!knobs.transcript.empty() && !transcript.Open(knobs.transcript, error)) {
    Error(error);
    return kUsage;
  }
  SimPrinter printer;
  ApplyPrinterConfig(config, printer);
  printer.SetTranscriptLimit(0);  // nothing here reads it back; the file has every byte
  PrinterServer server(printer, options);
  if (!knobs.transcript.empty()) {
    transcript.OnFailure([&server](const std::string& message) {
      Error(message + "; the server stops");
      server.Stop();
    });
    printer.SetTranscriptSink(
        [&transcript](const char* data, std::size_t size) { transcript.Write(data, size); });
  }
  if (!server.Listen(error)) {
    Error(error);
    return kFailed;
  }
  WarnAboutReach(app, options);
  ServeUntilSignalled(server);
  printer.SetTranscriptSink(nullptr);
  const bool written = transcript.Close(error);
  if (options.verbose)
    std::fprintf(stderr, "served %lu connections, %llu replies\n", server.Accepted(),
                 static_cast<unsigned long long>(printer.RepliesSent()));
  return written ? 0 : kFailed;
}

int Run(int argc, char** argv) {
  CLI::App app{"Simulated PJL printer on a TCP port (raw AppSocket), on loopback by default."};
  app.footer(kFooter);
  ServerOptions options;
  Knobs knobs;
  langmon::printer::AddOptions(app, options, knobs);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
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

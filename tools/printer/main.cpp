// langmon-printer: a PJL laser printer simulated on a loopback TCP port.
//
//   langmon-printer [--port N] [--objects FILE.json] [fault knobs...]
//
// Prints "listening on 127.0.0.1:PORT" once it accepts connections and runs
// until SIGINT or SIGTERM, then exits 0.
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "printer_config.h"
#include "printer_server.h"

namespace {

using namespace langmon::sim;

PrinterServer* g_server = nullptr;

extern "C" void OnSignal(int) {
  if (g_server != nullptr) g_server->Stop();
}

// What the command line sets besides the server's own options.
struct Knobs {
  std::string objectsFile;
  std::string deviceId;
  std::string transcript;
  unsigned delayMs = 0;
  std::vector<std::size_t> split;
  bool noise = false;
  std::string noiseText = "\x01\x02 noise ";
  bool stale = false;
  bool silent = false;
  long long silentAfter = -1;
  std::vector<std::string> silentObjects;
  std::string unknown;
};

void AddOptions(CLI::App& app, ServerOptions& options, Knobs& knobs) {
  app.add_option("--port", options.port, "TCP port (0: any free port)")
      ->default_val(9100)
      ->check(CLI::Range(0, 65535));
  app.add_option("--objects", knobs.objectsFile, "JSON file with objects, device ID and faults")
      ->check(CLI::ExistingFile);
  app.add_option("--device-id", knobs.deviceId, "IEEE 1284 device ID text");
  app.add_option("--delay-ms", knobs.delayMs, "delay before every reply becomes readable");
  app.add_option("--split", knobs.split,
                 "send every reply in pieces of N bytes (several sizes: in turn, the last "
                 "repeating)")
      ->check(CLI::PositiveNumber);
  app.add_option("--split-pause-ms", options.splitPauseMs, "pause between the pieces of a reply")
      ->capture_default_str();
  app.add_flag("--noise", knobs.noise, "put noise bytes (no '@') before every reply");
  app.add_option("--noise-text", knobs.noiseText, "the noise bytes (implies --noise)");
  app.add_flag("--stale", knobs.stale, "put a stale, non-matching reply before every reply");
  app.add_flag("--silent", knobs.silent, "answer nothing at all");
  app.add_option("--silent-after", knobs.silentAfter, "answer N replies, then nothing")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--silent-object", knobs.silentObjects,
                 "do not answer DMINFO for this object (repeatable)");
  app.add_option("--unknown", knobs.unknown,
                 "answer for an unknown object: empty (no record) or silent")
      ->check(CLI::IsMember({"empty", "silent"}));
  app.add_option("--reset-after", options.resetAfter,
                 "reset each connection (RST) after N replies sent on it");
  app.add_option("--transcript", knobs.transcript, "write every byte received to FILE at exit");
  app.add_flag("-v,--verbose", options.verbose, "log connections on stderr");
}

// The objects file, then the command-line knobs over it.
bool MakeConfig(const CLI::App& app, const Knobs& knobs, PrinterConfig& config,
                std::string& error) {
  if (!knobs.objectsFile.empty() && !LoadPrinterConfig(knobs.objectsFile, config, error))
    return false;
  SimFaults& faults = config.faults;
  if (!knobs.deviceId.empty()) config.deviceId = knobs.deviceId;
  if (app.count("--delay-ms")) faults.replyDelayMs = knobs.delayMs;
  if (!knobs.split.empty()) faults.splitSizes = knobs.split;
  if (knobs.noise || app.count("--noise-text")) faults.noise = knobs.noiseText;
  if (knobs.stale) faults.staleReply = kStaleReply;
  if (knobs.silent) faults.silent = true;
  if (knobs.silentAfter >= 0) faults.silentAfterReplies = knobs.silentAfter;
  for (const std::string& id : knobs.silentObjects) faults.silentObjects.insert(id);
  if (!knobs.unknown.empty())
    faults.unknown =
        knobs.unknown == "silent" ? UnknownObjectReply::Silent : UnknownObjectReply::Empty;
  return true;
}

// Serves until SIGINT or SIGTERM.
void ServeUntilSignalled(PrinterServer& server, const ServerOptions& options) {
  g_server = &server;
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);

  std::printf("listening on %s:%u\n", options.address.c_str(), server.Port());
  std::fflush(stdout);
  server.Run();
  g_server = nullptr;
}

bool WriteTranscript(const std::string& path, const SimPrinter& printer) {
  std::ofstream out(path, std::ios::binary);
  const std::string bytes = printer.Written();
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Simulated PJL printer on a loopback TCP port (raw AppSocket)."};
  ServerOptions options;
  Knobs knobs;
  AddOptions(app, options, knobs);
  CLI11_PARSE(app, argc, argv);

  PrinterConfig config;
  std::string error;
  if (!MakeConfig(app, knobs, config, error)) {
    std::fprintf(stderr, "langmon-printer: %s\n", error.c_str());
    return 2;
  }
  SimPrinter printer;
  ApplyPrinterConfig(config, printer);
  PrinterServer server(printer, options);
  if (!server.Listen(error)) {
    std::fprintf(stderr, "langmon-printer: %s\n", error.c_str());
    return 1;
  }
  ServeUntilSignalled(server, options);

  if (!knobs.transcript.empty() && !WriteTranscript(knobs.transcript, printer)) {
    std::fprintf(stderr, "langmon-printer: cannot write %s\n", knobs.transcript.c_str());
    return 1;
  }
  if (options.verbose) {
    std::fprintf(stderr, "served %lu connections, %llu replies\n", server.Accepted(),
                 static_cast<unsigned long long>(printer.RepliesSent()));
  }
  return 0;
}

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

langmon::sim::PrinterServer* g_server = nullptr;

extern "C" void OnSignal(int) {
  if (g_server != nullptr) g_server->Stop();
}

}  // namespace

int main(int argc, char** argv) {
  using namespace langmon::sim;
  CLI::App app{"Simulated PJL printer on a loopback TCP port (raw AppSocket)."};
  ServerOptions options;
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

  app.add_option("--port", options.port, "TCP port (0: any free port)")
      ->default_val(9100)
      ->check(CLI::Range(0, 65535));
  app.add_option("--objects", objectsFile, "JSON file with objects, device ID and faults")
      ->check(CLI::ExistingFile);
  app.add_option("--device-id", deviceId, "IEEE 1284 device ID text");
  app.add_option("--delay-ms", delayMs, "delay before every reply becomes readable");
  app.add_option("--split", split,
                 "send every reply in pieces of N bytes (several sizes: in turn, the last "
                 "repeating)")
      ->check(CLI::PositiveNumber);
  app.add_option("--split-pause-ms", options.splitPauseMs, "pause between the pieces of a reply")
      ->capture_default_str();
  app.add_flag("--noise", noise, "put noise bytes (no '@') before every reply");
  app.add_option("--noise-text", noiseText, "the noise bytes (implies --noise)");
  app.add_flag("--stale", stale, "put a stale, non-matching reply before every reply");
  app.add_flag("--silent", silent, "answer nothing at all");
  app.add_option("--silent-after", silentAfter, "answer N replies, then nothing")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--silent-object", silentObjects,
                 "do not answer DMINFO for this object (repeatable)");
  app.add_option("--unknown", unknown, "answer for an unknown object: empty (no record) or silent")
      ->check(CLI::IsMember({"empty", "silent"}));
  app.add_option("--reset-after", options.resetAfter,
                 "reset each connection (RST) after N replies sent on it");
  app.add_option("--transcript", transcript, "write every byte received to FILE at exit");
  app.add_flag("-v,--verbose", options.verbose, "log connections on stderr");
  CLI11_PARSE(app, argc, argv);

  PrinterConfig config;
  std::string error;
  if (!objectsFile.empty() && !LoadPrinterConfig(objectsFile, config, error)) {
    std::fprintf(stderr, "langmon-printer: %s\n", error.c_str());
    return 2;
  }
  // Command-line knobs override the file.
  if (!deviceId.empty()) config.deviceId = deviceId;
  if (app.count("--delay-ms")) config.faults.replyDelayMs = delayMs;
  if (!split.empty()) config.faults.splitSizes = split;
  if (noise || app.count("--noise-text")) config.faults.noise = noiseText;
  if (stale) config.faults.staleReply = kStaleReply;
  if (silent) config.faults.silent = true;
  if (silentAfter >= 0) config.faults.silentAfterReplies = silentAfter;
  for (const std::string& id : silentObjects) config.faults.silentObjects.insert(id);
  if (!unknown.empty()) {
    config.faults.unknown =
        unknown == "silent" ? UnknownObjectReply::Silent : UnknownObjectReply::Empty;
  }

  SimPrinter printer;
  ApplyPrinterConfig(config, printer);
  PrinterServer server(printer, options);
  if (!server.Listen(error)) {
    std::fprintf(stderr, "langmon-printer: %s\n", error.c_str());
    return 1;
  }

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

  if (!transcript.empty()) {
    std::ofstream out(transcript, std::ios::binary);
    const std::string bytes = printer.Written();
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
      std::fprintf(stderr, "langmon-printer: cannot write %s\n", transcript.c_str());
      return 1;
    }
  }
  if (options.verbose) {
    std::fprintf(stderr, "served %lu connections, %llu replies\n", server.Accepted(),
                 static_cast<unsigned long long>(printer.RepliesSent()));
  }
  return 0;
}

#include "command_line.h"

#include <CLI/CLI.hpp>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "langmon_version.h"

namespace langmon::printer {

namespace {

using namespace langmon::sim;

constexpr const char* kFooter =
    "The objects file is the format `langmon --printer sim:FILE.json` reads too.\n"
    "Only that in-process printer answers the device ID (--device-id, \"deviceId\"):\n"
    "a raw TCP port has no device-ID request. --listen, --port, --split-pause-ms,\n"
    "--reset-after and --transcript concern the TCP server only. With --fleet, every\n"
    "printer gets its own copy of the objects and the knobs; --list FILE writes the\n"
    "printers file that `langmon --printers FILE` reads.";

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

// A whole number from `low` to `high`, checked before CLI11 converts it,
// so that a word, a negative number or one out of range is named as such.
CLI::Validator WholeNumber(std::uint64_t low, std::uint64_t high) {
  const std::string range = std::to_string(low) + " to " + std::to_string(high);
  return CLI::Validator(
      [low, high, range](std::string& text) -> std::string {
        const char* end = text.data() + text.size();
        const bool negative = !text.empty() && text.front() == '-';
        std::uint64_t value = 0;
        const auto [at, ec] = std::from_chars(text.data() + (negative ? 1 : 0), end, value);
        if (text.size() == (negative ? 1u : 0u) || ec == std::errc::invalid_argument || at != end)
          return "\"" + text + "\" is not a whole number (" + range + ")";
        if (negative || ec == std::errc::result_out_of_range || value < low || value > high)
          return text + " is out of range: " + range;
        return {};
      },
      "", "");
}

// A fraction from 0 to 1, such as 0.1.
CLI::Validator Fraction() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        double value = 0;
        const char* end = text.data() + text.size();
        const auto [at, ec] = std::from_chars(text.data(), end, value);
        if (text.empty() || ec != std::errc() || at != end || std::isnan(value))
          return "\"" + text + "\" is not a fraction (0 to 1)";
        if (value < 0 || value > 1) return text + " is out of range: 0 to 1";
        return {};
      },
      "", "");
}

constexpr std::uint64_t kUnsignedMax = std::numeric_limits<unsigned>::max();

void AddFaultOptions(CLI::App& app, Knobs& knobs) {
  app.add_option("--delay-ms", knobs.delayMs,
                 "delay in ms before every reply becomes readable (0 to " +
                     std::to_string(kMaxReplyDelayMs) + ")")
      ->check(WholeNumber(0, kMaxReplyDelayMs));
  app.add_option("--split", knobs.split,
                 "send every reply in pieces of N bytes, 1 to " + std::to_string(kMaxSplitSize) +
                     " (several sizes: in turn, the last repeating)")
      ->check(WholeNumber(1, kMaxSplitSize));
  app.add_flag("--noise", knobs.noise, "put noise bytes (no '@') before every reply");
  app.add_option("--noise-text", knobs.noiseText, "the noise bytes (implies --noise)");
  app.add_flag("--stale", knobs.stale, "put a stale, non-matching reply before every reply");
  app.add_flag("--silent", knobs.silent, "answer nothing at all");
  app.add_option("--silent-after", knobs.silentAfter, "answer N replies, then nothing")
      ->check(WholeNumber(0, std::numeric_limits<long long>::max()));
  app.add_option("--silent-object", knobs.silentObjects,
                 "do not answer DMINFO for this object (repeatable)");
  app.add_option("--unknown", knobs.unknown,
                 "answer for an unknown object: empty (no record) or silent")
      ->check(CLI::IsMember({"empty", "silent"}));
}

void AddFleetOptions(CLI::App& app, Knobs& knobs) {
  app.add_option("--fleet", knobs.fleet,
                 "serve N independent printers, 1 to " + std::to_string(kMaxFleet) +
                     ", on N ports from --port (--port 0: a free port each)")
      ->check(WholeNumber(1, kMaxFleet));
  app.add_option("--latency", knobs.latencyMs,
                 "hold every reply of every printer MS milliseconds (0 to " +
                     std::to_string(kMaxLatencyMs) + ")")
      ->check(WholeNumber(0, kMaxLatencyMs))
      ->excludes("--delay-ms");
  app.add_option("--silent-share", knobs.silentShare,
                 "share of the printers that answer nothing (0 to 1)")
      ->check(Fraction());
  app.add_option("--reset-share", knobs.resetShare,
                 "share of the printers that reset the connection after the first reply (0 to 1)")
      ->check(Fraction());
  app.add_option("--seed", knobs.seed,
                 "chooses the silent and resetting printers (0 to 4294967295; default 1)")
      ->check(WholeNumber(0, std::numeric_limits<std::uint32_t>::max()));
  app.add_option("--list", knobs.list, "write the printers file for langmon --printers to FILE");
}

// Adds every option to `app`; each number is checked for its range, with a
// message that names the option, the value and the range.
void AddOptions(CLI::App& app, ServerOptions& options, Knobs& knobs) {
  app.add_option("--listen", options.address,
                 "numeric IPv4 or IPv6 address to listen on; 0.0.0.0 or :: for every address "
                 "(other machines can then reach the printer)")
      ->capture_default_str()
      ->check(CLI::Validator(
          [](std::string& text) -> std::string {
            return ScopeOfAddress(text) == AddressScope::Invalid
                       ? "\"" + text + "\" is not a numeric IPv4 or IPv6 address"
                       : std::string();
          },
          "", ""));
  app.add_option("--port", options.port, "TCP port, 0 to 65535 (0: any free port)")
      ->capture_default_str()
      ->check(WholeNumber(0, 65535));
  app.add_option("--objects", knobs.objectsFile, "JSON file with objects, device ID and faults");
  app.add_option("--device-id", knobs.deviceId,
                 "IEEE 1284 device ID text (no effect over TCP: see below)")
      ->check(CLI::Validator(
          [](std::string& text) -> std::string {
            return text.size() > kMaxDeviceIdLength
                       ? "longer than " + std::to_string(kMaxDeviceIdLength) + " bytes"
                       : std::string();
          },
          "", ""));
  AddFaultOptions(app, knobs);
  app.add_option("--split-pause-ms", options.splitPauseMs,
                 "pause in ms between the pieces of a reply (0 to 60000)")
      ->capture_default_str()
      ->check(WholeNumber(0, 60000));
  app.add_option("--reset-after", options.resetAfter,
                 "reset each connection (RST) after N replies sent on it")
      ->check(WholeNumber(0, kUnsignedMax));
  app.add_option("--transcript", knobs.transcript,
                 "write every byte received to FILE as it arrives (one printer only)");
  AddFleetOptions(app, knobs);
  app.add_flag("-v,--verbose", options.verbose, "log connections on stderr");
}

// The objects file, then the command-line knobs over it. False with a
// message when the file cannot be read or is malformed.
bool MakeConfig(const CLI::App& app, const Knobs& knobs, PrinterConfig& config,
                std::string& error) {
  if (!knobs.objectsFile.empty() && !LoadPrinterConfig(knobs.objectsFile, config, error))
    return false;
  SimFaults& faults = config.faults;
  if (!knobs.deviceId.empty()) config.deviceId = knobs.deviceId;
  if (app.count("--delay-ms")) faults.replyDelayMs = knobs.delayMs;
  if (app.count("--latency")) faults.replyDelayMs = knobs.latencyMs;
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

}  // namespace

int ParseCommandLine(int argc, char** argv, CommandLine& line, std::string& error) {
  CLI::App app{"Simulated PJL printer on a TCP port (raw AppSocket), on loopback by default."};
  app.footer(kFooter);
  AddOptions(app, line.options, line.knobs);
  app.set_version_flag("--version", "langmon-printer " LANGMON_VERSION);
  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {  // --help, --version
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    error = std::string(e.what()) + " (--help lists the options)";
    return kUsageStatus;
  }
  line.deviceIdGiven = app.count("--device-id") > 0;
  if (!CheckCombinations(app, line.options, line.knobs, error) ||
      !MakeConfig(app, line.knobs, line.config, error))
    return kUsageStatus;
  return kServe;
}

}  // namespace langmon::printer

#include "command_line.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

namespace langmon::printer {

namespace {

using namespace langmon::sim;

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

}  // namespace

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

}  // namespace langmon::printer

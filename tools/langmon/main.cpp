// langmon: drives the printer language monitor from the command line, the
// way the print spooler and the printer driver would, against a simulated
// printer, a printer on the network, a local printer device or a file.
#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdlib>
#include <exception>
#include <vector>

#include "commands.h"
#include "langmon_version.h"
#include "options.h"
#include "report.h"
#include "time_limit.h"

namespace {

using namespace langmon::cli;

// The subcommands, each with what runs it.
struct Command {
  CLI::App* app;
  int (*run)(const Options& options);
};

// A number of seconds above 0; the upper bound keeps every time in
// milliseconds within 32 bits.
CLI::Validator Seconds() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        char* end = nullptr;
        errno = 0;
        const double value = std::strtod(text.c_str(), &end);
        if (text.empty() || *end != '\0' || errno != 0 || !(value > 0) || value > 1e6)
          return "must be a number of seconds above 0 and at most 1000000, not \"" + text + "\"";
        return {};
      },
      "SECONDS");
}

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
  app.add_option("--timeout", options.timeout, "end the whole command within this time")
      ->check(Seconds());
  app.add_option("--connect-timeout", options.connectTimeout,
                 "give up on a printer that does not take the connection within this time")
      ->check(Seconds())
      ->capture_default_str();
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
  const auto start = Clock::now();
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
    const TimeLimit timeLimit(options.timeout, start);
    options.deadline = timeLimit.Deadline();
    for (const Command& command : commands)
      if (command.app->parsed()) return timeLimit.Finish(command.run(options));
  } catch (const std::exception& e) {
    Error(e.what());
    return kFailed;
  }
  return kUsage;
}

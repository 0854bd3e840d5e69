// langmon: drives the printer language monitor from the command line, the
// way the print spooler and the printer driver would, against a simulated
// printer, a printer on the network, a local printer device or a file.
#include <CLI/CLI.hpp>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <optional>
#include <vector>

#include "audit.h"
#include "commands.h"
#include "fleet.h"
#include "langmon_version.h"
#include "options.h"
#include "reg_file.h"
#include "reg_writer.h"
#include "report.h"
#include "time_limit.h"

namespace {

using namespace langmon::cli;
namespace host = langmon::host;

// The subcommands, each with what runs it.
struct Command {
  CLI::App* app;
  int (*run)(const Options& options);
};

constexpr const char* kCommandNames =
    "config, apply, set, settings, testpage, device-id, print, audit (langmon --help tells "
    "more)";

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
  app.require_subcommand(0, 1);
  app.set_version_flag("--version", "langmon " LANGMON_VERSION);
  app.option_defaults()->always_capture_default();
  app.add_option("--printer", options.devices,
                 "device URI of the printer; more than once for several printers")
      ->allow_extra_args(false)
      ->default_str("sim:");
  app.add_option("--printers", options.printersFile,
                 "read the printers from FILE: one device URI a line, an optional name after it");
  app.add_option("--jobs", options.jobs,
                 "how many printers to serve at once with several printers (default 256)")
      ->check(CLI::Range(1, kMaxJobs));
  app.add_flag("--csv", options.csv, "one CSV row per printer, one column per setting");
  app.add_option("--port", options.port, "spooler port name");
  app.add_option("--printer-name", options.printerName, "spooler printer name");
  app.add_option("--settings", options.settings, "stored driver settings to load from a .reg file");
  app.add_flag("--trace", options.trace, "show the conversation on the port on stderr");
  app.add_flag("-q,--quiet", options.quiet, "no progress line");
  app.add_flag("-v,--verbose", options.verbose, "list each line --settings leaves out");
  app.add_flag("--json", options.json,
               "print JSON, errors included: one object, or one line per printer of a fleet "
               "(JSON Lines)");
  app.add_option("--timeout", options.timeout, "end the whole command within this time")
      ->check(Seconds());
  app.add_option("--connect-timeout", options.connectTimeout,
                 "give up on a printer that does not take the connection within this time")
      ->check(Seconds())
      ->capture_default_str();
  // Words that name no command or option are kept, so that they can be
  // named.
  app.allow_extras();
}

std::vector<Command> AddCommands(CLI::App& app, Options& options) {
  CLI::App* config =
      app.add_subcommand("config", "read the printer's configuration (GetConfigObjects)");
  config->add_option("--reg", options.regFile,
                     "also write the settings the printer answered to FILE.reg (a backup that "
                     "apply --settings restores)");
  CLI::App* apply =
      app.add_subcommand("apply", "send the stored settings to the printer (SetConfigObjects)");
  apply->add_flag("--verify", options.verify, "read the configuration back and compare");
  CLI::App* set = app.add_subcommand("set", "send single settings (SetConfigObjects)");
  set->add_option("NAME=VALUE", options.assignments, "a setting and its value")->required();
  set->add_flag("--verify", options.verify, "read the configuration back and compare");
  CLI::App* settings =
      app.add_subcommand("settings", "list the settings and the values each accepts");
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
  CLI::App* audit = app.add_subcommand(
      "audit", "compare the printer's configuration with a baseline; nothing is sent");
  audit
      ->add_option("BASELINE.reg", options.baseline,
                   "one printer's stored settings; \"dwCfgFlags\" selects those compared")
      ->required();
  const std::vector<Command> commands = {{config, &RunConfig},     {apply, &RunApply},
                                         {set, &RunSet},           {settings, &RunSettings},
                                         {testpage, &RunTestPage}, {deviceId, &RunDeviceId},
                                         {print, &RunPrint},       {audit, &RunAudit}};
  // The global options may stand after the command too.
  for (const Command& command : commands) command.app->fallthrough();
  return commands;
}

// Whether --json is on the command line, known before parsing so that a
// command line that does not parse is reported as JSON too.
bool JsonAsked(int argc, char** argv) {
  for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i)
    if (std::strcmp(argv[i], "--json") == 0) return true;
  return false;
}

// What --help prints: the program's help, or a command's followed by the
// global options, which may stand after the command too.
std::string HelpText(const CLI::App& app) {
  const auto formatter = std::dynamic_pointer_cast<CLI::Formatter>(app.get_formatter());
  if (app.get_subcommands().empty() || !formatter) return app.help();
  const std::vector<const CLI::Option*> global = app.get_options([&app](const CLI::Option* o) {
    return o->nonpositional() && !o->get_group().empty() && o != app.get_help_ptr();
  });
  std::string help = app.help();
  while (help.ends_with("\n\n")) help.pop_back();
  return help +
         formatter->make_group("Global options (before or after the command)", false, global);
}

// Parses the command line; the exit status when the run ends here. The
// version and the help go out through Print, so that output that cannot be
// written is named as for every other result.
std::optional<int> Parse(CLI::App& app, int argc, char** argv) {
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForVersion&) {
    if (JsonOutput())
      JsonResult()["version"] = LANGMON_VERSION;
    else
      Print("langmon " LANGMON_VERSION "\n");
    return kSuccess;
  } catch (const CLI::Success&) {  // --help
    if (JsonOutput())
      JsonResult()["help"] = HelpText(app);
    else
      Print(HelpText(app));
    return kSuccess;
  } catch (const CLI::ParseError& e) {
    return Fail(kUsage, "wrong command line",
                std::string(e.what()) + " (langmon --help lists the options)");
  }
  return std::nullopt;
}

// Names that must not be empty: an empty one is a slip (an unset shell
// variable, say) that would otherwise surface later as an odd refusal.
std::optional<int> CheckNames(const CLI::App& app, const Options& options) {
  const struct {
    const char* option;
    const std::string& value;
    const char* what;
  } names[] = {{"--printer", options.device, "a device URI, such as sim: or socket://HOST"},
               {"--printers", options.printersFile, "a printers file"},
               {"--port", options.port, "a spooler port name, such as LPT1:"},
               {"--printer-name", options.printerName, "a spooler printer name"},
               {"--settings", options.settings, "a .reg file"}};
  for (const auto& n : names)
    if (app.count(n.option) != 0 && n.value.empty())
      return Fail(kUsage, std::string(n.option) + " is empty", std::string("give ") + n.what);
  for (const std::string& device : options.devices)
    if (device.empty()) return Fail(kUsage, "--printer is empty", names[0].what);
  return std::nullopt;
}

// The requests that keep the printer's settings under its driver-data key:
// a name the key path cannot hold is refused before any port opens, and so
// is one a backup file (--reg) cannot hold.
std::optional<int> CheckPrinterName(const std::string& command, const Options& options) {
  if (command != "config" && command != "apply" && command != "set" && command != "testpage" &&
      command != "audit")
    return std::nullopt;
  std::string why = host::PrinterNameProblem(options.printerName);
  if (why.empty() && !options.regFile.empty()) why = host::RegKeyNameProblem(options.printerName);
  if (why.empty()) return std::nullopt;
  return Fail(kUsage, "--printer-name cannot be used", why);
}

// What a fleet refuses before it starts: a command for one printer, the
// options that name one printer's port or files, two output formats.
std::optional<int> CheckFleet(const CLI::App& app, const std::string& command,
                              const Options& options) {
  if (command != "config" && command != "apply" && command != "set" && command != "testpage" &&
      command != "audit")
    return Fail(kUsage, command + " does not run on several printers",
                "--printers, several --printer, --jobs and --csv are for config, apply, set, "
                "testpage and audit");
  if (options.json && options.csv)
    return Fail(kUsage, "--json and --csv exclude each other", "give one of them");
  const struct {
    bool given;
    const char* option;
    const char* why;
  } single[] = {
      {app.count("--port") != 0, "--port", "each printer gets a parallel port of its worker"},
      {app.count("--printer-name") != 0, "--printer-name",
       "each printer is named in the printers file, or after its position"},
      {!options.regFile.empty(), "--reg", "one backup file cannot hold several printers"},
      {options.trace, "--trace", "the conversations of several printers would interleave"}};
  for (const auto& s : single)
    if (s.given) return Fail(kUsage, std::string(s.option) + " is for one printer", s.why);
  if (command == "set")
    return CheckAssignments(options) ? std::optional<int>(kUsage) : std::nullopt;
  if (command == "apply")
    return CheckStoredSettings(options) ? std::optional<int>(kUsage) : std::nullopt;
  if (command == "audit") return CheckAudit(options) ? std::optional<int>(kUsage) : std::nullopt;
  return std::nullopt;
}

int RunFleetCommand(const CLI::App& app, const Command& command, const Options& options) {
  const std::string name = command.app->get_name();
  if (auto status = CheckFleet(app, name, options)) return *status;
  if (name != "audit") return RunFleet(name, command.run, options);
  // Read once, before the workers are forked, for all of them.
  Options audit = options;
  if (int rc = ReadBaselineOnce(audit)) return rc;
  return RunFleet(name, command.run, audit);
}

int Run(const CLI::App& app, const std::vector<Command>& commands, const Options& options) {
  const std::vector<std::string> extras = app.remaining();
  for (const Command& command : commands)
    if (command.app->parsed()) {
      if (!extras.empty())
        return Fail(kUsage, "wrong command line",
                    "the argument \"" + extras.front() + "\" was not expected");
      if (auto status = CheckNames(app, options)) return *status;
      if (FleetAsked(options)) return RunFleetCommand(app, command, options);
      if (auto status = CheckPrinterName(command.app->get_name(), options)) return *status;
      return command.run(options);
    }
  if (!extras.empty() && !extras.front().starts_with("-"))
    return Fail(kUsage, "unknown command \"" + extras.front() + "\"",
                std::string("the commands are ") + kCommandNames);
  if (!extras.empty())
    return Fail(kUsage, "wrong command line",
                "the argument \"" + extras.front() + "\" was not expected");
  return Fail(kUsage, "a command is required", kCommandNames);
}

int RunCommandLine(int argc, char** argv, Clock::time_point start) {
  Options options;
  CLI::App app{
      "Drive the printer language monitor as the print spooler and printer driver would.\n"
      "Device URIs: sim:, sim:FILE.json, socket://HOST[:PORT], parallel:/dev/lpN,\n"
      "usb:/dev/usb/lpN, file:PATH.\n"
      "Exit status: 0 done, 1 failed, 2 wrong command line or input, 3 the answer did not\n"
      "come whole from the printer, 4 the time limit of --timeout ran out, 5 (audit) read\n"
      "whole and differs from the baseline; a fleet stopped by SIGINT, SIGTERM or SIGHUP:\n"
      "128 + the signal's number.",
      "langmon"};
  AddGlobalOptions(app, options);
  const std::vector<Command> commands = AddCommands(app, options);
  SetJsonOutput(JsonAsked(argc, argv));
  if (auto status = Parse(app, argc, argv)) return *status;
  if (options.devices.size() == 1) options.device = options.devices.front();
  if (FleetAsked(options)) {
    SetJsonLines(true);
    // A fleet's parent forks, so it starts no watchdog thread: it keeps the
    // deadline itself.
    if (options.timeout)
      options.deadline = start + std::chrono::duration_cast<Clock::duration>(
                                     std::chrono::duration<double>(*options.timeout));
    return Run(app, commands, options);
  }
  // The limit counts from the start of the run.
  const TimeLimit timeLimit(options.timeout, start);
  options.deadline = timeLimit.Deadline();
  return timeLimit.Finish(Run(app, commands, options));
}

}  // namespace

int main(int argc, char** argv) {
  const auto start = Clock::now();
  // A closed pipe on standard output is then a write error the run reports,
  // not a signal that ends it without a word.
  std::signal(SIGPIPE, SIG_IGN);
  int status = kFailed;
  try {
    status = RunCommandLine(argc, argv, start);
  } catch (const std::exception& e) {
    status = Fail(kFailed, "unexpected failure", e.what());
  } catch (...) {
    status = Fail(kFailed, "unexpected failure", "an unknown exception");
  }
  try {
    return FinishOutput(status);
  } catch (...) {
    std::fputs("langmon: error: cannot write the output\n", stderr);
    return kFailed;
  }
}

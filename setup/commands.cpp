#include "commands.h"

#include <exception>

#include "architecture.h"
#include "inspect.h"
#include "langmon_version.h"
#include "report.h"
#include "steps.h"

namespace setup {

ExitStatus Status(const System& system, const Options& options) {
  MonitorState state;
  Win32Failure failure;
  if (!InspectMonitor(options.name, state, failure)) return Failed(failure);
  const std::wstring monitor = L"monitor " + Quoted(options.name) + L": ";
  if (state.health == Health::kNotInstalled) {
    PrintLine(monitor + L"not installed");
    return kNotInstalled;
  }
  if (state.health == Health::kInstalled) {
    PrintLine(monitor + L"installed");
    PrintState(system, state);
    return kDone;
  }
  PrintLine(monitor + L"registered, but broken: " + state.problem);
  PrintState(system, state);
  PrintLine(
      L"  repair:       langmon-setup install puts the DLL back; langmon-setup remove "
      L"takes the registration away");
  return kBroken;
}

ExitStatus Run(const std::vector<std::wstring>& args, const System& system) {
  const ParsedArguments parsed = ParseArguments(args);
  if (!parsed.ok) {
    ReportError(parsed.error);
    PrintErrorLine(UsageText());
    return kUsage;
  }
  const Options& options = parsed.options;
  switch (options.command) {
    case Command::kHelp:
      PrintLine(UsageText());
      return kDone;
    case Command::kVersion:
      PrintLine(std::wstring(L"langmon-setup " LANGMON_VERSION L" (") + KitArchitecture() + L")");
      return kDone;
    default:
      break;
  }
  if (const std::wstring refusal = ThisWindowsRefusal(); !refusal.empty()) {
    ReportError(refusal);
    return kFailed;
  }
  if (options.command == Command::kInstall) return Install(system, options);
  if (options.command == Command::kUpgrade) return Upgrade(system, options);
  if (options.command == Command::kRemove) return Remove(system, options);
  return Status(system, options);
}

int ProgramMain(int argc, wchar_t** argv, const System& system) {
  try {
    std::vector<std::wstring> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    return Run(args, system);
  } catch (const std::exception& e) {
    std::wstring what;
    for (const char* c = e.what(); *c; ++c)
      what += static_cast<wchar_t>(static_cast<unsigned char>(*c));
    ReportError(L"unexpected failure: " + what);
  } catch (...) {
    ReportError(L"unexpected failure");
  }
  return kFailed;
}

}  // namespace setup

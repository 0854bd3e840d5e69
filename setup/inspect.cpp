#include "inspect.h"

#include "architecture.h"

namespace setup {

namespace {

// Looks at the registered DLL: is it there, and a DLL for this machine?
void CheckDll(MonitorState& state) {
  PeInfo pe;
  Win32Failure failure;
  state.health = Health::kBroken;
  if (!ReadPeInfo(state.dllPath, pe, failure)) {
    const bool missing =
        failure.code == ERROR_FILE_NOT_FOUND || failure.code == ERROR_PATH_NOT_FOUND;
    state.problem = missing ? state.dllPath + L" is missing" : DescribeFailure(failure);
  } else if (!pe.isPe || !pe.isDll) {
    state.problem = state.dllPath + L" is not a Windows DLL";
  } else if (pe.machine != KitMachine()) {
    state.problem = state.dllPath + L" is built for " + MachineName(pe.machine) +
                    L", not for this spooler's " + MachineName(KitMachine());
  } else {
    state.health = Health::kInstalled;
    Win32Failure ignored;
    state.hasVersion = ReadFileVersion(state.dllPath, state.version, ignored);
  }
}

std::wstring ListingLine(const System& system, const std::wstring& name) {
  std::vector<InstalledMonitor> monitors;
  Win32Failure failure;
  if (!system.listMonitors(monitors, failure)) return L"unavailable: " + DescribeFailure(failure);
  const std::optional<InstalledMonitor> listed = FindMonitor(monitors, name);
  if (!listed) return L"not listed by EnumMonitorsW, as Windows does for language monitors";
  return L"listed by EnumMonitorsW (environment " + listed->environment + L")";
}

std::wstring VersionLine(const MonitorState& state) {
  if (!state.hasVersion) return L"unknown: the DLL has no version resource";
  return state.version.Numeric() + L" (" + state.version.productName + L" " +
         state.version.productVersion + L")";
}

}  // namespace

std::wstring RegisteredDllPath(const std::wstring& driver) {
  std::wstring folder;
  Win32Failure ignored;
  if (FileNameOf(driver) != driver || !SystemDirectory(folder, ignored)) return driver;
  return JoinPath(folder, driver);
}

bool InspectMonitor(const std::wstring& name, MonitorState& state, Win32Failure& failure) {
  state = MonitorState{};
  bool found = false;
  if (!ReadRegistration(name, found, state.registration, failure)) return false;
  if (!found) return true;
  state.dllPath = RegisteredDllPath(state.registration.driver);
  CheckDll(state);
  return true;
}

LoadState SpoolerLoadState(const System& system, const std::wstring& dllPath) {
  LoadState load;
  ServiceState service;
  if (!system.querySpooler(service, load.failure)) return load;
  load.kind = LoadState::kNotRunning;
  if (!service.running) return load;
  bool loaded = false;
  load.processId = service.processId;
  if (!ProcessHasLoaded(service.processId, dllPath, loaded, load.failure)) {
    load.kind = LoadState::kUnknown;
    return load;
  }
  load.kind = loaded ? LoadState::kLoaded : LoadState::kNotLoaded;
  return load;
}

std::wstring DescribeLoad(const LoadState& load) {
  const std::wstring process = L" (process " + std::to_wstring(load.processId) + L")";
  switch (load.kind) {
    case LoadState::kLoaded:
      return L"yes, by the Print Spooler service" + process;
    case LoadState::kNotLoaded:
      return L"no: the Print Spooler service runs" + process +
             L" without it; it loads monitors when it starts";
    case LoadState::kNotRunning:
      return L"no: the Print Spooler service is not running";
    default:
      return L"unknown: " + DescribeFailure(load.failure);
  }
}

std::wstring VersionSuffix(const std::wstring& path) {
  FileVersion version;
  Win32Failure ignored;
  if (!ReadFileVersion(path, version, ignored)) return {};
  return L" (version " + version.Numeric() + L")";
}

void PrintState(const System& system, const MonitorState& state) {
  const Registration& r = state.registration;
  PrintLine(L"  registration: " + RegistrationPath(r.name) + L", Driver \"" + r.driver + L"\"");
  PrintLine(L"  environment:  " + std::wstring(SpoolerEnvironment()));
  PrintLine(L"  DLL:          " + r.driver + L" (" + state.dllPath + L")");
  if (state.health == Health::kBroken) {
    PrintLine(L"  problem:      " + state.problem);
  } else {
    PrintLine(L"  file version: " + VersionLine(state));
    PrintLine(L"  loaded:       " + DescribeLoad(SpoolerLoadState(system, state.dllPath)));
  }
  PrintLine(L"  spooler list: " + ListingLine(system, r.name));
}

}  // namespace setup

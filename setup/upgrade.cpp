// upgrade: replaces the DLL of an installed monitor while the spooler is
// stopped, and puts the old one back when the new one does not take.
#include <windows.h>

#include <algorithm>
#include <iterator>

#include "commands.h"
#include "inspect.h"
#include "replace.h"
#include "steps.h"

namespace setup {

namespace {

// Stop failures that mean "not now" rather than "not allowed": the new DLL
// then replaces the old one when Windows restarts.
constexpr DWORD kCannotStopNow[] = {ERROR_SERVICE_CANNOT_ACCEPT_CTRL,
                                    ERROR_DEPENDENT_SERVICES_RUNNING,
                                    ERROR_SERVICE_REQUEST_TIMEOUT};
// The spooler loads its monitors as it starts, which may end after it
// reports "running"; half a minute is ten times what that takes.
constexpr ULONGLONG kLoadWaitMs = 30 * 1000;
constexpr DWORD kLoadPollMs = 250;

struct Attempt {
  const System& system;
  std::wstring name, source, target;
  bool wasRunning = false;
};

int CompareVersions(const FileVersion& a, const FileVersion& b) {
  for (std::size_t i = 0; i < std::size(a.parts); ++i)
    if (a.parts[i] != b.parts[i]) return a.parts[i] < b.parts[i] ? -1 : 1;
  return 0;
}

// "1.0.0.0 -> 1.0.1.0 (a newer version)".
std::wstring Change(const MonitorState& state, const std::wstring& source) {
  FileVersion next;
  Win32Failure ignored;
  const bool hasNext = ReadFileVersion(source, next, ignored);
  const std::wstring from = state.hasVersion ? state.version.Numeric() : L"(no version)";
  const std::wstring to = hasNext ? next.Numeric() : L"(no version)";
  if (!state.hasVersion || !hasNext) return from + L" -> " + to;
  const int order = CompareVersions(next, state.version);
  return from + L" -> " + to +
         (order > 0   ? L" (a newer version)"
          : order < 0 ? L" (an older version)"
                      : L" (the same version number, a different file)");
}

// The new DLL waits beside the old one until the spooler is stopped, or
// until Windows restarts.
ExitStatus AtRestart(const Attempt& run, const Win32Failure& stopFailure) {
  PrintLine(L"the Print Spooler service cannot be stopped now: " + DescribeFailure(stopFailure));
  const std::wstring staged = StagedPath(run.target);
  Win32Failure failure;
  if (!ScheduleReplacement(staged, run.target, failure)) {
    Discard(staged);
    return Failed(failure);
  }
  PrintLine(L"scheduled " + staged + L" to replace " + run.target +
            L" when Windows restarts: restart Windows to finish the upgrade");
  return kRestartNeeded;
}

// Puts the old DLL back and leaves the spooler running as it was; kFailed.
ExitStatus RollBack(const Attempt& run) {
  PrintLine(L"rolling back: putting the earlier DLL back");
  Win32Failure failure;
  if (run.wasRunning && !run.system.stopSpooler(failure)) return Failed(failure);
  if (!Rename(AsidePath(run.target), run.target, failure)) {
    ReportFailure(failure);
    ReportError(L"the earlier DLL is " + AsidePath(run.target) + L": rename it to " + run.target +
                L" by hand while the spooler is stopped");
    return kFailed;
  }
  if (run.wasRunning && !run.system.startSpooler(failure)) return Failed(failure);
  PrintLine(L"put back " + run.target + VersionSuffix(run.target) +
            (run.wasRunning ? L"; the Print Spooler service runs again" : L""));
  return kFailed;
}

LoadState WaitForLoad(const Attempt& run) {
  const ULONGLONG deadline = GetTickCount64() + kLoadWaitMs;
  for (;;) {
    const LoadState load = SpoolerLoadState(run.system, run.target);
    if (load.kind == LoadState::kLoaded || load.kind == LoadState::kUnknown ||
        GetTickCount64() >= deadline)
      return load;
    Sleep(kLoadPollMs);
  }
}

// What status finds wrong with the new DLL: registered, in place, loaded
// (when the spooler runs); empty when nothing is.
std::wstring Problem(const Attempt& run, MonitorState& state) {
  Win32Failure failure;
  Sameness sameness = Sameness::kMissing;
  if (!InspectMonitor(run.name, state, failure)) return DescribeFailure(failure);
  if (state.health == Health::kNotInstalled) return L"the monitor is no longer registered";
  if (state.health == Health::kBroken) return state.problem;
  if (!CompareFiles(run.source, state.dllPath, sameness, failure)) return DescribeFailure(failure);
  if (sameness != Sameness::kEqual) return state.dllPath + L" is not the new DLL";
  if (!run.wasRunning) return {};
  const LoadState load = WaitForLoad(run);
  return load.kind == LoadState::kLoaded ? L"" : L"loaded: " + DescribeLoad(load);
}

ExitStatus Check(const Attempt& run) {
  MonitorState state;
  if (const std::wstring problem = Problem(run, state); !problem.empty()) {
    ReportError(L"the new DLL did not take: " + problem);
    return RollBack(run);
  }
  Discard(AsidePath(run.target));
  PrintLine(L"upgraded monitor " + Quoted(run.name) + L": " + run.target +
            VersionSuffix(run.target));
  if (!run.wasRunning)
    PrintLine(
        L"the Print Spooler service was not running and stays stopped: it loads the new "
        L"DLL when it starts");
  PrintLine(L"monitor " + Quoted(run.name) + L": installed");
  PrintState(run.system, state);
  return kDone;
}

ExitStatus Swap(const Attempt& run) {
  Win32Failure failure;
  if (run.wasRunning) {
    PrintLine(L"stopping the Print Spooler service: printing pauses until it runs again");
    if (!run.system.stopSpooler(failure)) {
      if (std::ranges::find(kCannotStopNow, failure.code) != std::end(kCannotStopNow))
        return AtRestart(run, failure);
      Discard(StagedPath(run.target));
      return Failed(failure);
    }
  }
  if (!Rename(run.target, AsidePath(run.target), failure)) {
    ReportFailure(failure);
    Discard(StagedPath(run.target));
    if (run.wasRunning && !run.system.startSpooler(failure)) ReportFailure(failure);
    return kFailed;
  }
  if (!Rename(StagedPath(run.target), run.target, failure)) {
    ReportFailure(failure);
    return RollBack(run);
  }
  if (run.wasRunning) PrintLine(L"starting the Print Spooler service");
  if (run.wasRunning && !run.system.startSpooler(failure)) {
    ReportFailure(failure);
    return RollBack(run);
  }
  return Check(run);
}

// Everything that comes before anything changes: the DLLs, the state, the
// spooler's service. `staged`: the new DLL waits beside the old; false with
// kDone when it is the one in place already.
ExitStatus Prepare(Attempt& run, const Options& options, bool& staged) {
  if (ExitStatus status = SourceDll(options, run.source)) return status;
  MonitorState state;
  Win32Failure failure;
  if (!InspectMonitor(options.name, state, failure)) return Failed(failure);
  const std::wstring monitor = L"monitor " + Quoted(options.name);
  if (state.health == Health::kNotInstalled) {
    PrintLine(monitor + L" is not installed: langmon-setup install installs it");
    return kNotInstalled;
  }
  if (state.health == Health::kBroken) {
    ReportError(monitor + L" is broken: " + state.problem + L"; langmon-setup install repairs it");
    return kBroken;
  }
  run.target = state.dllPath;
  Sameness sameness = Sameness::kMissing;
  if (!CompareFiles(run.source, run.target, sameness, failure)) return Failed(failure);
  if (sameness == Sameness::kEqual) {
    PrintLine(monitor + L" already has this DLL (" + run.target + L"); nothing changed");
    return kDone;
  }
  PrintLine(L"upgrading " + monitor + L": " + run.target + L" " + Change(state, run.source));
  ServiceState service;
  if (!run.system.querySpooler(service, failure)) return Failed(failure);
  run.wasRunning = service.running;
  const std::wstring copy = StagedPath(run.target);
  staged = CopyFileW(run.source.c_str(), copy.c_str(), FALSE);
  if (staged) return kDone;
  Fail(failure, L"CopyFileW " + run.source + L" to " + copy);
  return Failed(failure);
}

}  // namespace

ExitStatus Upgrade(const System& system, const Options& options) {
  Attempt run{system, options.name, {}, {}, false};
  bool staged = false;
  if (ExitStatus status = Prepare(run, options, staged); status != kDone || !staged) return status;
  return Swap(run);
}

}  // namespace setup

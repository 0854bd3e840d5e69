// install: places the DLL in the system folder and registers it with the
// spooler; on a registration whose DLL is missing, puts the DLL back.
#include <windows.h>

#include "architecture.h"
#include "commands.h"
#include "inspect.h"
#include "replace.h"
#include "spooler.h"
#include "steps.h"

namespace setup {

namespace {

enum class Placement { kAlreadyThere, kCopied, kReplaced };

// The file install writes: for a broken registration the file it names,
// which must have the DLL's file name; otherwise the DLL's file name in the
// system folder.
ExitStatus Target(const MonitorState& state, const std::wstring& source, std::wstring& target) {
  Win32Failure failure;
  if (state.health == Health::kNotInstalled)
    return SystemFile(FileNameOf(source), target, failure) ? kDone : Failed(failure);
  if (!SamePath(FileNameOf(state.dllPath), FileNameOf(source))) {
    ReportError(L"monitor " + Quoted(state.registration.name) + L" is registered with " +
                state.dllPath + L", which install cannot put back from " + source +
                L": give --dll a file of that name, or remove the monitor first");
    return kFailed;
  }
  PrintLine(L"monitor " + Quoted(state.registration.name) + L" is registered, but broken: " +
            state.problem + L"; putting its DLL back");
  target = state.dllPath;
  return kDone;
}

// The file that was at `target` before --force replaced it comes back.
void PutBack(const std::wstring& target) {
  Win32Failure failure;
  if (Rename(AsidePath(target), target, failure)) {
    PrintLine(L"put the earlier " + target + L" back");
    return;
  }
  PrintErrorLine(L"langmon-setup: warning: the earlier " + target + L" is " + AsidePath(target) +
                 L": rename it back by hand (" + DescribeFailure(failure) + L")");
}

// A different file in the way waits aside (--force) until the spooler has
// taken the new one, so that a refused DLL can be undone.
ExitStatus Copy(const std::wstring& source, const std::wstring& target, bool replace) {
  Win32Failure failure;
  if (replace && !Rename(target, AsidePath(target), failure)) return Failed(failure);
  if (CopyFileW(source.c_str(), target.c_str(), TRUE)) return kDone;
  Fail(failure, L"CopyFileW " + source + L" to " + target);
  if (replace) PutBack(target);
  return Failed(failure);
}

// Puts the DLL into place unless the same file is there.
ExitStatus PlaceDll(const std::wstring& source, const std::wstring& target, bool force,
                    Placement& placement) {
  placement = Placement::kAlreadyThere;
  if (SamePath(source, target)) return kDone;
  Sameness sameness = Sameness::kMissing;
  Win32Failure failure;
  if (!CompareFiles(source, target, sameness, failure)) return Failed(failure);
  if (sameness == Sameness::kEqual) {
    PrintLine(target + L" is already in place (the same file)");
    return kDone;
  }
  if (sameness == Sameness::kDifferent && !force) {
    ReportError(L"a different " + target + L" is in the way; --force replaces it");
    return kFileInTheWay;
  }
  const bool missing = sameness == Sameness::kMissing;
  if (ExitStatus status = Copy(source, target, !missing)) return status;
  placement = missing ? Placement::kCopied : Placement::kReplaced;
  PrintLine(missing ? L"copied " + source + L" to " + target
                    : L"replaced " + target + L" with " + source + L" (--force)");
  return kDone;
}

// After the spooler refused the DLL for a reason other than an existing
// registration: a copy this run made goes again, a file it replaced comes
// back.
void Undo(const std::wstring& target, Placement placement) {
  if (placement == Placement::kCopied) {
    Discard(target);
    if (!FileExists(target)) PrintLine(L"removed " + target + L" again");
  }
  if (placement == Placement::kReplaced) PutBack(target);
}

ExitStatus Repaired(const System& system, const std::wstring& name, const std::wstring& target) {
  PrintLine(L"repaired monitor " + Quoted(name) + L": its registration names " + target +
            VersionSuffix(target) + L" again");
  if (SpoolerLoadState(system, target).kind != LoadState::kLoaded)
    PrintLine(
        L"the spooler loads it when it starts: restart the Print Spooler service (net "
        L"stop spooler, then net start spooler; printing pauses meanwhile)");
  return kDone;
}

ExitStatus Register(const System& system, const Options& options, const MonitorState& state,
                    const std::wstring& target, Placement placement) {
  Win32Failure failure;
  const bool added = AddLanguageMonitor(options.name, FileNameOf(target), failure);
  if (!added && failure.code != ERROR_PRINT_MONITOR_ALREADY_INSTALLED) {
    ReportFailure(failure);
    Undo(target, placement);
    return kFailed;
  }
  if (placement == Placement::kReplaced) Discard(AsidePath(target));
  if (added) {
    PrintLine(L"installed monitor " + Quoted(options.name) + L" for " + SpoolerEnvironment() +
              L": the spooler loaded " + target + VersionSuffix(target));
    return kDone;
  }
  if (state.health == Health::kBroken) return Repaired(system, options.name, target);
  PrintLine(L"monitor " + Quoted(options.name) + L" is already installed");
  return kAlreadyInstalled;
}

}  // namespace

ExitStatus Install(const System& system, const Options& options) {
  std::wstring source, target;
  if (ExitStatus status = SourceDll(options, source)) return status;
  MonitorState state;
  Win32Failure failure;
  if (!InspectMonitor(options.name, state, failure)) return Failed(failure);
  if (state.health == Health::kInstalled) {
    PrintLine(L"monitor " + Quoted(options.name) + L" is already installed (" +
              state.registration.driver +
              L"); nothing changed; langmon-setup upgrade replaces its DLL");
    return kAlreadyInstalled;
  }
  if (ExitStatus status = Target(state, source, target)) return status;
  Placement placement = Placement::kAlreadyThere;
  if (ExitStatus status = PlaceDll(source, target, options.force, placement)) return status;
  return Register(system, options, state, target, placement);
}

}  // namespace setup

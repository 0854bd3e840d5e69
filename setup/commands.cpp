#include "commands.h"

#include <windows.h>
#include <winspool.h>

#include "architecture.h"
#include "files.h"
#include "langmon_version.h"
#include "report.h"
#include "spooler.h"

namespace setup {

namespace {

std::wstring Quoted(const std::wstring& name) { return L"\"" + name + L"\""; }

std::wstring MachineName(WORD machine) {
  if (machine == IMAGE_FILE_MACHINE_I386) return L"i686 (32-bit)";
  if (machine == IMAGE_FILE_MACHINE_AMD64) return L"x86_64 (64-bit)";
  return L"machine " + std::to_wstring(machine);
}

ExitStatus Failed(const Win32Failure& failure) {
  ReportFailure(failure);
  return kFailed;
}

// The installed monitor of that name, or kNotInstalled / kFailed reported.
ExitStatus FindInstalled(const std::wstring& name, InstalledMonitor& found) {
  std::vector<InstalledMonitor> monitors;
  Win32Failure failure;
  if (!ListMonitors(monitors, failure)) return Failed(failure);
  const std::optional<InstalledMonitor> monitor = FindMonitor(monitors, name);
  if (!monitor) return kNotInstalled;
  found = *monitor;
  return kDone;
}

// Where the spooler finds a monitor's DLL: a bare file name lies in the
// system folder.
std::wstring DllPath(const std::wstring& dll) {
  std::wstring folder;
  Win32Failure ignored;
  if (FileNameOf(dll) != dll || !SystemDirectory(folder, ignored)) return dll;
  return JoinPath(folder, dll);
}

// " (version 1.0.0.0)", or nothing when the file has no version resource.
std::wstring VersionSuffix(const std::wstring& path) {
  FileVersion version;
  Win32Failure ignored;
  if (!ReadFileVersion(path, version, ignored)) return {};
  return L" (version " + version.Numeric() + L")";
}

// The DLL to install as a full path: --dll, or langmon.dll beside this
// program. It must be a DLL of this kit's architecture.
ExitStatus SourceDll(const Options& options, std::wstring& source) {
  Win32Failure failure;
  std::wstring path = options.dll;
  if (path.empty()) {
    std::wstring folder;
    if (!ProgramDirectory(folder, failure)) return Failed(failure);
    path = JoinPath(folder, kDllFileName);
  }
  if (!FullPath(path, source, failure)) return Failed(failure);
  PeInfo pe;
  if (!ReadPeInfo(source, pe, failure)) return Failed(failure);
  if (!pe.isPe || !pe.isDll) {
    ReportError(source + L" is not a Windows DLL");
    return kFailed;
  }
  if (pe.machine != KitMachine()) {
    ReportError(source + L" is built for " + MachineName(pe.machine) +
                L", but this langmon-setup " + L"installs " + KitArchitecture() +
                L" monitors: use the DLL of its own kit");
    return kFailed;
  }
  return kDone;
}

enum class Placement { kAlreadyThere, kCopied, kReplaced };

// Puts the DLL into the system folder unless the same file is there.
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
  if (!CopyFileW(source.c_str(), target.c_str(), missing)) {
    Fail(failure, L"CopyFileW " + source + L" to " + target);
    return Failed(failure);
  }
  placement = missing ? Placement::kCopied : Placement::kReplaced;
  PrintLine(missing ? L"copied " + source + L" to " + target
                    : L"replaced " + target + L" with " + source + L" (--force)");
  return kDone;
}

// After the spooler refused the DLL, a copy this run made is taken back
// out of the system folder; a file that was there before stays.
void TakeBackCopy(const std::wstring& target) {
  if (DeleteFileW(target.c_str())) {
    PrintLine(L"removed " + target + L" again");
    return;
  }
  Win32Failure failure;
  Fail(failure, L"DeleteFileW");
  PrintErrorLine(L"langmon-setup: warning: " + target + L" stays, delete it by hand (" +
                 DescribeFailure(failure) + L")");
}

ExitStatus Register(const Options& options, const std::wstring& target, Placement placement) {
  Win32Failure failure;
  const std::wstring fileName = FileNameOf(target);
  if (AddLanguageMonitor(options.name, fileName, failure)) {
    PrintLine(L"installed monitor " + Quoted(options.name) + L" for " + SpoolerEnvironment() +
              L": the spooler loaded " + target + VersionSuffix(target));
    return kDone;
  }
  ExitStatus status = kFailed;
  if (failure.code == ERROR_PRINT_MONITOR_ALREADY_INSTALLED) {
    PrintLine(L"monitor " + Quoted(options.name) + L" is already installed");
    status = kAlreadyInstalled;
  } else {
    ReportFailure(failure);
  }
  if (placement == Placement::kCopied) TakeBackCopy(target);
  return status;
}

bool RefusedUnderWow64() {
  if (!RunsUnderWow64()) return false;
  ReportError(
      L"this is the i686 kit's langmon-setup, and this Windows is 64-bit: its spooler "
      L"loads only 64-bit monitors; use langmon-setup.exe of the x86_64 kit");
  return true;
}

}  // namespace

ExitStatus Install(const Options& options) {
  std::wstring source, folder;
  if (ExitStatus status = SourceDll(options, source)) return status;
  InstalledMonitor installed;
  const ExitStatus found = FindInstalled(options.name, installed);
  if (found == kFailed) return kFailed;
  if (found == kDone) {
    PrintLine(L"monitor " + Quoted(installed.name) + L" is already installed (" + installed.dll +
              L"); nothing changed");
    return kAlreadyInstalled;
  }
  Win32Failure failure;
  if (!SystemDirectory(folder, failure)) return Failed(failure);
  const std::wstring target = JoinPath(folder, FileNameOf(source));
  Placement placement = Placement::kAlreadyThere;
  if (ExitStatus status = PlaceDll(source, target, options.force, placement)) return status;
  return Register(options, target, placement);
}

ExitStatus Remove(const Options& options) {
  InstalledMonitor installed;
  const ExitStatus found = FindInstalled(options.name, installed);
  if (found == kNotInstalled) PrintLine(L"monitor " + Quoted(options.name) + L" is not installed");
  if (found != kDone) return found;
  Win32Failure failure;
  if (!DeleteLanguageMonitor(installed.name, failure)) {
    if (failure.code != ERROR_UNKNOWN_PRINT_MONITOR) return Failed(failure);
    PrintLine(L"monitor " + Quoted(options.name) + L" is not installed");
    return kNotInstalled;
  }
  PrintLine(L"removed monitor " + Quoted(installed.name) + L"; " + DllPath(installed.dll) +
            L" stays: delete it once no other monitor or printer driver uses it");
  return kDone;
}

ExitStatus Status(const Options& options) {
  InstalledMonitor installed;
  const ExitStatus found = FindInstalled(options.name, installed);
  if (found == kNotInstalled) PrintLine(L"monitor " + Quoted(options.name) + L": not installed");
  if (found != kDone) return found;
  const std::wstring path = DllPath(installed.dll);
  PrintLine(L"monitor " + Quoted(installed.name) + L": installed");
  PrintLine(L"  environment:  " + installed.environment);
  PrintLine(L"  DLL:          " + installed.dll + L" (" + path + L")");
  FileVersion version;
  Win32Failure failure;
  if (ReadFileVersion(path, version, failure))
    PrintLine(L"  file version: " + version.Numeric() + L" (" + version.productName + L" " +
              version.productVersion + L")");
  else
    PrintLine(L"  file version: unknown: " + DescribeFailure(failure));
  return kDone;
}

ExitStatus Run(const std::vector<std::wstring>& args) {
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
  if (RefusedUnderWow64()) return kFailed;
  if (options.command == Command::kInstall) return Install(options);
  if (options.command == Command::kRemove) return Remove(options);
  return Status(options);
}

}  // namespace setup

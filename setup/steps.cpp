#include "steps.h"

#include "architecture.h"
#include "files.h"

namespace setup {

std::wstring Quoted(const std::wstring& name) { return L"\"" + name + L"\""; }

ExitStatus Failed(const Win32Failure& failure) {
  ReportFailure(failure);
  return kFailed;
}

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
                L", but this langmon-setup installs " + KitArchitecture() +
                L" monitors: use the DLL of its own kit");
    return kFailed;
  }
  return kDone;
}

bool SystemFile(const std::wstring& fileName, std::wstring& path, Win32Failure& failure) {
  std::wstring folder;
  if (!SystemDirectory(folder, failure)) return false;
  path = JoinPath(folder, fileName);
  return true;
}

}  // namespace setup

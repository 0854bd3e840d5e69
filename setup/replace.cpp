#include "replace.h"

#include <windows.h>

namespace setup {

std::wstring AsidePath(const std::wstring& target) { return target + L".old"; }

std::wstring StagedPath(const std::wstring& target) { return target + L".new"; }

bool Rename(const std::wstring& from, const std::wstring& to, Win32Failure& failure) {
  if (!MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING))
    return Fail(failure, L"MoveFileExW " + from + L" to " + to);
  return true;
}

bool DeleteOrSchedule(const std::wstring& path, Deletion& deletion, Win32Failure& failure) {
  deletion = Deletion::kDeleted;
  if (DeleteFileW(path.c_str())) return true;
  // A DLL that a process has loaded cannot be deleted: ERROR_ACCESS_DENIED
  // on Windows, as on Wine.
  const DWORD error = GetLastError();
  if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION)
    return Fail(failure, L"DeleteFileW " + path);
  if (!MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
    return Fail(failure, L"MoveFileExW " + path + L" (delete at restart)");
  deletion = Deletion::kAtRestart;
  return true;
}

bool ScheduleReplacement(const std::wstring& from, const std::wstring& to, Win32Failure& failure) {
  if (!MoveFileExW(from.c_str(), to.c_str(),
                   MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING))
    return Fail(failure, L"MoveFileExW " + from + L" to " + to + L" (at restart)");
  return true;
}

void Discard(const std::wstring& path) {
  Deletion deletion = Deletion::kDeleted;
  Win32Failure failure;
  if (!DeleteOrSchedule(path, deletion, failure))
    PrintErrorLine(L"langmon-setup: warning: " + path + L" stays, delete it by hand (" +
                   DescribeFailure(failure) + L")");
  else if (deletion == Deletion::kAtRestart)
    PrintLine(path + L" is in use: it is deleted when Windows restarts");
}

bool FileExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace setup

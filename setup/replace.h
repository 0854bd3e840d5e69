// Changing a DLL in the system folder without losing the one there: the old
// file is renamed aside (Windows renames a loaded DLL, but neither
// overwrites nor deletes it) and renamed back when the change fails; what
// cannot be deleted or replaced now is scheduled for the next restart
// (MoveFileExW with MOVEFILE_DELAY_UNTIL_REBOOT, which needs an
// administrator).
#pragma once

#include <string>

#include "report.h"

namespace setup {

// "C:\...\langmon.dll.old": where the file that was in place waits.
std::wstring AsidePath(const std::wstring& target);
// "C:\...\langmon.dll.new": where a new file waits for its place.
std::wstring StagedPath(const std::wstring& target);

// Renames `from` to `to`, replacing a file `to` that is not in use.
bool Rename(const std::wstring& from, const std::wstring& to, Win32Failure& failure);

enum class Deletion { kDeleted, kAtRestart };

// Deletes `path`, or, when it is in use, schedules its deletion for the
// next restart.
bool DeleteOrSchedule(const std::wstring& path, Deletion& deletion, Win32Failure& failure);

// Schedules `from` to replace `to` at the next restart.
bool ScheduleReplacement(const std::wstring& from, const std::wstring& to, Win32Failure& failure);

// Deletes a file this run made or set aside and no longer needs; a file
// that cannot go now goes at the next restart, and a warning says so.
void Discard(const std::wstring& path);

bool FileExists(const std::wstring& path);

}  // namespace setup

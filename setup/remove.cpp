// remove: asks the spooler to delete the monitor, always (its listing is no
// guide); --purge deletes the DLL too when no other registration names it.
#include <windows.h>

#include "commands.h"
#include "inspect.h"
#include "replace.h"
#include "spooler.h"
#include "steps.h"

namespace setup {

namespace {

// The monitor registered with the DLL file `fileName`, other than the one
// removed; empty when there is none.
bool OtherUser(const std::wstring& fileName, std::wstring& user, Win32Failure& failure) {
  std::vector<Registration> registrations;
  if (!ListRegistrations(registrations, failure)) return false;
  user.clear();
  for (const Registration& r : registrations)
    if (SamePath(FileNameOf(r.driver), fileName)) user = r.name;
  return true;
}

// Deletes the DLL unless another monitor names it; kRestartNeeded when it
// is in use and goes when Windows restarts.
ExitStatus Purge(const std::wstring& dll, ExitStatus removed) {
  Win32Failure failure;
  std::wstring user;
  if (!FileExists(dll)) {
    PrintLine(dll + L" is not there: nothing to delete");
    return removed;
  }
  if (!OtherUser(FileNameOf(dll), user, failure)) return Failed(failure);
  if (!user.empty()) {
    PrintLine(dll + L" stays: monitor " + Quoted(user) + L" names it too");
    return removed;
  }
  Deletion deletion = Deletion::kDeleted;
  if (!DeleteOrSchedule(dll, deletion, failure)) return Failed(failure);
  if (deletion == Deletion::kDeleted) {
    PrintLine(L"deleted " + dll);
    return removed;
  }
  PrintLine(dll +
            L" is in use, most likely still loaded by the spooler: it is deleted when "
            L"Windows restarts");
  return removed == kDone ? kRestartNeeded : removed;
}

// After "unknown monitor": a registration the spooler does not know of is
// left for the administrator, named, since the spooler did not remove it.
void WarnIfStillRegistered(const std::wstring& name) {
  MonitorState state;
  Win32Failure ignored;
  if (!InspectMonitor(name, state, ignored) || state.health == Health::kNotInstalled) return;
  PrintErrorLine(L"langmon-setup: warning: the spooler does not know monitor " + Quoted(name) +
                 L", but " + RegistrationPath(name) +
                 L" is still there; delete that key (reg delete) and restart the spooler");
}

}  // namespace

ExitStatus Remove(const System&, const Options& options) {
  MonitorState state;
  Win32Failure failure;
  if (!InspectMonitor(options.name, state, failure)) return Failed(failure);
  ExitStatus status = kDone;
  if (DeleteLanguageMonitor(options.name, failure)) {
    PrintLine(L"removed monitor " + Quoted(options.name));
  } else if (failure.code == ERROR_UNKNOWN_PRINT_MONITOR) {
    PrintLine(L"monitor " + Quoted(options.name) + L" is not installed");
    WarnIfStillRegistered(options.name);
    status = kNotInstalled;
  } else {
    return Failed(failure);
  }
  std::wstring dll = state.dllPath;
  if (state.health == Health::kNotInstalled && !SystemFile(kDllFileName, dll, failure))
    return Failed(failure);
  if (options.purge) return Purge(dll, status);
  if (state.health != Health::kNotInstalled)
    PrintLine(dll +
              L" stays: remove --purge deletes it once no other monitor or printer "
              L"driver uses it");
  return status;
}

}  // namespace setup

// Exit statuses of langmon-setup, documented in its usage text and in
// docs/WINDOWS.md. Scripts may rely on them.
#pragma once

namespace setup {

enum ExitStatus : int {
  kDone = 0,              // the command did what it says
  kFailed = 1,            // a Windows call failed, or the DLL is none to install
  kUsage = 2,             // the command line is wrong
  kAlreadyInstalled = 3,  // install: a monitor of that name is installed
  kNotInstalled = 4,      // upgrade, remove, status: no monitor of that name
  kFileInTheWay = 5,      // install: a different file of the DLL's name is in the system folder
  kBroken = 6,            // status: registered, but its DLL is missing or no monitor for us
  kRestartNeeded = 7,     // upgrade, remove --purge: a file changes when Windows restarts
};

}  // namespace setup

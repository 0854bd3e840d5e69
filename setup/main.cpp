// langmon-setup: installs, upgrades, removes and reports the langmon
// language monitor with the Windows print spooler. See arguments.h for the
// command line and docs/WINDOWS.md for the whole procedure.
#include "commands.h"
#include "system.h"

int wmain(int argc, wchar_t** argv) {
  return setup::ProgramMain(argc, argv, setup::kWindowsSystem);
}

// langmon-setup as it behaves on Windows, for the spooler tests: the same
// commands, with EnumMonitorsW listing port monitors only and the Print
// Spooler service simulated (simulated_spooler.h). Test builds only; the
// kit's langmon-setup.exe has no such table.
#include "commands.h"
#include "simulated_spooler.h"

int wmain(int argc, wchar_t** argv) {
  return setup::ProgramMain(argc, argv, setup_test::kAsOnWindows);
}

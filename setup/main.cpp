// langmon-setup: installs, upgrades, removes and reports the langmon language monitor
// with the Windows print spooler. See arguments.h for the command line and
// docs/WINDOWS.md for the whole procedure.
#include <exception>
#include <string>
#include <vector>

#include "commands.h"
#include "report.h"
#include "system.h"

int wmain(int argc, wchar_t** argv) {
  // Nothing may escape main as an exception: report it and fail.
  try {
    std::vector<std::wstring> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    return setup::Run(args, setup::kWindowsSystem);
  } catch (const std::exception& e) {
    std::wstring what;
    for (const char* c = e.what(); *c; ++c)
      what += static_cast<wchar_t>(static_cast<unsigned char>(*c));
    setup::ReportError(L"unexpected failure: " + what);
  } catch (...) {
    setup::ReportError(L"unexpected failure");
  }
  return setup::kFailed;
}

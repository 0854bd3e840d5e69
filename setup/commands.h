// The commands of langmon-setup. Each reports what it did or why it could
// not, and returns the exit status (exit_status.h). They reach the spooler's
// list and service through `system` (system.h); everything else they call
// directly.
#pragma once

#include "arguments.h"
#include "exit_status.h"
#include "system.h"

namespace setup {

ExitStatus Install(const System& system, const Options& options);  // install.cpp
ExitStatus Upgrade(const System& system, const Options& options);  // upgrade.cpp
ExitStatus Remove(const System& system, const Options& options);   // remove.cpp
ExitStatus Status(const System& system, const Options& options);

// Runs the command the arguments name, usage errors and --version included.
ExitStatus Run(const std::vector<std::wstring>& args, const System& system);

// The whole program: Run on the arguments after the program name; nothing
// escapes it as an exception.
int ProgramMain(int argc, wchar_t** argv, const System& system);

}  // namespace setup

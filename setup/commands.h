// The three commands of langmon-setup. Each reports what it did or why it
// could not, and returns the exit status (exit_status.h).
#pragma once

#include "arguments.h"
#include "exit_status.h"

namespace setup {

ExitStatus Install(const Options& options);
ExitStatus Remove(const Options& options);
ExitStatus Status(const Options& options);

// Runs the command the arguments name, usage errors and --version included.
ExitStatus Run(const std::vector<std::wstring>& args);

}  // namespace setup

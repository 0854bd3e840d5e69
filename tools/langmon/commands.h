// The langmon command's subcommands: each runs one request or job through
// a Session (settings needs none) and returns the exit status.
#pragma once

#include "options.h"

namespace langmon::cli {

int RunConfig(const Options& options);
int RunApply(const Options& options);
int RunSet(const Options& options);
int RunSettings(const Options& options);
int RunTestPage(const Options& options);
int RunDeviceId(const Options& options);
int RunPrint(const Options& options);
int RunAudit(const Options& options);

// What a fleet checks once, before any printer is contacted: the NAME=VALUE
// arguments of set, that apply is given stored settings to send (the fleet
// reads the file itself, once). kSuccess, or kUsage with the refusal
// reported.
int CheckAssignments(const Options& options);
int CheckStoredSettings(const Options& options);
// What audit refuses before the baseline is read (audit.h reads it).
int CheckAudit(const Options& options);

}  // namespace langmon::cli

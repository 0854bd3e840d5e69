// What state a monitor is in, read from the spooler's registration
// (registration.h) and the DLL it names, and whether the running spooler
// has that DLL loaded. status prints it; install, upgrade and remove decide
// by it.
#pragma once

#include <string>

#include "files.h"
#include "registration.h"
#include "report.h"
#include "system.h"

namespace setup {

enum class Health {
  kNotInstalled,  // no registration
  kInstalled,     // registered, its DLL present and a DLL for this kit's machine
  kBroken,        // registered, but the DLL is missing or not one the spooler can load
};

struct MonitorState {
  Health health = Health::kNotInstalled;
  Registration registration;
  std::wstring dllPath;  // where the spooler loads the DLL from
  std::wstring problem;  // kBroken: what is wrong with the DLL
  bool hasVersion = false;
  FileVersion version;
};

bool InspectMonitor(const std::wstring& name, MonitorState& state, Win32Failure& failure);

// Where the spooler finds the DLL a registration names: a bare file name
// lies in the system folder.
std::wstring RegisteredDllPath(const std::wstring& driver);

struct LoadState {
  enum Kind { kLoaded, kNotLoaded, kNotRunning, kUnknown } kind = kUnknown;
  DWORD processId = 0;
  Win32Failure failure;  // kUnknown: why
};

// Whether the Print Spooler service runs and has `dllPath` loaded.
LoadState SpoolerLoadState(const System& system, const std::wstring& dllPath);
std::wstring DescribeLoad(const LoadState& load);

// " (version 1.0.0.0)", or nothing when the file has no version resource.
std::wstring VersionSuffix(const std::wstring& path);

// The lines of `status` for a registered monitor.
void PrintState(const System& system, const MonitorState& state);

}  // namespace setup

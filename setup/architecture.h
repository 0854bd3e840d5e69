// The architecture this build of langmon-setup installs monitors for: the
// one it is built for, and the spooler environment of that architecture.
#pragma once

#include <windows.h>

namespace setup {

// "Windows x64" for the x86_64 build, "Windows NT x86" for the i686 one:
// the environment a spooler of that architecture loads monitors for.
const wchar_t* SpoolerEnvironment();
// "x86_64" or "i686", as the kits are named.
const wchar_t* KitArchitecture();
// IMAGE_FILE_MACHINE_AMD64 or IMAGE_FILE_MACHINE_I386.
WORD KitMachine();

// True when this 32-bit program runs on 64-bit Windows, whose spooler loads
// only 64-bit monitors.
bool RunsUnderWow64();

}  // namespace setup

// The architecture this build of langmon-setup installs monitors for: the
// one it is built for, and the spooler environment of that architecture;
// and whether this Windows can load such a monitor at all.
#pragma once

#include <windows.h>

#include <string>

namespace setup {

// "Windows x64" for the x86_64 build, "Windows NT x86" for the i686 one:
// the environment a spooler of that architecture loads monitors for.
const wchar_t* SpoolerEnvironment();
// "x86_64" or "i686", as the kits are named.
const wchar_t* KitArchitecture();
// IMAGE_FILE_MACHINE_AMD64 or IMAGE_FILE_MACHINE_I386.
WORD KitMachine();
// "x86_64 (64-bit)", "i686 (32-bit)", "ARM64", or "machine N".
std::wstring MachineName(WORD machine);

// Why a spooler on `nativeMachine` cannot load the monitor of a kit for
// `kitMachine`, run as a process of `processMachine` (as IsWow64Process2
// gives them: IMAGE_FILE_MACHINE_UNKNOWN when the process is not under
// WOW64); empty when it can.
std::wstring ArchitectureRefusal(WORD kitMachine, WORD processMachine, WORD nativeMachine);

// The refusal for this process on this Windows: IsWow64Process2 where
// Windows has it (10, version 1709 and later), else IsWow64Process.
std::wstring ThisWindowsRefusal();

}  // namespace setup

#include "architecture.h"

namespace setup {

namespace {

using IsWow64Process2Function = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);

// The machines of this process and of Windows. Without IsWow64Process2, a
// process under WOW64 is a 32-bit one on 64-bit x86 Windows (the only WOW64
// before it).
void ThisMachine(WORD& processMachine, WORD& nativeMachine) {
  processMachine = IMAGE_FILE_MACHINE_UNKNOWN;
  nativeMachine = KitMachine();
  const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  const auto isWow64Process2 = reinterpret_cast<IsWow64Process2Function>(
      reinterpret_cast<void*>(kernel32 ? GetProcAddress(kernel32, "IsWow64Process2") : nullptr));
  USHORT process = 0, native = 0;
  if (isWow64Process2 && isWow64Process2(GetCurrentProcess(), &process, &native)) {
    processMachine = process;
    nativeMachine = native;
    return;
  }
  BOOL wow64 = FALSE;
  if (IsWow64Process(GetCurrentProcess(), &wow64) && wow64) {
    processMachine = IMAGE_FILE_MACHINE_I386;
    nativeMachine = IMAGE_FILE_MACHINE_AMD64;
  }
}

}  // namespace

const wchar_t* SpoolerEnvironment() {
#if defined(__x86_64__) || defined(_M_X64)
  return L"Windows x64";
#else
  return L"Windows NT x86";
#endif
}

const wchar_t* KitArchitecture() {
#if defined(__x86_64__) || defined(_M_X64)
  return L"x86_64";
#else
  return L"i686";
#endif
}

WORD KitMachine() {
#if defined(__x86_64__) || defined(_M_X64)
  return IMAGE_FILE_MACHINE_AMD64;
#else
  return IMAGE_FILE_MACHINE_I386;
#endif
}

std::wstring MachineName(WORD machine) {
  if (machine == IMAGE_FILE_MACHINE_I386) return L"i686 (32-bit)";
  if (machine == IMAGE_FILE_MACHINE_AMD64) return L"x86_64 (64-bit)";
  if (machine == IMAGE_FILE_MACHINE_ARM64) return L"ARM64";
  return L"machine " + std::to_wstring(machine);
}

std::wstring ArchitectureRefusal(WORD kitMachine, WORD processMachine, WORD nativeMachine) {
  if (nativeMachine == kitMachine) return {};
  if (nativeMachine == IMAGE_FILE_MACHINE_ARM64)
    return L"this Windows runs on ARM64: its spooler loads only ARM64 monitors, and langmon "
           L"has no ARM64 kit; nothing was changed";
  if (kitMachine == IMAGE_FILE_MACHINE_I386 && processMachine == IMAGE_FILE_MACHINE_I386 &&
      nativeMachine == IMAGE_FILE_MACHINE_AMD64)
    return L"this is the i686 kit's langmon-setup, and this Windows is 64-bit: its spooler "
           L"loads only 64-bit monitors; use langmon-setup.exe of the x86_64 kit";
  return L"this Windows runs on " + MachineName(nativeMachine) +
         L", whose spooler cannot load the " + MachineName(kitMachine) + L" monitor of this kit";
}

std::wstring ThisWindowsRefusal() {
  WORD processMachine = IMAGE_FILE_MACHINE_UNKNOWN, nativeMachine = IMAGE_FILE_MACHINE_UNKNOWN;
  ThisMachine(processMachine, nativeMachine);
  return ArchitectureRefusal(KitMachine(), processMachine, nativeMachine);
}

}  // namespace setup

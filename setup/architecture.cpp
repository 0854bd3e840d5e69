#include "architecture.h"

namespace setup {

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

bool RunsUnderWow64() {
  BOOL wow64 = FALSE;
  return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

}  // namespace setup

#include "requests/requests.h"

namespace langmon {

BOOL WINAPI GetPrinterDataFromPort(HANDLE port, DWORD, LPWSTR, LPWSTR, DWORD, LPWSTR, DWORD,
                                   LPDWORD) {
  SetFlags(static_cast<PortEntry*>(port), PortActive);
  SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}

}  // namespace langmon

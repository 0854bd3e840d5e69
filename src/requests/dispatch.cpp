// The monitor's GetPrinterDataFromPort: what the printer driver asks of the
// port through the spooler. Control requests and the device ID go to the
// port monitor; the configuration and test page requests are served here,
// on parallel ports only, by talking PJL to the printer.
#include <cstring>

#include "config/config.h"
#include "pjl/pjl.h"
#include "port/port_ops.h"
#include "requests/requests.h"

namespace langmon {

namespace {

enum class Request { Unknown, GetConfig, SetConfig, TestPage };

struct NamedRequest {
  LPCWSTR Name;
  Request Kind;
};

constexpr NamedRequest kServedRequests[] = {
    {LM_W("GetConfigObjects"), Request::GetConfig},
    {LM_W("SetConfigObjects"), Request::SetConfig},
    {LM_W("PrintTestPage"), Request::TestPage},
};

constexpr WCHAR kGetDeviceId[] = LM_W("GetDeviceID");

Request RequestNamed(LPCWSTR valueName) {
  if (!valueName) return Request::Unknown;
  for (const NamedRequest& request : kServedRequests)
    if (lstrcmpiW(valueName, request.Name) == 0) return request.Kind;
  return Request::Unknown;
}

// The read time-out for the exchange: "dwTimeOut" in milliseconds, or the
// default when the key or the value cannot be read or the value is 0.
DWORD ReadTimeOut(const PortEntry* entry) {
  DWORD timeOut = 0;
  HKEY key = nullptr;
  if (OpenDriverDataKey(entry, &key)) {
    if (!ReadDriverDword(key, kTimeOutValueName, &timeOut)) timeOut = 0;
    RegCloseKey(key);
  }
  return timeOut != 0 ? timeOut : kDefaultReadTimeOut;
}

void SetExchangeTimeOuts(PortEntry* entry) {
  if (!entry->Monitor.pfnSetPortTimeOuts) return;
  const DWORD t = ReadTimeOut(entry);
  COMMTIMEOUTS timeOuts{};
  timeOuts.ReadIntervalTimeout = t;
  timeOuts.ReadTotalTimeoutMultiplier = 0;
  timeOuts.ReadTotalTimeoutConstant = t;
  timeOuts.WriteTotalTimeoutMultiplier = 0;
  timeOuts.WriteTotalTimeoutConstant = 0;
  entry->Monitor.pfnSetPortTimeOuts(entry->PortMonitorHandle, &timeOuts, 0);
}

// The record is built on the stack and copied out whole, so the driver's
// buffer need not be aligned for DWORDs.
void GetConfig(PortEntry* entry, LPWSTR outBuffer) {
  SetExchangeTimeOuts(entry);
  ConfigRecord record{};
  if (SendEchoProbe(entry))
    GetConfigFromPrinter(entry, &record);
  else
    GetConfigFromRegistry(entry, &record);
  std::memcpy(outBuffer, &record, sizeof record);
}

// "GetConfigObjects" and "SetConfigObjects", framed by the entry and exit
// texts. The exit text is written on every path, also after a failed entry.
BOOL ConfigRequest(PortEntry* entry, Request kind, LPWSTR outBuffer) {
  BOOL result = FALSE;
  if (WriteWhole(entry, kEntryText, kEntryTextLength, WriteCheck::ResultAndCount)) {
    if (kind == Request::SetConfig) {
      result = SendConfigToPrinter(entry);
    } else {
      GetConfig(entry, outBuffer);
      result = TRUE;
    }
  }
  WriteWhole(entry, kExitText, kExitTextLength, WriteCheck::ResultAndCount);
  return result;
}

BOOL ForwardToPortMonitor(PortEntry* entry, DWORD controlId, LPWSTR valueName, LPWSTR inBuffer,
                          DWORD cbInBuffer, LPWSTR outBuffer, DWORD cbOutBuffer,
                          LPDWORD cbReturned) {
  if (!entry->Monitor.pfnGetPrinterDataFromPort) return FALSE;
  return entry->Monitor.pfnGetPrinterDataFromPort(entry->PortMonitorHandle, controlId, valueName,
                                                  inBuffer, cbInBuffer, outBuffer, cbOutBuffer,
                                                  cbReturned);
}

BOOL Dispatch(PortEntry* entry, DWORD controlId, LPWSTR valueName, LPWSTR inBuffer,
              DWORD cbInBuffer, LPWSTR outBuffer, DWORD cbOutBuffer, LPDWORD cbReturned) {
  // Every request, a forwarded one too, lets the monitor's own writes and
  // reads reach the port until the next document ends.
  const DWORD flags = SetFlags(entry, PortActive);

  if (controlId != 0)
    return ForwardToPortMonitor(entry, controlId, valueName, inBuffer, cbInBuffer, outBuffer,
                                cbOutBuffer, cbReturned);
  if (valueName && lstrcmpiW(valueName, kGetDeviceId) == 0)
    return ForwardToPortMonitor(entry, IOCTL_PAR_QUERY_DEVICE_ID, valueName, inBuffer, cbInBuffer,
                                outBuffer, cbOutBuffer, cbReturned);
  if ((flags & ParallelPort) == 0) return FALSE;

  const Request kind = RequestNamed(valueName);
  switch (kind) {
    case Request::GetConfig:
      // The record is written whole: a buffer that cannot hold it is refused
      // before anything reaches the printer.
      if (!outBuffer || cbOutBuffer < kConfigRecordSize) return FALSE;
      return ConfigRequest(entry, kind, outBuffer);
    case Request::SetConfig:
      return ConfigRequest(entry, kind, outBuffer);
    case Request::TestPage:
      return RequestTestPage(entry);
    case Request::Unknown:
      break;
  }
  return FALSE;
}

}  // namespace

BOOL WINAPI GetPrinterDataFromPort(HANDLE port, DWORD controlId, LPWSTR valueName, LPWSTR inBuffer,
                                   DWORD cbInBuffer, LPWSTR outBuffer, DWORD cbOutBuffer,
                                   LPDWORD cbReturned) {
  BOOL result = FALSE;
  try {
    result = Dispatch(static_cast<PortEntry*>(port), controlId, valueName, inBuffer, cbInBuffer,
                      outBuffer, cbOutBuffer, cbReturned);
  } catch (...) {
    result = FALSE;
  }
  // The driver reads the last error only after FALSE; it is set on every
  // return all the same, also replacing whatever the port monitor left.
  SetLastError(ERROR_INVALID_PARAMETER);
  return result;
}

}  // namespace langmon

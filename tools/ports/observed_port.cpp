#include "observed_port.h"

namespace langmon::ports {

namespace {

struct ObservedHandle {
  ObservedPortMonitor* owner;
  HANDLE inner;
};

ObservedHandle* Of(HANDLE handle) { return static_cast<ObservedHandle*>(handle); }

// Every call after OpenPort finds its wrapper through the handle.
BOOL ObservedOpenPort(void* context, LPWSTR name, PHANDLE handle) {
  auto* owner = static_cast<ObservedPortMonitor*>(context);
  HANDLE inner = nullptr;
  const BOOL ok = owner->Inner().pfnOpenPort(name, &inner);
  if (!ok) owner->RecordFailure("OpenPort");
  const std::u16string_view portName = name ? std::u16string_view(name) : std::u16string_view();
  if (ok) {
    auto* wrapped = new (std::nothrow) ObservedHandle{owner, inner};
    if (!wrapped) {
      owner->Inner().pfnClosePort(inner);
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return FALSE;
    }
    *handle = wrapped;
  }
  const DWORD error = GetLastError();
  owner->Notify([&](PortObserver& o) { o.OnOpen(portName, ok); });
  SetLastError(error);
  return ok;
}

BOOL WINAPI ObservedStartDocPort(HANDLE handle, LPWSTR printer, DWORD jobId, DWORD level,
                                 LPBYTE docInfo) {
  ObservedHandle* h = Of(handle);
  const BOOL ok = h->owner->Inner().pfnStartDocPort(h->inner, printer, jobId, level, docInfo);
  const DWORD error = GetLastError();
  if (!ok) h->owner->RecordFailure("StartDocPort");
  h->owner->Notify([&](PortObserver& o) { o.OnStartDoc(jobId, ok); });
  SetLastError(error);
  return ok;
}

BOOL WINAPI ObservedWritePort(HANDLE handle, LPBYTE data, DWORD count, LPDWORD written) {
  ObservedHandle* h = Of(handle);
  DWORD done = 0;
  const BOOL ok = h->owner->Inner().pfnWritePort(h->inner, data, count, &done);
  const DWORD error = GetLastError();
  if (written) *written = done;
  if (!ok) h->owner->RecordFailure("WritePort");
  h->owner->Notify([&](PortObserver& o) { o.OnWrite(data, count, done, ok); });
  SetLastError(error);
  return ok;
}

BOOL WINAPI ObservedReadPort(HANDLE handle, LPBYTE buffer, DWORD size, LPDWORD read) {
  ObservedHandle* h = Of(handle);
  DWORD got = 0;
  const BOOL ok = h->owner->Inner().pfnReadPort(h->inner, buffer, size, &got);
  const DWORD error = GetLastError();
  if (read) *read = got;
  if (!ok) h->owner->RecordFailure("ReadPort");
  h->owner->Notify([&](PortObserver& o) { o.OnRead(buffer, ok ? got : 0, ok); });
  SetLastError(error);
  return ok;
}

BOOL WINAPI ObservedEndDocPort(HANDLE handle) {
  ObservedHandle* h = Of(handle);
  const BOOL ok = h->owner->Inner().pfnEndDocPort(h->inner);
  const DWORD error = GetLastError();
  // The monitor does not look at this result; the host does: a port monitor
  // that could not confirm the document fails the job.
  if (!ok) h->owner->RecordFailure("EndDocPort");
  h->owner->Notify([&](PortObserver& o) { o.OnEndDoc(); });
  SetLastError(error);
  return ok;
}

BOOL WINAPI ObservedClosePort(HANDLE handle) {
  ObservedHandle* h = Of(handle);
  ObservedPortMonitor* owner = h->owner;
  const BOOL ok = owner->Inner().pfnClosePort(h->inner);
  const DWORD error = GetLastError();
  delete h;
  owner->Notify([&](PortObserver& o) { o.OnClose(); });
  SetLastError(error);
  return ok;
}

BOOL WINAPI ObservedGetPrinterDataFromPort(HANDLE handle, DWORD controlId, LPWSTR valueName,
                                           LPWSTR inBuffer, DWORD cbInBuffer, LPWSTR outBuffer,
                                           DWORD cbOutBuffer, LPDWORD cbReturned) {
  ObservedHandle* h = Of(handle);
  DWORD returned = 0;
  const BOOL ok = h->owner->Inner().pfnGetPrinterDataFromPort(
      h->inner, controlId, valueName, inBuffer, cbInBuffer, outBuffer, cbOutBuffer, &returned);
  const DWORD error = GetLastError();
  if (cbReturned) *cbReturned = returned;
  if (!ok) h->owner->RecordFailure("GetPrinterDataFromPort");
  h->owner->Notify([&](PortObserver& o) { o.OnPrinterData(controlId, ok, returned); });
  SetLastError(error);
  return ok;
}

BOOL WINAPI ObservedSetPortTimeOuts(HANDLE handle, LPCOMMTIMEOUTS timeouts, DWORD reserved) {
  ObservedHandle* h = Of(handle);
  const BOOL ok = h->owner->Inner().pfnSetPortTimeOuts(h->inner, timeouts, reserved);
  const DWORD error = GetLastError();
  if (!ok) h->owner->RecordFailure("SetPortTimeOuts");
  if (timeouts) h->owner->Notify([&](PortObserver& o) { o.OnTimeouts(*timeouts); });
  SetLastError(error);
  return ok;
}

// The wrapper's entry points for the slots the inner table fills; a slot it
// leaves null stays null.
portmonitor::PortOperations Mirror(const MONITOR& inner) {
  const auto pick = [](auto innerSlot, auto wrapper) { return innerSlot ? wrapper : nullptr; };
  return {
      .OpenPort = pick(inner.pfnOpenPort, &ObservedOpenPort),
      .StartDocPort = pick(inner.pfnStartDocPort, &ObservedStartDocPort),
      .WritePort = pick(inner.pfnWritePort, &ObservedWritePort),
      .ReadPort = pick(inner.pfnReadPort, &ObservedReadPort),
      .EndDocPort = pick(inner.pfnEndDocPort, &ObservedEndDocPort),
      .ClosePort = pick(inner.pfnClosePort, &ObservedClosePort),
      .GetPrinterDataFromPort =
          pick(inner.pfnGetPrinterDataFromPort, &ObservedGetPrinterDataFromPort),
      .SetPortTimeOuts = pick(inner.pfnSetPortTimeOuts, &ObservedSetPortTimeOuts),
  };
}

}  // namespace

ObservedPortMonitor::ObservedPortMonitor(const MONITOR& inner,
                                         std::function<std::string()> lastMessage)
    : inner_(inner), lastMessage_(std::move(lastMessage)), table_(Mirror(inner), this) {}

void ObservedPortMonitor::AddObserver(PortObserver* observer) {
  std::lock_guard<std::mutex> guard(mutex_);
  observers_.push_back(observer);
}

bool ObservedPortMonitor::HasFailure() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return failed_;
}

PortFailure ObservedPortMonitor::FirstFailure() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return failure_;
}

void ObservedPortMonitor::ResetFailure() {
  std::lock_guard<std::mutex> guard(mutex_);
  failed_ = false;
  failure_ = {};
}

void ObservedPortMonitor::RecordFailure(std::string_view operation) {
  const DWORD error = GetLastError();
  try {
    std::string message = lastMessage_ ? lastMessage_() : std::string();
    {
      std::lock_guard<std::mutex> guard(mutex_);
      if (!failed_) {
        failed_ = true;
        failure_ = {std::string(operation), error, message};
      }
    }
    Notify([&](PortObserver& o) { o.OnFailure(operation, error, message); });
  } catch (...) {
  }
  SetLastError(error);
}

}  // namespace langmon::ports

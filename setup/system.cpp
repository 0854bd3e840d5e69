#include "system.h"

#include <tlhelp32.h>

#include "files.h"

namespace setup {

namespace {

constexpr wchar_t kSpoolerService[] = L"Spooler";
// The spooler stops and starts within seconds; a minute is ten times more
// than it takes on a loaded server.
constexpr DWORD kServiceWaitMs = 60 * 1000;
constexpr DWORD kPollMs = 250;
// A module snapshot fails with ERROR_BAD_LENGTH while the process loads or
// unloads a module; asking again is what Microsoft advises.
constexpr int kSnapshotAttempts = 5;

class ServiceHandle {
 public:
  explicit ServiceHandle(SC_HANDLE handle = nullptr) : handle_(handle) {}
  ~ServiceHandle() {
    if (handle_) CloseServiceHandle(handle_);
  }
  ServiceHandle(const ServiceHandle&) = delete;
  ServiceHandle& operator=(const ServiceHandle&) = delete;
  void reset(SC_HANDLE handle) {
    if (handle_) CloseServiceHandle(handle_);
    handle_ = handle;
  }
  SC_HANDLE get() const { return handle_; }

 private:
  SC_HANDLE handle_;
};

struct Spooler {
  ServiceHandle manager, service;
};

bool OpenSpooler(DWORD access, Spooler& spooler, Win32Failure& failure) {
  spooler.manager.reset(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!spooler.manager.get()) return Fail(failure, L"OpenSCManagerW");
  spooler.service.reset(OpenServiceW(spooler.manager.get(), kSpoolerService, access));
  if (!spooler.service.get()) return Fail(failure, L"OpenServiceW Spooler");
  return true;
}

bool QueryStatus(SC_HANDLE service, SERVICE_STATUS_PROCESS& status, Win32Failure& failure) {
  DWORD needed = 0;
  if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<LPBYTE>(&status),
                            sizeof status, &needed))
    return Fail(failure, L"QueryServiceStatusEx Spooler");
  return true;
}

// Polls until the service is in `wanted`; ERROR_SERVICE_REQUEST_TIMEOUT
// after kServiceWaitMs.
bool WaitForState(SC_HANDLE service, DWORD wanted, const wchar_t* what, Win32Failure& failure) {
  const ULONGLONG deadline = GetTickCount64() + kServiceWaitMs;
  for (;;) {
    SERVICE_STATUS_PROCESS status{};
    if (!QueryStatus(service, status, failure)) return false;
    if (status.dwCurrentState == wanted) return true;
    if (wanted == SERVICE_RUNNING && status.dwCurrentState == SERVICE_STOPPED) {
      SetLastError(status.dwWin32ExitCode ? status.dwWin32ExitCode : ERROR_SERVICE_NOT_ACTIVE);
      return Fail(failure, what);
    }
    if (GetTickCount64() >= deadline) {
      SetLastError(ERROR_SERVICE_REQUEST_TIMEOUT);
      return Fail(failure, what);
    }
    Sleep(kPollMs);
  }
}

bool QuerySpooler(ServiceState& state, Win32Failure& failure) {
  Spooler spooler;
  SERVICE_STATUS_PROCESS status{};
  if (!OpenSpooler(SERVICE_QUERY_STATUS, spooler, failure) ||
      !QueryStatus(spooler.service.get(), status, failure))
    return false;
  state.running = status.dwCurrentState == SERVICE_RUNNING;
  state.processId = state.running ? status.dwProcessId : 0;
  return true;
}

bool StopSpooler(Win32Failure& failure) {
  Spooler spooler;
  if (!OpenSpooler(SERVICE_STOP | SERVICE_QUERY_STATUS, spooler, failure)) return false;
  SERVICE_STATUS status{};
  if (!ControlService(spooler.service.get(), SERVICE_CONTROL_STOP, &status) &&
      GetLastError() != ERROR_SERVICE_NOT_ACTIVE)
    return Fail(failure, L"ControlService Spooler (stop)");
  return WaitForState(spooler.service.get(), SERVICE_STOPPED, L"stopping the Spooler service",
                      failure);
}

bool StartSpooler(Win32Failure& failure) {
  Spooler spooler;
  if (!OpenSpooler(SERVICE_START | SERVICE_QUERY_STATUS, spooler, failure)) return false;
  if (!StartServiceW(spooler.service.get(), 0, nullptr) &&
      GetLastError() != ERROR_SERVICE_ALREADY_RUNNING)
    return Fail(failure, L"StartServiceW Spooler");
  return WaitForState(spooler.service.get(), SERVICE_RUNNING, L"starting the Spooler service",
                      failure);
}

HANDLE ModuleSnapshot(DWORD processId) {
  HANDLE snapshot = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < kSnapshotAttempts; ++attempt) {
    snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, processId);
    if (snapshot != INVALID_HANDLE_VALUE || GetLastError() != ERROR_BAD_LENGTH) break;
  }
  return snapshot;
}

}  // namespace

const System kWindowsSystem = {ListMonitors, QuerySpooler, StopSpooler, StartSpooler};

bool ProcessHasLoaded(DWORD processId, const std::wstring& path, bool& loaded,
                      Win32Failure& failure) {
  loaded = false;
  HANDLE snapshot = ModuleSnapshot(processId);
  if (snapshot == INVALID_HANDLE_VALUE)
    return Fail(failure, L"CreateToolhelp32Snapshot of process " + std::to_wstring(processId));
  MODULEENTRY32W module{};
  module.dwSize = sizeof module;
  for (BOOL more = Module32FirstW(snapshot, &module); more && !loaded;
       more = Module32NextW(snapshot, &module))
    loaded = SamePath(module.szExePath, path);
  CloseHandle(snapshot);
  return true;
}

}  // namespace setup

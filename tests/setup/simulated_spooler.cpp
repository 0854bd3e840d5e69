#include "simulated_spooler.h"

#include <cstdio>
#include <string>

#include "files.h"
#include "replace.h"

namespace setup_test {

namespace {

using setup::Fail;
using setup::JoinPath;
using setup::Win32Failure;

// Loading a monitor takes the helper well under a second; a stop or a start
// that takes thirty is a hung helper.
constexpr DWORD kWaitMs = 30 * 1000;

bool StateFolder(std::wstring& folder) {
  wchar_t text[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableW(L"LANGMON_TEST_SPOOLER", text, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;
  folder.assign(text, length);
  return true;
}

std::wstring PidFile(const std::wstring& folder) { return JoinPath(folder, L"pid"); }

DWORD ReadPid(const std::wstring& folder) {
  FILE* file = _wfopen(PidFile(folder).c_str(), L"r");
  if (!file) return 0;
  unsigned long pid = 0;
  if (std::fscanf(file, "%lu", &pid) != 1) pid = 0;
  std::fclose(file);
  return static_cast<DWORD>(pid);
}

bool WritePid(const std::wstring& folder, DWORD pid, Win32Failure& failure) {
  FILE* file = _wfopen(PidFile(folder).c_str(), L"w");
  if (!file) return Fail(failure, L"writing " + PidFile(folder));
  std::fprintf(file, "%lu\n", static_cast<unsigned long>(pid));
  std::fclose(file);
  return true;
}

// The helper's process while it runs; null when it does not.
HANDLE OpenRunning(const std::wstring& folder, DWORD access) {
  const DWORD pid = ReadPid(folder);
  HANDLE process = pid ? OpenProcess(access | SYNCHRONIZE, FALSE, pid) : nullptr;
  if (process && WaitForSingleObject(process, 0) != WAIT_TIMEOUT) {
    CloseHandle(process);
    process = nullptr;
  }
  return process;
}

std::wstring HelperPath() {
  std::wstring folder;
  Win32Failure ignored;
  setup::ProgramDirectory(folder, ignored);
  return JoinPath(folder, L"setup_test_helper.exe");
}

// Until the helper has loaded the monitor (it sets the event it inherits),
// or has ended without, or hangs.
bool WaitUntilReady(HANDLE ready, HANDLE process, Win32Failure& failure) {
  HANDLE both[] = {ready, process};
  const DWORD woken = WaitForMultipleObjects(2, both, FALSE, kWaitMs);
  if (woken == WAIT_OBJECT_0) return true;
  SetLastError(woken == WAIT_OBJECT_0 + 1 ? ERROR_SERVICE_SPECIFIC_ERROR
                                          : ERROR_SERVICE_REQUEST_TIMEOUT);
  return Fail(failure, L"StartServiceW Spooler (setup_test_helper serve)");
}

bool Launch(const std::wstring& folder, Win32Failure& failure) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE ready = CreateEventW(&inherit, TRUE, FALSE, nullptr);
  if (!ready) return Fail(failure, L"CreateEventW");
  std::wstring line =
      L"\"" + HelperPath() + L"\" serve " + std::to_wstring(reinterpret_cast<UINT_PTR>(ready));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  bool ok = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                           &startup, &process);
  if (!ok) Fail(failure, L"CreateProcessW " + line);
  if (ok) {
    ok = WaitUntilReady(ready, process.hProcess, failure) &&
         WritePid(folder, process.dwProcessId, failure);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(ready);
  return ok;
}

}  // namespace

bool QuerySimulatedSpooler(setup::ServiceState& state, Win32Failure&) {
  state = {};
  std::wstring folder;
  if (!StateFolder(folder)) return true;
  HANDLE process = OpenRunning(folder, PROCESS_QUERY_LIMITED_INFORMATION);
  if (!process) return true;
  state.running = true;
  state.processId = GetProcessId(process);
  CloseHandle(process);
  return true;
}

bool StopSimulatedSpooler(Win32Failure& failure) {
  std::wstring folder;
  if (!StateFolder(folder)) return true;
  if (setup::FileExists(JoinPath(folder, L"cannot-stop"))) {
    SetLastError(ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
    return Fail(failure, L"ControlService Spooler (stop)");
  }
  HANDLE process = OpenRunning(folder, PROCESS_TERMINATE);
  if (!process) return true;
  const bool stopped =
      TerminateProcess(process, 0) && WaitForSingleObject(process, kWaitMs) == WAIT_OBJECT_0;
  if (!stopped) Fail(failure, L"stopping the helper");
  CloseHandle(process);
  DeleteFileW(PidFile(folder).c_str());
  return stopped;
}

bool StartSimulatedSpooler(Win32Failure& failure) {
  std::wstring folder;
  if (!StateFolder(folder)) {
    SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
    return Fail(failure, L"OpenServiceW Spooler");
  }
  HANDLE process = OpenRunning(folder, 0);
  if (process) {
    CloseHandle(process);
    return true;
  }
  return Launch(folder, failure);
}

bool ListPortMonitorsOnly(std::vector<setup::InstalledMonitor>& monitors, Win32Failure& failure) {
  if (!setup::ListMonitors(monitors, failure)) return false;
  std::erase_if(monitors, [](const setup::InstalledMonitor& m) {
    return !setup::SamePath(setup::FileNameOf(m.dll), L"localspl.dll");
  });
  return true;
}

const setup::System kAsOnWindows = {ListPortMonitorsOnly, QuerySimulatedSpooler,
                                    StopSimulatedSpooler, StartSimulatedSpooler};

}  // namespace setup_test

// What the spooler tests need beside langmon-setup (spooler_test.sh):
//
//   setup_test_helper serve EVENT   the simulated spooler's process
//                                   (simulated_spooler.h): loads the
//                                   monitor's DLL as the spooler does, sets
//                                   the inherited EVENT, holds the DLL until
//                                   stopped (two minutes at most)
//   setup_test_helper start | stop  starts or stops that "service"
//   setup_test_helper pending       the renames scheduled for the next
//                                   restart, one "FROM -> TO" a line
//   setup_test_helper forget-pending TEXT
//                                   drops the scheduled renames whose FROM
//                                   holds TEXT (letter case ignored)
//
// The service's folder is LANGMON_TEST_SPOOLER, as for the tests'
// langmon-setup. Exit status 0 done, 1 failed, 2 wrong command line.
#include <windows.h>

#include <cwchar>
#include <cwctype>
#include <string>
#include <vector>

#include "files.h"
#include "registration.h"
#include "report.h"
#include "simulated_spooler.h"

namespace {

using setup::PrintLine;
using setup::Win32Failure;

constexpr DWORD kServeMs = 2 * 60 * 1000;
constexpr wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kPending[] = L"PendingFileRenameOperations";

using InitializePrintMonitorFunction = void*(WINAPI*)(LPWSTR);

std::wstring ReadMonitorName() {
  wchar_t folder[MAX_PATH] = {};
  GetEnvironmentVariableW(L"LANGMON_TEST_SPOOLER", folder, MAX_PATH);
  HANDLE file = CreateFileW(setup::JoinPath(folder, L"monitor").c_str(), GENERIC_READ,
                            FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  char text[256] = {};
  DWORD got = 0;
  if (file != INVALID_HANDLE_VALUE) ReadFile(file, text, sizeof text - 1, &got, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  std::wstring name;
  for (DWORD i = 0; i < got && text[i] != '\r' && text[i] != '\n'; ++i) name += text[i];
  return name;
}

// As the spooler loads a monitor when it starts: the DLL its registration
// names, from the system folder; a DLL whose InitializePrintMonitor gives no
// table is unloaded again, and the spooler runs on without it.
void LoadMonitor() {
  const std::wstring name = ReadMonitorName();
  bool found = false;
  setup::Registration registration;
  Win32Failure failure;
  if (!setup::ReadRegistration(name, found, registration, failure) || !found) return;
  std::wstring folder;
  if (!setup::SystemDirectory(folder, failure)) return;
  HMODULE dll = LoadLibraryW(setup::JoinPath(folder, registration.driver).c_str());
  if (!dll) return;
  const auto initialize = reinterpret_cast<InitializePrintMonitorFunction>(
      reinterpret_cast<void*>(GetProcAddress(dll, "InitializePrintMonitor")));
  std::wstring root = std::wstring(setup::kMonitorsKey) + L"\\" + name;
  if (!initialize || !initialize(root.data())) FreeLibrary(dll);
}

int Serve(const std::wstring& event) {
  LoadMonitor();
  SetEvent(reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(wcstoull(event.c_str(), nullptr, 10))));
  Sleep(kServeMs);
  return 0;
}

std::vector<std::wstring> ReadPending() {
  std::vector<std::wstring> entries;
  std::vector<wchar_t> text(64 * 1024);
  DWORD bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  if (RegGetValueW(HKEY_LOCAL_MACHINE, kSessionManager, kPending, RRF_RT_REG_MULTI_SZ, nullptr,
                   text.data(), &bytes) != ERROR_SUCCESS)
    return entries;
  // Pairs FROM, TO (empty for a deletion), each ended by a null character,
  // where an empty TO is an empty string, so count, do not split at "\0\0".
  const std::size_t count = bytes / sizeof(wchar_t);
  for (std::size_t at = 0; at < count;) {
    const std::wstring entry(text.data() + at);
    entries.push_back(entry);
    at += entry.size() + 1;
  }
  if (entries.size() % 2) entries.pop_back();
  return entries;
}

int PrintPending() {
  const std::vector<std::wstring> entries = ReadPending();
  for (std::size_t i = 0; i + 1 < entries.size(); i += 2)
    PrintLine(entries[i] + L" -> " + entries[i + 1]);
  return 0;
}

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

int ForgetPending(const std::wstring& text) {
  const std::vector<std::wstring> entries = ReadPending();
  std::wstring kept;
  for (std::size_t i = 0; i + 1 < entries.size(); i += 2)
    if (Lower(entries[i]).find(Lower(text)) == std::wstring::npos)
      kept += entries[i] + L'\0' + entries[i + 1] + L'\0';
  kept += L'\0';
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
    return 1;
  const LSTATUS status =
      RegSetValueExW(key, kPending, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(kept.data()),
                     static_cast<DWORD>(kept.size() * sizeof(wchar_t)));
  RegCloseKey(key);
  return status == ERROR_SUCCESS ? 0 : 1;
}

int Service(bool start) {
  Win32Failure failure;
  if ((start ? setup_test::StartSimulatedSpooler : setup_test::StopSimulatedSpooler)(failure))
    return 0;
  setup::ReportFailure(failure);
  return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring command = argc > 1 ? argv[1] : L"";
  if (command == L"serve" && argc == 3) return Serve(argv[2]);
  if (command == L"start" || command == L"stop") return Service(command == L"start");
  if (command == L"pending") return PrintPending();
  if (command == L"forget-pending" && argc == 3) return ForgetPending(argv[2]);
  setup::PrintErrorLine(
      L"usage: setup_test_helper serve EVENT | start | stop | pending | "
      L"forget-pending TEXT");
  return 2;
}

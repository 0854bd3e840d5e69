#include "report.h"

#include <string>

namespace setup {

namespace {

constexpr DWORD kMessageCapacity = 512;
constexpr wchar_t kProgram[] = L"langmon-setup: ";

// To a console as UTF-16; to a file or pipe as UTF-8. Lines end in CR LF,
// as Windows programs write them.
void WriteLine(DWORD which, std::wstring_view text) {
  HANDLE out = GetStdHandle(which);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
  std::wstring line(text);
  line += L"\r\n";
  DWORD mode = 0, written = 0;
  if (GetConsoleMode(out, &mode)) {
    WriteConsoleW(out, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    return;
  }
  const int size = static_cast<int>(line.size());
  const int bytes =
      WideCharToMultiByte(CP_UTF8, 0, line.data(), size, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return;
  std::string utf8(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, line.data(), size, utf8.data(), bytes, nullptr, nullptr);
  WriteFile(out, utf8.data(), static_cast<DWORD>(bytes), &written, nullptr);
}

}  // namespace

bool Fail(Win32Failure& failure, std::wstring what) {
  failure.code = GetLastError();
  failure.what = std::move(what);
  return false;
}

std::wstring SystemMessage(DWORD code) {
  wchar_t text[kMessageCapacity] = {};
  const DWORD flags =
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK;
  DWORD length = FormatMessageW(flags, nullptr, code, 0, text, kMessageCapacity, nullptr);
  if (length == 0 || length >= kMessageCapacity) return L"(the system has no text for this code)";
  while (length > 0 && (text[length - 1] == L' ' || text[length - 1] == L'\r' ||
                        text[length - 1] == L'\n' || text[length - 1] == L'\t'))
    --length;
  return std::wstring(text, length);
}

std::wstring DescribeFailure(const Win32Failure& failure) {
  return failure.what + L" failed: error " + std::to_wstring(failure.code) + L": " +
         SystemMessage(failure.code);
}

std::wstring HintFor(DWORD code) {
  switch (code) {
    case ERROR_ACCESS_DENIED:
      return L"installing, upgrading and removing a monitor needs an administrator: run "
             L"langmon-setup from an elevated command prompt (right-click Command Prompt, \"Run "
             L"as administrator\")";
    case ERROR_PRIVILEGE_NOT_HELD:
      return L"the spooler adds and deletes monitors only for a caller with the \"Load and "
             L"unload device drivers\" privilege (SeLoadDriverPrivilege), which administrators "
             L"hold in an elevated command prompt (right-click Command Prompt, \"Run as "
             L"administrator\")";
    case ERROR_SHARING_VIOLATION:
    case ERROR_USER_MAPPED_FILE:
      return L"the file is in use, most likely loaded by the spooler: langmon-setup upgrade "
             L"replaces a loaded DLL";
    case ERROR_MOD_NOT_FOUND:
      return L"the spooler could not load the DLL from the system folder, or a DLL it needs";
    case ERROR_PROC_NOT_FOUND:
      return L"the spooler found no language monitor in the DLL: it exports no "
             L"InitializePrintMonitor, or that returned no table";
    case ERROR_BAD_EXE_FORMAT:
      return L"the DLL does not match the spooler's architecture: a 64-bit Windows loads only "
             L"the x86_64 kit's DLL";
    case ERROR_PRINT_MONITOR_IN_USE:
      return L"printers still use this monitor: give them a driver that does not name it, or "
             L"delete them, then remove the monitor";
    case RPC_S_SERVER_UNAVAILABLE:
      return L"the Print Spooler service is not running: start it (net start spooler)";
    default:
      return {};
  }
}

void PrintLine(std::wstring_view text) { WriteLine(STD_OUTPUT_HANDLE, text); }

void PrintErrorLine(std::wstring_view text) { WriteLine(STD_ERROR_HANDLE, text); }

void ReportError(std::wstring_view text) {
  PrintErrorLine(std::wstring(kProgram) + L"error: " + std::wstring(text));
}

void ReportFailure(const Win32Failure& failure) {
  ReportError(DescribeFailure(failure));
  const std::wstring hint = HintFor(failure.code);
  if (!hint.empty()) PrintErrorLine(std::wstring(kProgram) + L"hint: " + hint);
}

}  // namespace setup

// What langmon-setup tells its user: results on standard output, errors on
// standard error, every failed Windows call with its error code, the
// system's text for it and, where one helps, a hint.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace setup {

// A failed Windows call: what was called (with its subject) and the error.
struct Win32Failure {
  std::wstring what;  // e.g. L"AddMonitorW" or L"CopyFileW to C:\\Windows\\system32\\langmon.dll"
  DWORD code = 0;
};

// Records the thread's last error as the failure of `what`; returns false,
// so that a caller can `return Fail(failure, L"...")`.
bool Fail(Win32Failure& failure, std::wstring what);

// The system's text for an error code (FormatMessageW), on one line, or a
// note that there is none.
std::wstring SystemMessage(DWORD code);

// "WHAT failed: error CODE: TEXT".
std::wstring DescribeFailure(const Win32Failure& failure);

// Advice for an error code where the code alone does not say what to do;
// empty when there is none.
std::wstring HintFor(DWORD code);

void PrintLine(std::wstring_view text);       // standard output
void PrintErrorLine(std::wstring_view text);  // standard error, as it is

// "langmon-setup: error: ..." and, when there is one, "langmon-setup: hint: ...".
void ReportError(std::wstring_view text);
void ReportFailure(const Win32Failure& failure);

}  // namespace setup

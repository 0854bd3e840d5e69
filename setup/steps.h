// Steps that more than one command takes.
#pragma once

#include <string>

#include "arguments.h"
#include "exit_status.h"
#include "report.h"

namespace setup {

std::wstring Quoted(const std::wstring& name);  // "\"NAME\""

// Reports the failure; kFailed.
ExitStatus Failed(const Win32Failure& failure);

// The DLL to install as a full path: --dll, or langmon.dll beside this
// program. It must be a DLL of this kit's architecture.
ExitStatus SourceDll(const Options& options, std::wstring& source);

// The system folder's file of that name.
bool SystemFile(const std::wstring& fileName, std::wstring& path, Win32Failure& failure);

}  // namespace setup

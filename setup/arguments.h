// The command line of langmon-setup:
//
//   langmon-setup install [--name NAME] [--dll PATH] [--force]
//   langmon-setup remove [--name NAME]
//   langmon-setup status [--name NAME]
//   langmon-setup help | --help | --version
#pragma once

#include <string>
#include <vector>

namespace setup {

enum class Command { kInstall, kRemove, kStatus, kHelp, kVersion };

inline constexpr wchar_t kDefaultMonitorName[] = L"langmon";
inline constexpr wchar_t kDllFileName[] = L"langmon.dll";

struct Options {
  Command command = Command::kHelp;
  std::wstring name = kDefaultMonitorName;
  std::wstring dll;  // empty: langmon.dll beside langmon-setup.exe
  bool force = false;
};

struct ParsedArguments {
  bool ok = false;
  Options options;
  std::wstring error;  // what is wrong, when !ok
};

// Reads the arguments after the program name.
ParsedArguments ParseArguments(const std::vector<std::wstring>& args);

std::wstring UsageText();

}  // namespace setup

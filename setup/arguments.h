// The command line of langmon-setup:
//
//   langmon-setup install [--name NAME] [--dll PATH] [--force]
//   langmon-setup upgrade [--name NAME] [--dll PATH]
//   langmon-setup remove [--name NAME] [--purge]
//   langmon-setup status [--name NAME]
//   langmon-setup help | --help | --version
#pragma once

#include <string>
#include <vector>

namespace setup {

enum class Command { kInstall, kUpgrade, kRemove, kStatus, kHelp, kVersion };

inline constexpr wchar_t kDefaultMonitorName[] = L"langmon";
inline constexpr wchar_t kDllFileName[] = L"langmon.dll";
// A monitor's name is a registry key name, which holds at most 255
// characters.
inline constexpr std::size_t kMaxMonitorName = 255;

struct Options {
  Command command = Command::kHelp;
  std::wstring name = kDefaultMonitorName;
  std::wstring dll;  // empty: langmon.dll beside langmon-setup.exe
  bool force = false;
  bool purge = false;
};

struct ParsedArguments {
  bool ok = false;
  Options options;
  std::wstring error;  // what is wrong, when !ok
};

// Reads the arguments after the program name.
ParsedArguments ParseArguments(const std::vector<std::wstring>& args);

// Why `name` cannot name a monitor, or empty when it can.
std::wstring MonitorNameProblem(const std::wstring& name);

std::wstring UsageText();

}  // namespace setup

#include "arguments.h"

#include <string_view>

namespace setup {

namespace {

struct CommandRow {
  std::wstring_view word;
  Command command;
  bool takesName;
  bool takesDllAndForce;
};

constexpr CommandRow kCommands[] = {
    {L"install", Command::kInstall, true, true}, {L"remove", Command::kRemove, true, false},
    {L"status", Command::kStatus, true, false},  {L"help", Command::kHelp, false, false},
    {L"--help", Command::kHelp, false, false},   {L"-h", Command::kHelp, false, false},
    {L"/?", Command::kHelp, false, false},       {L"--version", Command::kVersion, false, false},
};

const CommandRow* FindCommand(std::wstring_view word) {
  for (const CommandRow& row : kCommands)
    if (row.word == word) return &row;
  return nullptr;
}

ParsedArguments Refuse(std::wstring error) {
  ParsedArguments result;
  result.error = std::move(error);
  return result;
}

// A monitor name becomes the name of a registry key under the spooler's
// Monitors key, so it cannot hold a backslash; it names nothing when empty.
bool ValidMonitorName(const std::wstring& name) {
  if (name.empty()) return false;
  for (wchar_t c : name)
    if (c == L'\\' || c < 0x20) return false;
  return true;
}

// Takes the value of --name or --dll, given as "--opt VALUE" or
// "--opt=VALUE"; false when there is none.
bool TakeValue(const std::vector<std::wstring>& args, std::size_t& i, std::wstring_view option,
               std::wstring& value) {
  const std::wstring& arg = args[i];
  if (arg.size() > option.size() && arg.compare(0, option.size(), option) == 0 &&
      arg[option.size()] == L'=') {
    value = arg.substr(option.size() + 1);
    return true;
  }
  if (i + 1 >= args.size()) return false;
  value = args[++i];
  return true;
}

}  // namespace

ParsedArguments ParseArguments(const std::vector<std::wstring>& args) {
  if (args.empty()) return Refuse(L"no command given");
  const CommandRow* row = FindCommand(args[0]);
  if (!row) return Refuse(L"unknown command \"" + args[0] + L"\"");
  ParsedArguments result;
  result.options.command = row->command;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::wstring& arg = args[i];
    const bool isName = arg == L"--name" || arg.starts_with(L"--name=");
    const bool isDll = arg == L"--dll" || arg.starts_with(L"--dll=");
    if ((isName && !row->takesName) || ((isDll || arg == L"--force") && !row->takesDllAndForce))
      return Refuse(std::wstring(row->word) + L" does not take " + arg.substr(0, arg.find(L'=')));
    if (isName) {
      if (!TakeValue(args, i, L"--name", result.options.name))
        return Refuse(L"--name needs a NAME");
      if (!ValidMonitorName(result.options.name))
        return Refuse(L"\"" + result.options.name +
                      L"\" cannot name a monitor: it must not be empty or hold a backslash");
    } else if (isDll) {
      if (!TakeValue(args, i, L"--dll", result.options.dll) || result.options.dll.empty())
        return Refuse(L"--dll needs a PATH");
    } else if (arg == L"--force") {
      result.options.force = true;
    } else {
      return Refuse(L"unexpected argument \"" + arg + L"\"");
    }
  }
  result.ok = true;
  return result;
}

std::wstring UsageText() {
  return LR"(Usage:
  langmon-setup install [--name NAME] [--dll PATH] [--force]
      Copies the DLL (langmon.dll beside this program, or PATH) into the
      system folder unless the same file is there already, and registers it
      with the print spooler as language monitor NAME (default "langmon").
      A different file of the same name in the system folder is replaced
      only with --force.
  langmon-setup remove [--name NAME]
      Removes the monitor from the spooler. The DLL stays in the system
      folder.
  langmon-setup status [--name NAME]
      Says whether the monitor is installed, with its DLL and file version.
  langmon-setup --version

Exit status: 0 done, 1 failed (the error says why), 2 wrong command
line, 3 already installed (install), 4 not installed (remove, status),
5 a different file of the DLL's name is in the system folder (install
without --force).
Installing and removing need an elevated command prompt.
)";
}

}  // namespace setup

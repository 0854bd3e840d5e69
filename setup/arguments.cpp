#include "arguments.h"

#include <string_view>

namespace setup {

namespace {

// The options a command takes, as bits.
enum : unsigned { kName = 1, kDll = 2, kForce = 4, kPurge = 8 };

struct CommandRow {
  std::wstring_view word;
  Command command;
  unsigned options;
};

constexpr CommandRow kCommands[] = {
    {L"install", Command::kInstall, kName | kDll | kForce},
    {L"upgrade", Command::kUpgrade, kName | kDll},
    {L"remove", Command::kRemove, kName | kPurge},
    {L"status", Command::kStatus, kName},
    {L"help", Command::kHelp, 0},
    {L"--help", Command::kHelp, 0},
    {L"-h", Command::kHelp, 0},
    {L"/?", Command::kHelp, 0},
    {L"--version", Command::kVersion, 0},
};

struct OptionRow {
  std::wstring_view word;
  unsigned bit;
  bool takesValue;
};

constexpr OptionRow kOptions[] = {
    {L"--name", kName, true},
    {L"--dll", kDll, true},
    {L"--force", kForce, false},
    {L"--purge", kPurge, false},
};

// Characters a monitor name cannot hold, besides control characters: the
// backslash separates registry keys; in a driver's INF the comma ends the
// name in "LanguageMonitor=NAME,DLL", the double quote ends a quoted string,
// the percent sign starts a string key and the semicolon a comment.
constexpr std::wstring_view kRefusedInName = L"\\,\"%;";

const CommandRow* FindCommand(std::wstring_view word) {
  for (const CommandRow& row : kCommands)
    if (row.word == word) return &row;
  return nullptr;
}

// The option `arg` spells, as "--opt" or "--opt=VALUE" for those with a
// value.
const OptionRow* FindOption(std::wstring_view arg) {
  for (const OptionRow& row : kOptions) {
    if (arg == row.word) return &row;
    if (row.takesValue && arg.size() > row.word.size() && arg.starts_with(row.word) &&
        arg[row.word.size()] == L'=')
      return &row;
  }
  return nullptr;
}

ParsedArguments Refuse(std::wstring error) {
  ParsedArguments result;
  result.error = std::move(error);
  return result;
}

// Takes the value of an option given as "--opt VALUE" or "--opt=VALUE";
// false when there is none.
bool TakeValue(const std::vector<std::wstring>& args, std::size_t& i, const OptionRow& option,
               std::wstring& value) {
  const std::wstring& arg = args[i];
  if (arg.size() > option.word.size()) {
    value = arg.substr(option.word.size() + 1);
    return true;
  }
  if (i + 1 >= args.size()) return false;
  value = args[++i];
  return true;
}

// Stores one option's value; the text of what is wrong with it, or empty.
std::wstring Store(const OptionRow& option, const std::wstring& value, Options& options) {
  switch (option.bit) {
    case kName:
      options.name = value;
      if (std::wstring problem = MonitorNameProblem(value); !problem.empty())
        return L"\"" + value + L"\" cannot name a monitor: " + problem;
      return {};
    case kDll:
      options.dll = value;
      return value.empty() ? L"--dll needs a PATH" : L"";
    case kForce:
      options.force = true;
      return {};
    default:
      options.purge = true;
      return {};
  }
}

}  // namespace

std::wstring MonitorNameProblem(const std::wstring& name) {
  if (name.empty()) return L"it must not be empty";
  if (name.size() > kMaxMonitorName) return L"it is longer than 255 characters";
  if (name.front() == L' ' || name.back() == L' ') return L"it must not begin or end with a space";
  for (wchar_t c : name) {
    if (c < 0x20 || c == 0x7F) return L"it must not hold a control character";
    if (kRefusedInName.find(c) != std::wstring_view::npos)
      return L"it must not hold '" + std::wstring(1, c) + L"'" +
             L" (no backslash, comma, double quote, percent sign or semicolon)";
  }
  return {};
}

ParsedArguments ParseArguments(const std::vector<std::wstring>& args) {
  if (args.empty()) return Refuse(L"no command given");
  const CommandRow* row = FindCommand(args[0]);
  if (!row) return Refuse(L"unknown command \"" + args[0] + L"\"");
  ParsedArguments result;
  result.options.command = row->command;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const OptionRow* option = FindOption(args[i]);
    if (!option) return Refuse(L"unexpected argument \"" + args[i] + L"\"");
    if ((row->options & option->bit) == 0)
      return Refuse(std::wstring(row->word) + L" does not take " + std::wstring(option->word));
    std::wstring value;
    if (option->takesValue && !TakeValue(args, i, *option, value))
      return Refuse(std::wstring(option->word) +
                    (option->bit == kName ? L" needs a NAME" : L" needs a PATH"));
    if (std::wstring error = Store(*option, value, result.options); !error.empty())
      return Refuse(error);
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
      only with --force, and put back when the spooler refuses the new one.
      On a registration whose DLL is missing, install puts the DLL back.
  langmon-setup upgrade [--name NAME] [--dll PATH]
      Replaces the DLL of an installed monitor: stops the Print Spooler
      service (printing pauses), replaces the file, starts the spooler and
      checks that it loaded the new DLL; puts the old one back when
      anything fails. When the spooler cannot be stopped, the file is
      replaced when Windows restarts.
  langmon-setup remove [--name NAME] [--purge]
      Removes the monitor from the spooler. The DLL stays in the system
      folder unless --purge deletes it (when no other monitor names it; a
      DLL still in use is deleted when Windows restarts).
  langmon-setup status [--name NAME]
      Says whether the monitor is installed, with its DLL and file version,
      or registered but broken, or not installed.
  langmon-setup --version

Exit status: 0 done, 1 failed (the error says why), 2 wrong command
line, 3 already installed (install), 4 not installed (upgrade, remove,
status), 5 a different file of the DLL's name is in the system folder
(install without --force), 6 registered, but its DLL is missing or no
monitor of this architecture (status), 7 done, but a file is replaced or
deleted only when Windows restarts (upgrade, remove --purge).
Installing, upgrading and removing need an elevated command prompt.
)";
}

}  // namespace setup

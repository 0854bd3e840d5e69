// What cmake --install delivers: the two programs, working from the prefix,
// their manual pages and bash completion, and whether the pages and the
// completion know every command and option the programs take.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <regex>
#include <set>

#include "build_paths.h"
#include "langmon_version.h"
#include "process.h"

namespace langmon::host::testing {
namespace {

const std::string kCli = build_paths::kCli;
const std::string kPrinter = build_paths::kPrinter;
const std::string kBuildDir = build_paths::kBuildDir;
const std::string kCompletion = build_paths::kCompletion;
const std::vector<std::string> kCommands = {"config",   "apply",     "set",   "settings",
                                            "testpage", "device-id", "print", "audit"};

// Run, under a name a test body does not hide.
ProcessResult Start(const std::vector<std::string>& args) { return Run(args); }

bool IsFile(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

TEST(Install, PutsWorkingProgramsManPagesAndCompletionIntoThePrefix) {
  const std::string prefix = TempPath("prefix");
  const ProcessResult install =
      Start({build_paths::kCmake, "--install", kBuildDir, "--prefix", prefix});
  ASSERT_EQ(install.status, 0) << install.out << install.err;

  const ProcessResult version = Start({prefix + "/bin/langmon", "--version"});
  EXPECT_EQ(version.out, "langmon " LANGMON_VERSION "\n");
  const ProcessResult config = Start({prefix + "/bin/langmon", "config", "--json"});
  EXPECT_EQ(config.status, 0) << config.err;
  EXPECT_NE(config.out.find("\"complete\": true"), std::string::npos) << config.out;
  const ProcessResult printer = Start({prefix + "/bin/langmon-printer", "--help"});
  EXPECT_EQ(printer.status, 0) << printer.err;
  EXPECT_NE(printer.out.find("--objects"), std::string::npos) << printer.out;

  for (const char* page : {"langmon", "langmon-printer"}) {
    SCOPED_TRACE(page);
    const std::string text = ReadFile(prefix + "/share/man/man1/" + page + ".1");
    EXPECT_EQ(text.find(".TH "), 0u);
    EXPECT_NE(text.find("\"langmon " LANGMON_VERSION "\""), std::string::npos);
    EXPECT_TRUE(IsFile(prefix + "/share/bash-completion/completions/" + page));
  }
}

// The options a program's --help lists: "--name" and "-x".
std::set<std::string> HelpOptions(std::vector<std::string> args) {
  args.push_back("--help");
  const ProcessResult help = Start(args);
  EXPECT_EQ(help.status, 0) << help.err;
  static const std::regex option(R"(^\s+(?:(-\w),)?(--[\w-]+))");
  std::set<std::string> options;
  std::istringstream lines(help.out);
  for (std::string line; std::getline(lines, line);) {
    std::smatch m;
    if (!std::regex_search(line, m, option)) continue;
    if (m[1].matched) options.insert(m[1]);
    options.insert(m[2]);
  }
  EXPECT_FALSE(options.empty()) << help.out;
  return options;
}

// Every option of the program and of each command, as the page writes it
// ("\-\-json").
TEST(ManPages, DocumentEveryCommandAndOption) {
  const struct {
    std::string program;
    std::vector<std::string> commands;
  } programs[] = {{kCli, kCommands}, {kPrinter, {}}};
  for (const auto& p : programs) {
    const std::string name = p.program.substr(p.program.rfind('/') + 1);
    SCOPED_TRACE(name);
    const std::string page = ReadFile(kBuildDir + "/man/" + name + ".1");
    std::set<std::string> options = HelpOptions({p.program});
    for (const std::string& command : p.commands) {
      EXPECT_NE(page.find("\n.B " + command + "\n") + page.find("\n.BI " + command + " "),
                2 * std::string::npos)
          << command;
      options.merge(HelpOptions({p.program, command}));
    }
    for (const std::string& option : options)
      EXPECT_NE(page.find(std::regex_replace(option, std::regex("-"), "\\-")), std::string::npos)
          << option;
  }
}

TEST(ManPages, RenderWithoutWarnings) {
  if (!IsFile("/usr/bin/groff")) GTEST_SKIP() << "groff is not installed";
  for (const char* name : {"langmon", "langmon-printer"}) {
    const ProcessResult r =
        Start({"/usr/bin/groff", "-man", "-Tutf8", "-ww", "-z", kBuildDir + "/man/" + name + ".1"});
    EXPECT_EQ(r.status, 0) << name;
    EXPECT_EQ(r.err, "") << name;
  }
}

// What the completion offers for a command line whose last word is being
// typed.
std::set<std::string> Complete(const std::string& function, const std::vector<std::string>& words) {
  std::string script = "source '" + kCompletion + "'; COMP_WORDS=(";
  for (const std::string& w : words) script += "'" + w + "' ";
  script += "); COMP_CWORD=" + std::to_string(words.size() - 1) + "; " + function +
            "; printf '%s\\n' \"${COMPREPLY[@]}\"";
  const ProcessResult r = Start({"/bin/bash", "-c", script});
  EXPECT_EQ(r.status, 0) << r.err;
  std::set<std::string> offered;
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);)
    if (!line.empty()) offered.insert(line);
  return offered;
}

void ExpectOffers(const std::set<std::string>& offered, const std::set<std::string>& expected) {
  for (const std::string& e : expected) EXPECT_EQ(offered.count(e), 1u) << e;
}

TEST(Completion, OffersEveryCommandAndOption) {
  const std::set<std::string> global = HelpOptions({kCli});
  ExpectOffers(Complete("_langmon", {kCli, ""}), global);
  ExpectOffers(Complete("_langmon", {kCli, ""}), {kCommands.begin(), kCommands.end()});
  for (const std::string& command : kCommands) {
    SCOPED_TRACE(command);
    ExpectOffers(Complete("_langmon", {kCli, "--json", command, "-"}),
                 HelpOptions({kCli, command}));
    ExpectOffers(Complete("_langmon", {kCli, "--printer", "sim:", command, "-"}), global);
  }
  ExpectOffers(Complete("_langmon_printer", {kPrinter, "-"}), HelpOptions({kPrinter}));
}

TEST(Completion, OffersFileNamesWholeWhereAnOptionTakesAFile) {
  const std::string folder = TempPath("with blanks");
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  WriteFile(folder + "/a job.prn", "");
  const std::set<std::string> one = {folder + "/a job.prn"};
  EXPECT_EQ(Complete("_langmon", {kCli, "print", folder + "/a"}), one);
  EXPECT_EQ(Complete("_langmon", {kCli, "audit", folder + "/a"}), one);
  EXPECT_EQ(Complete("_langmon", {kCli, "--settings", folder + "/a"}), one);
  EXPECT_EQ(Complete("_langmon_printer", {kPrinter, "--objects", folder + "/a"}), one);
}

// Names go in any letter case and by their registry value name, as set
// takes them; after "=" come the values a setting accepts when they are few.
TEST(Completion, OffersSettingNamesInAnyCaseAndTheirValues) {
  const struct {
    std::string word;
    std::set<std::string> offered;
  } cases[] = {
      {"co", {"Copies="}},
      {"dwCo", {"dwCopies="}},
      {"DENS", {"Density="}},
      {"Density=", {"Density=4", "Density=5", "Density=6", "Density=7", "Density=8"}},
      {"smoothing=", {"smoothing=1", "smoothing=2"}},
      {"Copies=", {}},  // any 32-bit number: nothing to list
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.word);
    EXPECT_EQ(Complete("_langmon", {kCli, "set", c.word}), c.offered);
  }
}

TEST(Completion, OffersTheSettingsThatCanBeSent) {
  EXPECT_EQ(Complete("_langmon", {kCli, "set", "Re"}),
            (std::set<std::string>{
                "RePrint=", "Resolution=", "ResourceSave=", "ResSaveSizePCL=", "ResSaveSizePS="}));
  EXPECT_EQ(Complete("_langmon", {kCli, "set", "Copies=2", "I"}),
            (std::set<std::string>{"IObuffer=", "IObufSize="}));  // not InstalledMem
}

}  // namespace
}  // namespace langmon::host::testing

// langmon --settings run as a process: what a .reg file leaves out is told
// in one line, or line by line with --verbose, in the file:line format of
// the reader's errors.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "build_paths.h"
#include "process.h"

namespace langmon::host::testing {
namespace {

const std::string kCli = build_paths::kCli;
const std::string kPrinters = "System\\CurrentControlSet\\Control\\Print\\Printers\\";

// Sends the stored settings to a file: port; returns the run.
ProcessResult Apply(const std::string& settings, std::vector<std::string> extra = {}) {
  std::vector<std::string> argv = {kCli,     "apply",     "--settings",
                                   settings, "--printer", "file:" + TempPath("apply.prn")};
  argv.insert(argv.end(), extra.begin(), extra.end());
  return Run(argv);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end - start));
    start = end == std::string::npos ? text.size() : end + 1;
  }
  return lines;
}

std::string MixedFile() {
  const std::string path = TempPath("mixed.reg");
  WriteFile(path,
            "REGEDIT4\n\n"  // 1-2
            "[HKLM\\" +
                kPrinters + "langmon\\PrinterDriverData]\n" +  // 3
                "\"dwCfgFlags\"=dword:00000001\n"              // 4
                "\"dwCopies\"=dword:00000002\n"                // 5
                "\"dwShort\"=hex(4):05,00\n" +                 // 6
                "[HKEY_LOCAL_MACHINE\\" +
                kPrinters + "Other\\PrinterDriverData]\n" +  // 7
                "\"dwCopies\"=dword:00000009\n"              // 8
                "\"Model\"=\"x\"\n"                          // 9
                "[HKEY_CURRENT_USER\\Software\\Vendor]\n");  // 10
  return path;
}

TEST(CliRegFile, WhatIsLeftOutIsOneLineCountedByKind) {
  const std::string settings = MixedFile();
  const ProcessResult r = Apply(settings);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "SetConfigObjects: sent 1 setting to the printer: Copies\n");
  EXPECT_EQ(Lines(r.err),
            std::vector<std::string>{
                "langmon: warning: " + settings +
                ": left out 1 key of another printer (this run uses printer \"langmon\"; choose "
                "another with --printer-name), 1 other key, 1 dword of the wrong length; "
                "--verbose lists each line"});
}

TEST(CliRegFile, VerboseListsEachLineInLineOrderBeforeTheCount) {
  const std::string settings = MixedFile();
  const ProcessResult r = Apply(settings, {"--verbose"});
  EXPECT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> lines = Lines(r.err);
  ASSERT_EQ(lines.size(), 4u) << r.err;
  const std::string prefix = "langmon: warning: " + settings + ":";
  EXPECT_EQ(lines[0].rfind(prefix + "6: \"dwShort\" is a dword of 2 bytes", 0), 0u) << lines[0];
  EXPECT_EQ(lines[1].rfind(prefix + "7: settings for printer \"Other\" left out", 0), 0u)
      << lines[1];
  EXPECT_EQ(lines[2].rfind(prefix + "10: key [HKEY_CURRENT_USER\\Software\\Vendor]", 0), 0u)
      << lines[2];
  EXPECT_EQ(lines[3].rfind(prefix + " left out 1 key of another printer", 0), 0u) << lines[3];
  EXPECT_EQ(lines[3].find("--verbose"), std::string::npos) << lines[3];
}

TEST(CliRegFile, FaultsInContinuedValuesNameTheirOwnLine) {
  const std::string settings = TempPath("continued.reg");
  WriteFile(settings, "REGEDIT4\n[HKLM\\" + kPrinters +
                          "langmon\\PrinterDriverData]\n\"b\"=hex:01,\\\n  02,\\\n  0x\n");
  const ProcessResult r = Apply(settings);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "langmon: error: " + settings + ":5: bad byte \"0x\" in hex data\n");
}

}  // namespace
}  // namespace langmon::host::testing

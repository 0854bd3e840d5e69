// The print command as a process: its input is checked before the port
// opens, and an input that never comes is cut off by the time limit.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "process.h"

namespace langmon::host::testing {
namespace {

TEST(PrintCommand, AnInputThatCannotBePrintedIsRefusedBeforeThePortOpens) {
  // A file: port truncates its file when it opens: a refused input must
  // leave it as it was.
  const std::string keep = TempPath("keep.prn");
  const std::string folder = TempPath("folder");
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  const struct {
    std::string input;
    std::string message;
  } cases[] = {
      {folder, "cannot print " + folder + ": it is a folder"},
      {"/nonexistent.prn", "cannot open /nonexistent.prn: No such file or directory"},
      // Opens, but its first read fails.
      {"/proc/self/mem", "cannot read /proc/self/mem: Input/output error"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    WriteFile(keep, "keep me");
    const ProcessResult r = RunLangmon({"print", c.input, "--printer", "file:" + keep});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "langmon: error: " + c.message + "\n");
    EXPECT_EQ(ReadFile(keep), "keep me");
  }
  rmdir(folder.c_str());
}

TEST(PrintCommand, AnInputThatNeverComesIsCutOffAtTheTimeLimit) {
  // Opening a named pipe nobody writes to waits for ever; only the
  // watchdog ends it.
  const std::string fifo = TempPath("fifo");
  const std::string keep = TempPath("keep.prn");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  WriteFile(keep, "keep me");
  const ProcessResult r =
      RunLangmon({"print", fifo, "--printer", "file:" + keep, "--timeout", "1"});
  EXPECT_EQ(r.status, 4);
  EXPECT_EQ(r.err,
            "langmon: error: the time limit of 1 s (--timeout) ran out: stopped while still "
            "waiting\n");
  EXPECT_EQ(ReadFile(keep), "keep me");
  unlink(fifo.c_str());
}

}  // namespace
}  // namespace langmon::host::testing

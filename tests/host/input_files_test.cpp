// Every file the host programs read whole is bounded in size (refused with
// exit status 2 before it is read whole) and, under --timeout, in time; a
// folder is refused as a folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "build_paths.h"
#include "hang_limit.h"
#include "input_file.h"
#include "process.h"

namespace langmon::host::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using sim::InputResult;

using langmon::testing::kHangLimit;

// A program and its arguments, with FILE where the input goes.
struct Reader {
  std::vector<std::string> args;
  const char* kind;  // as the messages name it
};

const Reader kReaders[] = {
    {{build_paths::kCli, "config", "--printers", "FILE"}, "printers file"},
    {{build_paths::kCli, "config", "--settings", "FILE"}, ".reg file"},
    {{build_paths::kCli, "apply", "--printer", "sim:", "--printer", "sim:", "--settings", "FILE"},
     ".reg file"},
    {{build_paths::kCli, "config", "--printer", "sim:FILE"}, "objects file"},
    {{build_paths::kPrinter, "--port", "0", "--objects", "FILE"}, "objects file"},
};

ProcessResult RunReader(const Reader& reader, const std::string& file,
                        const std::vector<std::string>& extra = {}) {
  std::vector<std::string> args;
  for (const std::string& a : reader.args)
    args.push_back(a == "FILE" ? file : a == "sim:FILE" ? "sim:" + file : a);
  args.insert(args.end(), extra.begin(), extra.end());
  return Run(args, "", kHangLimit);
}

// /dev/zero never ends; a sparse file of a terabyte would take an hour to
// read. Both are refused at their limit, the file by its size alone.
TEST(InputFiles, AFileOverItsSizeLimitIsRefusedBeforeItIsReadWhole) {
  const std::string huge = TempPath("huge");
  const int fd = ::open(huge.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, off_t{1} << 40), 0);
  ::close(fd);
  for (const Reader& reader : kReaders)
    for (const std::string& file : {std::string("/dev/zero"), huge}) {
      SCOPED_TRACE(reader.args[1] + " " + file);
      const ProcessResult r = RunReader(reader, file);
      EXPECT_EQ(r.status, 2) << r.err;
      EXPECT_NE(r.err.find(file + ": larger than "), std::string::npos) << r.err;
      EXPECT_NE(r.err.find(std::string(", the size limit of the ") + reader.kind),
                std::string::npos)
          << r.err;
    }
  ::unlink(huge.c_str());
}

TEST(InputFiles, AFolderIsRefusedAsAFolder) {
  const std::string folder = TempPath("folder");
  ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
  for (const Reader& reader : kReaders) {
    SCOPED_TRACE(reader.args[1]);
    const ProcessResult r = RunReader(reader, folder);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find(folder + ": cannot read the " + reader.kind + ": it is a folder"),
              std::string::npos)
        << r.err;
  }
  ::rmdir(folder.c_str());
}

// A named pipe nobody writes to: the reading waits, and --timeout ends it,
// in a fleet's parent (which has no watchdog) as in a single run.
TEST(InputFiles, TheTimeLimitEndsTheWaitForAPipeThatNeverEnds) {
  const std::string fifo = TempPath("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (std::size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(kReaders[i].args[1] + " " + kReaders[i].args[2]);
    const auto start = Clock::now();
    const ProcessResult r = RunReader(kReaders[i], fifo, {"--timeout", "1"});
    EXPECT_EQ(r.status, 4) << r.err;
    EXPECT_NE(r.err.find("langmon: error: the time limit of 1 s (--timeout) ran out: stopped "
                         "while reading " +
                         fifo),
              std::string::npos)
        << r.err;
    EXPECT_GE(Clock::now() - start, 1s);
  }
  ::unlink(fifo.c_str());
}

// What a pipe gives is read up to the limit and no further.
TEST(InputFiles, APipeIsReadToItsEndWithinTheLimit) {
  const std::string fifo = TempPath("limit-fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const struct {
    std::size_t size;
    InputResult result;
  } cases[] = {{0, InputResult::Read}, {1000, InputResult::Read}, {1001, InputResult::Refused}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    // The writer opens once the reader has; the reader does not wait for it
    // to open, only for data.
    std::thread writer([&] {
      const int fd = ::open(fifo.c_str(), O_WRONLY);
      const std::string data(c.size, 'x');
      if (!data.empty()) {
        EXPECT_EQ(::write(fd, data.data(), data.size()), ssize_t(data.size()));
      }
      ::close(fd);
    });
    std::string bytes, error;
    const InputResult result =
        sim::ReadInputFile(fifo, {"test file", 1000, Clock::now() + kHangLimit}, bytes, error);
    writer.join();
    EXPECT_EQ(result, c.result) << error;
    EXPECT_EQ(bytes.size(), c.result == InputResult::Read ? c.size : 0u);
  }
  ::unlink(fifo.c_str());
}

// The apply of a fleet reads its stored settings once and shares them with
// its workers: a pipe, which can be read only once, reaches every printer.
TEST(InputFiles, AFleetReadsItsStoredSettingsOnce) {
  const std::string fifo = TempPath("settings-fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::thread writer([&] {
    const int fd = ::open(fifo.c_str(), O_WRONLY);
    const std::string text = ReadFile(std::string(build_paths::kExamples) + "/settings.reg");
    EXPECT_EQ(::write(fd, text.data(), text.size()), ssize_t(text.size()));
    ::close(fd);
  });
  const ProcessResult r = RunLangmon(
      {"apply", "--settings", fifo, "--printer", "sim:", "--printer", "sim:", "--timeout", "20"},
      "", kHangLimit);
  writer.join();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("langmon-1 (sim:): sent 5 settings"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("langmon-2 (sim:): sent 5 settings"), std::string::npos) << r.out;
  ::unlink(fifo.c_str());
}

}  // namespace
}  // namespace langmon::host::testing

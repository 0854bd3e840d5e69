// The port monitors' POSIX plumbing: whole writes, waits a signal does not
// cut short, Win32 codes from errno and in words, the last message.
#include "plumbing.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

#include "build_paths.h"

namespace langmon::ports {
namespace {

using namespace std::chrono_literals;

TEST(Plumbing, WriteAllWritesEveryByteThroughPartialWrites) {
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  const std::string data(1 << 20, 'x');  // far more than a pipe holds at once
  std::string read;
  std::thread reader([&] {
    char buffer[4096];
    for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) read.append(buffer, n);
  });
  EXPECT_TRUE(WriteAll(pipeFds[1], data));
  CloseFd(pipeFds[1]);
  reader.join();
  EXPECT_EQ(pipeFds[1], -1);
  EXPECT_EQ(read.size(), data.size());
  CloseFd(pipeFds[0]);
  CloseFd(pipeFds[0]);  // a closed descriptor stays closed
}

TEST(Plumbing, WriteAllThatCannotWriteFailsWithErrno) {
  errno = 0;
  EXPECT_FALSE(WriteAll(-1, "text"));
  EXPECT_EQ(errno, EBADF);
  EXPECT_TRUE(WriteAll(-1, ""));  // nothing to write
}

void Ignore(int) {}

// A signal that interrupts poll() (no SA_RESTART) does not end the wait
// before its time, and a descriptor that is ready ends it at once.
TEST(Plumbing, PollUntilWaitsOutASignalAndReturnsWhenReady) {
  struct sigaction action {};
  action.sa_handler = &Ignore;
  struct sigaction before {};
  ASSERT_EQ(::sigaction(SIGUSR1, &action, &before), 0);
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  const pthread_t waiter = ::pthread_self();
  std::thread signaller([waiter] {
    std::this_thread::sleep_for(50ms);
    ::pthread_kill(waiter, SIGUSR1);
  });
  const auto start = Clock::now();
  EXPECT_EQ(PollUntil(pipeFds[0], POLLIN, start + 300ms), 0);
  EXPECT_GE(Clock::now() - start, 300ms);
  signaller.join();
  ASSERT_EQ(::write(pipeFds[1], "x", 1), 1);
  EXPECT_EQ(PollUntil(pipeFds[0], POLLIN, Clock::time_point::max()), 1);
  ::sigaction(SIGUSR1, &before, nullptr);
  CloseFd(pipeFds[0]);
  CloseFd(pipeFds[1]);
}

TEST(Plumbing, TimesAreCappedByTheirDeadline) {
  const auto now = Clock::now();
  EXPECT_EQ(Within(now, 100, now + 1s), now + 100ms);
  EXPECT_EQ(Within(now, 5000, now + 1s), now + 1s);
  EXPECT_EQ(Within(now, 5, now - 1s), now - 1s);
  EXPECT_EQ(MillisecondsUntil(now - 1s), 0);
  EXPECT_EQ(MillisecondsUntil(Clock::time_point::max()), 1 << 30);
}

// Sockets and devices meet different errno values; one map gives each its
// code, and what has none is the device's failure.
TEST(Plumbing, OneErrnoMapServesSocketsAndDevices) {
  const struct {
    int error;
    DWORD code;
  } cases[] = {
      {ECONNREFUSED, ERROR_CONNECTION_REFUSED},
      {ETIMEDOUT, ERROR_TIMEOUT},
      {ENETUNREACH, ERROR_NETWORK_UNREACHABLE},
      {EHOSTUNREACH, ERROR_HOST_UNREACHABLE},
      {ECONNRESET, ERROR_NETNAME_DELETED},
      {EPIPE, ERROR_BROKEN_PIPE},
      {ENOBUFS, ERROR_NOT_ENOUGH_MEMORY},
      {ENOENT, ERROR_FILE_NOT_FOUND},
      {EROFS, ERROR_ACCESS_DENIED},
      {ENOTTY, ERROR_NOT_SUPPORTED},
      {EIO, ERROR_GEN_FAILURE},
  };
  for (const auto& c : cases) EXPECT_EQ(Win32ErrorFromErrno(c.error), c.code) << c.error;
}

// Every Win32 code the platform layer spells (and so every code a port
// monitor or the monitor can set) has words of its own.
TEST(Plumbing, EveryCodeOfThePlatformHasWords) {
  std::ifstream header(build_paths::kPlatformHeader);
  std::stringstream text;
  text << header.rdbuf();
  const std::string source = text.str();
  const std::regex define(R"(#define (ERROR_\w+) (\d+)L)");
  int codes = 0;
  for (std::sregex_iterator it(source.begin(), source.end(), define), end; it != end; ++it) {
    ++codes;
    const DWORD code = static_cast<DWORD>(std::stoul((*it)[2]));
    EXPECT_EQ(Win32ErrorText(code).find("unknown"), std::string::npos) << (*it)[1];
  }
  EXPECT_GT(codes, 20);
  EXPECT_EQ(Win32ErrorText(ERROR_CONNECTION_REFUSED), "the printer refused the connection");
  EXPECT_EQ(Win32ErrorText(10061), "an unknown failure (Win32 code 10061)");
}

TEST(Plumbing, AFailureLeavesItsCodeAndItsMessageToItsThread) {
  SetLastError(0);
  EXPECT_FALSE(Fail(ERROR_BUSY, "open /dev/lp0: Device or resource busy"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUSY));
  EXPECT_EQ(LastMessage(), "open /dev/lp0: Device or resource busy");
  std::string other = "unset";
  std::thread([&] { other = LastMessage(); }).join();
  EXPECT_EQ(other, "");
  ClearLastMessage();
  EXPECT_EQ(LastMessage(), "");
}

}  // namespace
}  // namespace langmon::ports

// The character-device and file port monitors, driven through their table.
// A pseudo-terminal in raw mode stands in for a printer device with a back
// channel: the test is the printer on the master side.
#include "local_port.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "hang_limit.h"

namespace langmon::ports {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

using langmon::testing::kHangLimit;

class FakeDevice {
 public:
  FakeDevice() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    EXPECT_GE(master_, 0);
    grantpt(master_);
    unlockpt(master_);
    path_ = ptsname(master_);
    // Keep the slave open in raw mode so that the bytes pass unchanged.
    slave_ = open(path_.c_str(), O_RDWR | O_NOCTTY);
    termios t{};
    tcgetattr(slave_, &t);
    cfmakeraw(&t);
    tcsetattr(slave_, TCSANOW, &t);
  }
  ~FakeDevice() {
    close(slave_);
    close(master_);
  }
  const std::string& path() const { return path_; }
  void Send(const std::string& bytes) {
    ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  std::string Receive(std::chrono::milliseconds wait = langmon::testing::kHangLimit) {
    std::string out;
    pollfd p{master_, POLLIN, 0};
    while (poll(&p, 1, static_cast<int>(wait.count())) > 0) {
      char buffer[4096];
      const ssize_t n = read(master_, buffer, sizeof buffer);
      if (n <= 0) break;
      out.append(buffer, static_cast<std::size_t>(n));
      wait = 50ms;
    }
    return out;
  }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string path_;
};

// Each test opens its ports on port monitors of its own, kept until it ends.
class LocalPort : public ::testing::Test {
 protected:
  HANDLE Open(LocalPortKind kind, const std::string& path) {
    monitors_.push_back(std::make_unique<LocalPortMonitor>(LocalPortTarget{kind, path}));
    HANDLE handle = nullptr;
    std::u16string name = u"LPT1:";
    if (!Table().pfnOpenPort(name.data(), &handle)) return nullptr;
    return handle;
  }

  // The table of the port monitor made last; the others differ only in
  // what their OpenPort opens.
  const MONITOR& Table() {
    if (monitors_.empty())
      monitors_.push_back(std::make_unique<LocalPortMonitor>(LocalPortTarget{}));
    return monitors_.back()->Table();
  }

  BOOL Write(HANDLE port, const std::string& bytes, DWORD* written) {
    std::string copy = bytes;
    return Table().pfnWritePort(port, reinterpret_cast<BYTE*>(copy.data()),
                                static_cast<DWORD>(copy.size()), written);
  }

  std::string Read(HANDLE port, DWORD size, BOOL* ok = nullptr) {
    std::string buffer(size, '\0');
    DWORD got = 0xDEAD;
    const BOOL result =
        Table().pfnReadPort(port, reinterpret_cast<BYTE*>(buffer.data()), size, &got);
    if (ok) *ok = result;
    EXPECT_LE(got, size);
    buffer.resize(std::min<DWORD>(got, size));
    return buffer;
  }

  void SetTimeouts(HANDLE port, COMMTIMEOUTS t) {
    EXPECT_TRUE(Table().pfnSetPortTimeOuts(port, &t, 0));
  }

 private:
  std::vector<std::unique_ptr<LocalPortMonitor>> monitors_;
};

TEST_F(LocalPort, TableOffersWhatTheMonitorNeeds) {
  const MONITOR& t = Table();
  EXPECT_TRUE(t.pfnOpenPort && t.pfnStartDocPort && t.pfnWritePort && t.pfnReadPort &&
              t.pfnEndDocPort && t.pfnClosePort && t.pfnSetPortTimeOuts &&
              t.pfnGetPrinterDataFromPort);
  EXPECT_FALSE(t.pfnOpenPortEx || t.pfnEnumPorts || t.pfnAddPort);
}

TEST_F(LocalPort, DeviceCarriesBothDirections) {
  FakeDevice device;
  HANDLE port = Open(LocalPortKind::Parallel, device.path());
  ASSERT_NE(port, nullptr) << LastMessage();
  DWORD written = 0;
  EXPECT_TRUE(Write(port, "@PJL ECHO x\r\n", &written));
  EXPECT_EQ(written, 13u);
  EXPECT_EQ(device.Receive(), "@PJL ECHO x\r\n");

  SetTimeouts(port, {10, 0, 500, 0, 0});
  device.Send("@PJL ECHO x\r\n\f");
  BOOL ok = FALSE;
  EXPECT_EQ(Read(port, 256, &ok), "@PJL ECHO x\r\n\f");
  EXPECT_TRUE(ok);
  EXPECT_TRUE(Table().pfnClosePort(port));
}

TEST_F(LocalPort, ReadWithNothingToReadWaitsForTheTotalTimeout) {
  FakeDevice device;
  HANDLE port = Open(LocalPortKind::Usb, device.path());
  ASSERT_NE(port, nullptr);
  SetTimeouts(port, {10, 0, 150, 0, 0});
  const auto start = Clock::now();
  BOOL ok = FALSE;
  EXPECT_EQ(Read(port, 64, &ok), "");
  const auto elapsed = Clock::now() - start;
  EXPECT_TRUE(ok);
  EXPECT_GE(elapsed, 140ms);
  EXPECT_LT(elapsed, kHangLimit);
  Table().pfnClosePort(port);
}

TEST_F(LocalPort, ReadKeepsCollectingWhileBytesFollowWithinTheInterval) {
  FakeDevice device;
  HANDLE port = Open(LocalPortKind::Parallel, device.path());
  ASSERT_NE(port, nullptr);

  // A generous interval: the second piece belongs to the same read.
  SetTimeouts(port, {10000, 0, 60000, 0, 0});
  std::thread printer([&] {
    device.Send("first ");
    std::this_thread::sleep_for(30ms);
    device.Send("second");
  });
  std::string got = Read(port, 12);  // stops as soon as the buffer is full
  printer.join();
  EXPECT_EQ(got, "first second");

  // A short interval: the read ends after the first piece, long before the
  // total time-out (a minute).
  SetTimeouts(port, {5, 0, 60000, 0, 0});
  device.Send("early");
  const auto start = Clock::now();
  EXPECT_EQ(Read(port, 64), "early");
  EXPECT_LT(Clock::now() - start, kHangLimit);
  device.Send("late");
  EXPECT_EQ(Read(port, 64), "late");
  Table().pfnClosePort(port);
}

TEST_F(LocalPort, WriteThatTheDeviceDoesNotTakeTimesOut) {
  FakeDevice device;  // nobody reads the master side: the device fills up
  HANDLE port = Open(LocalPortKind::Parallel, device.path());
  ASSERT_NE(port, nullptr);
  SetTimeouts(port, {0, 0, 0, 0, 100});
  const std::string big(4 << 20, 'x');
  DWORD written = 0;
  const auto start = Clock::now();
  EXPECT_FALSE(Write(port, big, &written));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TIMEOUT));
  EXPECT_LT(written, big.size());
  EXPECT_LT(Clock::now() - start, kHangLimit);
  EXPECT_NE(LastMessage().find("within 100 ms"), std::string::npos) << LastMessage();
  Table().pfnClosePort(port);
}

TEST_F(LocalPort, OpenFailuresNameTheCause) {
  EXPECT_EQ(Open(LocalPortKind::Parallel, "/nonexistent/lp0"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(LastMessage(), "open /nonexistent/lp0: No such file or directory");

  char path[] = "/tmp/langmon-local-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  EXPECT_EQ(Open(LocalPortKind::Usb, path), nullptr);
  EXPECT_NE(LastMessage().find("not a character device"), std::string::npos);
  unlink(path);
}

TEST_F(LocalPort, FilePortWritesAndNeverReads) {
  char path[] = "/tmp/langmon-file-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, "old content", 11), 11);
  close(fd);

  HANDLE port = Open(LocalPortKind::File, path);
  ASSERT_NE(port, nullptr) << LastMessage();
  DWORD written = 0;
  EXPECT_TRUE(Write(port, "\x1b%-12345X@PJL \n", &written));
  EXPECT_EQ(written, 15u);
  // No back channel: a read returns nothing, after its read time-out, as a
  // port with nothing to deliver does (a polling caller must not spin).
  // The time-out set is longer than the 1000 ms a port waits before any is
  // set, so the lower bound shows that it is the one honoured.
  COMMTIMEOUTS timeouts{};
  timeouts.ReadTotalTimeoutConstant = 1500;
  ASSERT_TRUE(Table().pfnSetPortTimeOuts(port, &timeouts, 0));
  BOOL ok = FALSE;
  const auto start = Clock::now();
  EXPECT_EQ(Read(port, 256, &ok), "");
  EXPECT_TRUE(ok);
  EXPECT_GE(Clock::now() - start, 1500ms);
  EXPECT_LT(Clock::now() - start, kHangLimit);
  EXPECT_TRUE(Table().pfnClosePort(port));

  std::ifstream in(path, std::ios::binary);
  const std::string content((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(content, "\x1b%-12345X@PJL \n");  // the old content is gone
  unlink(path);
}

TEST_F(LocalPort, EachPortMonitorOpensItsOwnTargetWhateverThePortName) {
  char first[] = "/tmp/langmon-first-XXXXXX";
  char second[] = "/tmp/langmon-second-XXXXXX";
  for (char* path : {first, second}) close(mkstemp(path));
  LocalPortMonitor a({LocalPortKind::File, first});
  LocalPortMonitor b({LocalPortKind::File, second});
  std::u16string name = u"LPT1:";
  HANDLE portB = nullptr, portA = nullptr;
  ASSERT_TRUE(b.Table().pfnOpenPort(name.data(), &portB));
  ASSERT_TRUE(a.Table().pfnOpenPort(name.data(), &portA));
  DWORD written = 0;
  EXPECT_TRUE(Write(portA, "to a", &written));
  EXPECT_TRUE(Write(portB, "to b", &written));
  a.Table().pfnClosePort(portA);
  b.Table().pfnClosePort(portB);
  for (const auto& [path, content] : {std::pair{first, "to a"}, std::pair{second, "to b"}}) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), {}), content) << path;
    unlink(path);
  }
}

TEST_F(LocalPort, DeviceIdOnlyWhereTheDeviceReportsOne) {
  char path[] = "/tmp/langmon-id-XXXXXX";
  const int fd = mkstemp(path);
  close(fd);
  FakeDevice device;
  const struct {
    LocalPortKind kind;
    std::string path;
    const char* message;
  } cases[] = {
      {LocalPortKind::File, path, "file: port cannot report a device ID"},
      {LocalPortKind::Parallel, device.path(), "parallel: port cannot report a device ID"},
      // A terminal is no printer-class device: the request fails cleanly.
      {LocalPortKind::Usb, device.path(), "device ID of "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    HANDLE port = Open(c.kind, c.path);
    ASSERT_NE(port, nullptr);
    char out[1024];
    DWORD returned = 77;
    std::u16string name = u"GetDeviceID";
    EXPECT_FALSE(Table().pfnGetPrinterDataFromPort(port, IOCTL_PAR_QUERY_DEVICE_ID, name.data(),
                                                   nullptr, 0, reinterpret_cast<LPWSTR>(out),
                                                   sizeof out, &returned));
    EXPECT_EQ(returned, 0u);
    EXPECT_NE(LastMessage().find(c.message), std::string::npos) << LastMessage();
    Table().pfnClosePort(port);
  }
  unlink(path);
}

TEST_F(LocalPort, ErrnoMapsToWin32Codes) {
  EXPECT_EQ(Win32ErrorFromErrno(ENOENT), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(Win32ErrorFromErrno(EACCES), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(Win32ErrorFromErrno(EBUSY), static_cast<DWORD>(ERROR_BUSY));
  EXPECT_EQ(Win32ErrorFromErrno(ETIMEDOUT), static_cast<DWORD>(ERROR_TIMEOUT));
  EXPECT_EQ(Win32ErrorFromErrno(EIO), static_cast<DWORD>(ERROR_GEN_FAILURE));
}

}  // namespace
}  // namespace langmon::ports

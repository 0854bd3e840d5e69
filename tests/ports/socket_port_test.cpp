// The socket port monitor over loopback, against in-test listeners and the
// langmon-printer server: connection life, refused ports, read and write
// time-outs, partial sends and resets.
#include "socket_port.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "config/config.h"
#include "hang_limit.h"
#include "misbehaving_server.h"
#include "monitor_fixture.h"
#include "port/port_ops.h"
#include "printer_server.h"
#include "requests/requests.h"

namespace langmon::ports {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

using langmon::testing::kHangLimit;

// A loopback listener the test drives by hand, on a free port or the one
// given.
class Listener {
 public:
  explicit Listener(unsigned port = 0) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ::listen(fd_, 8);
    socklen_t len = sizeof addr;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
  }
  ~Listener() { ::close(fd_); }
  unsigned Port() const { return port_; }
  // An accepted connection, or -1 when none came within the time.
  int Accept(std::chrono::milliseconds wait = kHangLimit) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(wait.count())) <= 0) return -1;
    return ::accept(fd_, nullptr, nullptr);
  }

 private:
  int fd_ = -1;
  unsigned port_ = 0;
};

// Reads from fd until it closes or `limit` passes.
std::string ReadUntilClosed(int fd, std::chrono::milliseconds limit = kHangLimit) {
  std::string out;
  const auto end = Clock::now() + limit;
  char buffer[65536];
  while (Clock::now() < end) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 20) <= 0) continue;
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    out.append(buffer, static_cast<std::size_t>(n));
  }
  return out;
}

// Opens a socket port named LPT1: on a port monitor for 127.0.0.1:port.
class SocketPortTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (handle_ != nullptr) table_.pfnClosePort(handle_);
  }
  HANDLE Open(unsigned port, DWORD closeDrainMs = 2000,
              Clock::time_point deadline = Clock::time_point::max(),
              DWORD connectTimeoutMs = 2000) {
    SocketTarget target;
    target.host = "127.0.0.1";
    target.port = port;
    target.connectTimeoutMs = connectTimeoutMs;
    target.closeDrainMs = closeDrainMs;
    target.deadline = deadline;
    monitor_ = std::make_unique<SocketPortMonitor>(target);
    table_ = monitor_->Table();
    WCHAR name[] = LM_W("LPT1:");
    EXPECT_TRUE(table_.pfnOpenPort(name, &handle_));
    return handle_;
  }
  BOOL Write(const std::string& text, DWORD* written = nullptr) {
    DWORD count = 0;
    std::string copy = text;
    const BOOL ok = table_.pfnWritePort(handle_, reinterpret_cast<LPBYTE>(copy.data()),
                                        static_cast<DWORD>(copy.size()), &count);
    if (written) *written = count;
    return ok;
  }
  BOOL Read(DWORD* read = nullptr) {
    BYTE buffer[256];
    DWORD got = 0;
    const BOOL ok = table_.pfnReadPort(handle_, buffer, sizeof buffer, &got);
    if (read) *read = got;
    return ok;
  }
  void StartDoc() {
    WCHAR printer[] = LM_W("P");
    ASSERT_TRUE(table_.pfnStartDocPort(handle_, printer, 1, 1, nullptr));
  }
  void SetTimeouts(DWORD readMs, DWORD writeMs = 0) {
    COMMTIMEOUTS t{};
    t.ReadTotalTimeoutConstant = readMs;
    t.WriteTotalTimeoutConstant = writeMs;
    ASSERT_TRUE(table_.pfnSetPortTimeOuts(handle_, &t, 0));
  }
  std::unique_ptr<SocketPortMonitor> monitor_;
  MONITOR table_{};
  HANDLE handle_ = nullptr;
};

TEST_F(SocketPortTest, ConnectsOnFirstUseAndClosesAtEndDocPort) {
  Listener listener;
  // A close that waited its whole bound instead of the printer's close
  // would take a minute.
  Open(listener.Port(), 60000);
  EXPECT_EQ(listener.Accept(100ms), -1) << "OpenPort must not connect";
  WCHAR printer[] = LM_W("P");
  ASSERT_TRUE(table_.pfnStartDocPort(handle_, printer, 1, 1, nullptr));
  EXPECT_EQ(listener.Accept(100ms), -1) << "StartDocPort must not connect";
  ASSERT_TRUE(Write("job one"));
  const int first = listener.Accept();
  ASSERT_GE(first, 0);
  // The printer side reads until our side closes, then closes too.
  std::string got;
  std::thread peer([&] {
    got = ReadUntilClosed(first);
    ::close(first);
  });
  const auto start = Clock::now();
  ASSERT_TRUE(table_.pfnEndDocPort(handle_));
  EXPECT_LT(Clock::now() - start, kHangLimit) << "the close waits only until the printer closes";
  peer.join();
  EXPECT_EQ(got, "job one");
  // Between documents the monitor writes its own requests: a new
  // connection, which begins with the entry text.
  ASSERT_TRUE(Write(kEntryText + std::string("@PJL ECHO x\r\n")));
  const int second = listener.Accept();
  ASSERT_GE(second, 0);
  std::thread peer2([&] {
    got = ReadUntilClosed(second);
    ::close(second);
  });
  ASSERT_TRUE(table_.pfnClosePort(handle_));
  handle_ = nullptr;
  peer2.join();
  EXPECT_EQ(got, kEntryText + std::string("@PJL ECHO x\r\n"));
}

TEST_F(SocketPortTest, RefusedPortFailsWithConnectionRefusedAndAMessage) {
  unsigned port;
  {
    Listener gone;
    port = gone.Port();
  }
  Open(port);
  SetLastError(0);
  DWORD written = 99;
  EXPECT_FALSE(Write("x", &written));
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CONNECTION_REFUSED));
  const std::string message = LastMessage();
  EXPECT_NE(message.find("127.0.0.1:" + std::to_string(port)), std::string::npos) << message;
  EXPECT_NE(message.find("refused"), std::string::npos) << message;
  // A read after it fails too, naming the first failure.
  BYTE buffer[4];
  DWORD read = 0;
  SetLastError(0);
  EXPECT_FALSE(table_.pfnReadPort(handle_, buffer, sizeof buffer, &read));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CONNECTION_ABORTED));
  EXPECT_NE(std::string(LastMessage()).find("refused"), std::string::npos);
}

TEST_F(SocketPortTest, OpenPortWithoutAHostFails) {
  SocketPortMonitor monitor(SocketTarget{});
  WCHAR name[] = LM_W("LPT2:");
  HANDLE h = nullptr;
  SetLastError(0);
  EXPECT_FALSE(monitor.Table().pfnOpenPort(name, &h));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_NET_NAME));
  EXPECT_NE(std::string(LastMessage()).find("LPT2:"), std::string::npos);
}

TEST_F(SocketPortTest, ReadPortHonoursTheReadTimeOut) {
  Listener listener;
  Open(listener.Port());
  SetTimeouts(150);
  BYTE buffer[64];
  DWORD read = 99;
  // Without a connection (a read never opens one) as with one.
  for (const bool connected : {false, true}) {
    if (connected) {
      ASSERT_TRUE(Write(kEntryText));
    }
    const auto start = Clock::now();
    ASSERT_TRUE(table_.pfnReadPort(handle_, buffer, sizeof buffer, &read));
    const auto elapsed = Clock::now() - start;
    EXPECT_EQ(read, 0u);
    EXPECT_GE(elapsed, 145ms);
    EXPECT_LT(elapsed, kHangLimit);
    if (!connected) {
      EXPECT_EQ(listener.Accept(50ms), -1);
    }
  }
  const int peer = listener.Accept();
  ASSERT_GE(peer, 0);
  // Data that arrives within the time-out ends the wait early.
  std::thread late([peer] {
    std::this_thread::sleep_for(50ms);
    ::send(peer, "@PJL", 4, MSG_NOSIGNAL);
  });
  SetTimeouts(60000);  // waiting it out would take a minute
  const auto start = Clock::now();
  ASSERT_TRUE(table_.pfnReadPort(handle_, buffer, sizeof buffer, &read));
  const auto elapsed = Clock::now() - start;
  late.join();
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), read), "@PJL");
  EXPECT_LT(elapsed, kHangLimit);
  ::close(peer);
}

TEST_F(SocketPortTest, LargeWriteIsSentWholeThroughPartialSends) {
  Listener listener;
  Open(listener.Port());
  std::string data(24u << 20, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 4096);
  std::string received;
  std::thread reader([&] {
    const int peer = listener.Accept();
    if (peer < 0) return;
    // A slow start fills the socket buffers, so sends go through in parts.
    std::this_thread::sleep_for(200ms);
    char buffer[16384];
    for (;;) {
      const ssize_t n = ::recv(peer, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      received.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(peer);
  });
  WCHAR printer[] = LM_W("P");
  ASSERT_TRUE(table_.pfnStartDocPort(handle_, printer, 1, 1, nullptr));
  DWORD written = 0;
  EXPECT_TRUE(Write(data, &written));
  EXPECT_EQ(written, data.size());
  EXPECT_TRUE(table_.pfnEndDocPort(handle_)) << LastMessage();
  reader.join();
  EXPECT_TRUE(received == data) << "received " << received.size() << " bytes";
  const DocumentDelivery delivery = monitor_->LastDocument();
  EXPECT_TRUE(delivery.confirmed);
  EXPECT_EQ(delivery.acknowledged, data.size());
}

TEST_F(SocketPortTest, WriteTimeOutReportsWhatWasSent) {
  Listener listener;
  Open(listener.Port());
  SetTimeouts(10, 200);
  const std::string data(64u << 20, 'x');  // far more than the socket buffers hold
  DWORD written = 0;
  const auto start = Clock::now();
  const BOOL ok = Write(data, &written);
  const auto elapsed = Clock::now() - start;
  EXPECT_TRUE(ok);
  EXPECT_GT(written, 0u);
  EXPECT_LT(written, data.size());
  EXPECT_GE(elapsed, 190ms);
  EXPECT_LT(elapsed, kHangLimit);
  const int peer = listener.Accept();
  // Once the buffers are full, a write moves nothing and says why.
  BOOL more = TRUE;
  for (int i = 0; i < 50 && more; ++i) {
    SetLastError(0);
    more = Write(data, &written);
  }
  EXPECT_FALSE(more);
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TIMEOUT));
  EXPECT_NE(std::string(LastMessage()).find("accepted no data"), std::string::npos);
  ::close(peer);
}

TEST_F(SocketPortTest, ResetFailsTheDocumentUntilEndDocPort) {
  Listener listener;
  Open(listener.Port());
  SetTimeouts(2000);
  WCHAR printer[] = LM_W("P");
  ASSERT_TRUE(table_.pfnStartDocPort(handle_, printer, 1, 1, nullptr));
  ASSERT_TRUE(Write("part one"));
  const int peer = listener.Accept();
  ASSERT_GE(peer, 0);
  linger abort{1, 0};
  ::setsockopt(peer, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  ::close(peer);
  BYTE buffer[16];
  DWORD read = 0;
  SetLastError(0);
  EXPECT_FALSE(table_.pfnReadPort(handle_, buffer, sizeof buffer, &read));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NETNAME_DELETED));
  EXPECT_NE(std::string(LastMessage()).find("reset"), std::string::npos) << LastMessage();
  // The rest of the job must not go out on a fresh connection.
  SetLastError(0);
  EXPECT_FALSE(Write("part two"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CONNECTION_ABORTED));
  EXPECT_EQ(listener.Accept(100ms), -1);
  // After the document the port connects again.
  table_.pfnEndDocPort(handle_);
  EXPECT_TRUE(Write("next"));
  const int again = listener.Accept();
  EXPECT_GE(again, 0);
  ::close(again);
}

// ---- which writes may connect ---------------------------------------------------

// What the peer reads until the port closes, on a thread of its own.
std::future<std::string> Collect(int fd) {
  return std::async(std::launch::async, [fd] {
    std::string got = ReadUntilClosed(fd, kHangLimit);
    ::close(fd);
    return got;
  });
}

TEST_F(SocketPortTest, AConnectionOpenedOutsideADocumentBeginsWithTheEntryText) {
  Listener listener;
  Open(listener.Port());
  // The test page line, which the monitor writes without the entry text.
  const std::string line = "@PJL SET TESTPAGE=SELFTEST\r\n";
  DWORD written = 0;
  ASSERT_TRUE(Write(line, &written));
  EXPECT_EQ(written, line.size()) << "the entry text is the port's own, not counted";
  const int peer = listener.Accept();
  ASSERT_GE(peer, 0);
  std::future<std::string> got = Collect(peer);
  table_.pfnClosePort(handle_);
  handle_ = nullptr;
  EXPECT_EQ(got.get(), kEntryText + line);
}

TEST_F(SocketPortTest, EachRequestStartsOnAConnectionOfItsOwn) {
  Listener listener;
  Open(listener.Port());
  const std::string first = kEntryText + std::string("@PJL ECHO 1\r\n");
  const std::string second = kEntryText + std::string("@PJL ECHO 2\r\n");
  ASSERT_TRUE(Write(first));
  const int one = listener.Accept();
  ASSERT_GE(one, 0);
  std::future<std::string> gotOne = Collect(one);
  ASSERT_TRUE(Write(second));
  EXPECT_EQ(gotOne.get(), first) << "the first request's connection is closed";
  const int two = listener.Accept();
  ASSERT_GE(two, 0);
  std::future<std::string> gotTwo = Collect(two);
  ASSERT_TRUE(Write("@PJL DMINFO x\r\n"));  // goes on within the request
  table_.pfnClosePort(handle_);
  handle_ = nullptr;
  EXPECT_EQ(gotTwo.get(), second + "@PJL DMINFO x\r\n");
  EXPECT_EQ(listener.Accept(50ms), -1);
}

TEST_F(SocketPortTest, AfterADropOnlyAnEntryTextConnectsAgain) {
  Listener listener;
  Open(listener.Port());
  SetTimeouts(200);
  ASSERT_TRUE(Write(kEntryText));
  const int peer = listener.Accept();
  ASSERT_GE(peer, 0);
  const linger abort{1, 0};
  ::setsockopt(peer, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  ::close(peer);
  BOOL ok = TRUE;
  for (int i = 0; i < 50 && ok; ++i) ok = Read();
  ASSERT_FALSE(ok) << "the reset is seen";
  // The rest of the request fails: writes at once, reads after their
  // time-out, and nothing connects.
  SetLastError(0);
  EXPECT_FALSE(Write("@PJL DMINFO ASCIIHEX=\"0000050103030104\"\r\n"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CONNECTION_ABORTED));
  EXPECT_NE(std::string(LastMessage()).find("failed earlier in this request"), std::string::npos)
      << LastMessage();
  const auto start = Clock::now();
  EXPECT_FALSE(Read());
  EXPECT_GE(Clock::now() - start, 190ms);
  EXPECT_FALSE(Write(kExitText));
  EXPECT_EQ(listener.Accept(50ms), -1);
  // The next request connects again.
  EXPECT_TRUE(Write(kEntryText));
  const int again = listener.Accept();
  EXPECT_GE(again, 0);
  ::close(again);
}

TEST_F(SocketPortTest, AFailedConnectIsNotMadeAgainWithinTheRequest) {
  unsigned port;
  {
    Listener gone;
    port = gone.Port();
  }
  Open(port);
  SetLastError(0);
  EXPECT_FALSE(Write(kEntryText));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CONNECTION_REFUSED));
  // The printer is there now, but the request that failed to reach it does
  // not try again, not even for its exit text.
  Listener listener(port);
  SetLastError(0);
  EXPECT_FALSE(Write(kExitText));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CONNECTION_ABORTED));
  EXPECT_EQ(listener.Accept(50ms), -1);
  EXPECT_TRUE(Write(kEntryText));
  const int peer = listener.Accept();
  EXPECT_GE(peer, 0);
  ::close(peer);
}

// ---- the end of a document -------------------------------------------------------

TEST_F(SocketPortTest, EndDocPortConfirmsWhatThePrinterTook) {
  enum class Peer { ReadsAndCloses, ReadsAndStaysOpen, ClosesUnread, NeverReads };
  const struct {
    Peer peer;
    std::size_t size;
    bool confirmed;
    DWORD error;  // of a failed EndDocPort
  } cases[] = {
      {Peer::ReadsAndCloses, 4u << 20, true, 0},
      {Peer::ReadsAndStaysOpen, 4u << 20, true, 0},
      {Peer::ClosesUnread, 1000, false, ERROR_NETNAME_DELETED},
      {Peer::NeverReads, 64u << 20, false, ERROR_TIMEOUT},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.peer));
    Listener listener;
    Open(listener.Port(), 300);
    SetTimeouts(10, 300);  // no progress for 300 ms fails the document
    StartDoc();
    const std::string data(c.size, 'd');
    std::promise<int> accepted;
    std::thread peer([&] {
      const int fd = listener.Accept();
      accepted.set_value(fd);
      if (c.peer == Peer::ReadsAndCloses || c.peer == Peer::ReadsAndStaysOpen)
        ReadUntilClosed(fd, kHangLimit);
      if (c.peer == Peer::ClosesUnread) {
        pollfd p{fd, POLLIN, 0};
        ::poll(&p, 1, 2000);
      }
      if (c.peer != Peer::ReadsAndStaysOpen && c.peer != Peer::NeverReads) ::close(fd);
    });
    DWORD written = 0;
    Write(data, &written);
    const int fd = accepted.get_future().get();
    if (c.peer == Peer::ClosesUnread) peer.join();
    SetLastError(0);
    const BOOL ok = table_.pfnEndDocPort(handle_);
    if (peer.joinable()) peer.join();
    if (c.peer == Peer::ReadsAndStaysOpen || c.peer == Peer::NeverReads) ::close(fd);
    const DocumentDelivery delivery = monitor_->LastDocument();
    EXPECT_EQ(ok != FALSE, c.confirmed) << LastMessage();
    EXPECT_EQ(delivery.confirmed, c.confirmed);
    EXPECT_TRUE(delivery.ended);
    EXPECT_EQ(delivery.sent, written);
    if (c.confirmed) {
      EXPECT_EQ(delivery.acknowledged, data.size());
    } else {
      EXPECT_EQ(GetLastError(), c.error);
    }
    if (c.peer == Peer::NeverReads) {
      EXPECT_LT(delivery.acknowledged, delivery.sent);
    }
    table_.pfnClosePort(handle_);
    handle_ = nullptr;
  }
}

// ---- the deadline ------------------------------------------------------------------

TEST_F(SocketPortTest, NoWaitGoesPastTheDeadlineAndEveryCallAfterItFails) {
  // A connect that would wait a minute.
  testing::MisbehavingServer backlog(testing::Misbehaviour::FullBacklog);
  auto start = Clock::now();
  Open(backlog.Port(), 2000, start + 300ms, 60000);
  SetLastError(0);
  EXPECT_FALSE(Write(kEntryText));
  EXPECT_GE(Clock::now() - start, 290ms);
  EXPECT_LT(Clock::now() - start, kHangLimit);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TIMEOUT));
  EXPECT_NE(std::string(LastMessage()).find("time limit"), std::string::npos);
  table_.pfnClosePort(handle_);
  // A read that would wait a minute; then every call fails at once.
  Listener listener;
  start = Clock::now();
  Open(listener.Port(), 2000, start + 300ms);
  ASSERT_TRUE(Write(kEntryText));
  SetTimeouts(60000);
  DWORD read = 99;
  EXPECT_TRUE(Read(&read));
  EXPECT_EQ(read, 0u);
  EXPECT_GE(Clock::now() - start, 290ms);
  EXPECT_LT(Clock::now() - start, kHangLimit);
  for (const BOOL ok : {Read(), Write("x")}) {
    EXPECT_FALSE(ok);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TIMEOUT));
  }
}

TEST_F(SocketPortTest, GetPrinterDataFromPortFailsCleanly) {
  Listener listener;
  Open(listener.Port());
  WCHAR out[16];
  DWORD returned = 5;
  SetLastError(0);
  EXPECT_FALSE(table_.pfnGetPrinterDataFromPort(handle_, IOCTL_PAR_QUERY_DEVICE_ID, nullptr,
                                                nullptr, 0, out, sizeof out, &returned));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  EXPECT_EQ(returned, 0u);
  EXPECT_EQ(listener.Accept(50ms), -1) << "no connection just to fail";
}

// ---- against langmon-printer ----------------------------------------------

class SocketPrinterTest : public SocketPortTest {
 protected:
  void StartServer(printer::ServerOptions options = {}) {
    options.port = 0;
    server_ = std::make_unique<printer::PrinterServer>(printer_, options);
    std::string error;
    ASSERT_TRUE(server_->Listen(error)) << error;
    thread_ = std::thread([this] { server_->Run(); });
  }
  void TearDown() override {
    SocketPortTest::TearDown();
    handle_ = nullptr;
    if (server_) server_->Stop();
    if (thread_.joinable()) thread_.join();
  }
  // Reads until a form feed arrives or the time is up.
  std::string ReadReply(std::chrono::milliseconds limit = kHangLimit) {
    std::string out;
    const auto end = Clock::now() + limit;
    while (out.find('\f') == std::string::npos && Clock::now() < end) {
      BYTE buffer[256];
      DWORD read = 0;
      if (!table_.pfnReadPort(handle_, buffer, sizeof buffer, &read)) break;
      out.append(reinterpret_cast<char*>(buffer), read);
    }
    return out;
  }
  sim::SimPrinter printer_;
  std::unique_ptr<printer::PrinterServer> server_;
  std::thread thread_;
};

TEST_F(SocketPrinterTest, EchoExchangeWithTheSimulatedPrinter) {
  StartServer();
  Open(server_->Port());
  SetTimeouts(50);
  ASSERT_TRUE(Write("\x1b%-12345X@PJL \n@PJL ECHO net\r\n"));
  EXPECT_EQ(ReadReply(), "@PJL ECHO net\r\n\f");
  ASSERT_TRUE(Write("@PJL DMINFO ASCIIHEX=\"0000050103030108\"\r\n"));
  EXPECT_EQ(ReadReply(),
            "@PJL DMINFO ASCIIHEX=\"0000050103030108\"\r\n\"8000000501030301080803000258\"\r\n\f");
}

TEST_F(SocketPrinterTest, ServerResetIsReportedOnTheNextRead) {
  printer::ServerOptions options;
  options.resetAfter = 1;
  StartServer(options);
  Open(server_->Port());
  SetTimeouts(50);
  ASSERT_TRUE(Write("\x1b%-12345X@PJL \n@PJL ECHO once\r\n"));
  EXPECT_EQ(ReadReply(), "@PJL ECHO once\r\n\f");
  BYTE buffer[16];
  DWORD read = 0;
  BOOL ok = TRUE;
  const auto end = Clock::now() + kHangLimit;
  while (ok && Clock::now() < end) ok = table_.pfnReadPort(handle_, buffer, sizeof buffer, &read);
  EXPECT_FALSE(ok);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NETNAME_DELETED));
}

TEST_F(SocketPrinterTest, MonitorReadsTheWholeConfigurationAndTestPageOverTcp) {
  StartServer();
  SocketTarget target;
  target.host = "127.0.0.1";
  target.port = server_->Port();
  SocketPortMonitor monitor(target);
  langmon::testing::EnsureMonitorInitialised();
  langmon::testing::SeamScope seams;
  // The test page the driver chose, in the printer's driver data.
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE,
                            LM_W("System\\CurrentControlSet\\Control\\Print\\Printers\\"
                                 "Socket Test Printer\\PrinterDriverData"),
                            0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const DWORD page = 17;
  RegSetValueExW(key, LM_W("dwTestPage"), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&page),
                 sizeof page);
  RegCloseKey(key);
  WCHAR portName[] = LM_W("LPT1:");
  WCHAR printerName[] = LM_W("Socket Test Printer");
  HANDLE port = nullptr;
  ASSERT_TRUE(langmon::OpenPortEx(portName, printerName, &port, monitor.ForOpenPortEx()));
  DWORD record[27] = {};
  DWORD returned = 0;
  WCHAR value[] = LM_W("GetConfigObjects");
  EXPECT_TRUE(langmon::GetPrinterDataFromPort(
      port, 0, value, nullptr, 0, reinterpret_cast<LPWSTR>(record), sizeof record, &returned));
  EXPECT_EQ(record[0], 0xDBFFFFu) << "every setting answered over the socket";
  EXPECT_EQ(printer_.EchoCount(), 1u);
  WCHAR testPage[] = LM_W("PrintTestPage");
  langmon::GetPrinterDataFromPort(port, 0, testPage, nullptr, 0, nullptr, 0, &returned);
  EXPECT_TRUE(langmon::ClosePort(port));
  // The connection is closed with the port; the server has seen everything.
  EXPECT_EQ(printer_.TestPages().size(), 1u);
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, LM_W("System\\CurrentControlSet\\Control\\Print\\Printers\\"
                                          "Socket Test Printer"));
}

}  // namespace
}  // namespace langmon::ports

// The observing wrapper around a port monitor: what it forwards, what it
// reports to its observers, and the first failure it keeps.
#include "observed_port.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_port_monitor.h"

namespace langmon::ports {
namespace {

using testing::FakePortMonitor;

struct Seen : PortObserver {
  std::vector<std::string> events;
  void OnOpen(std::u16string_view, bool ok) override { events.push_back(ok ? "open" : "open!"); }
  void OnWrite(const BYTE* data, DWORD requested, DWORD written, bool ok) override {
    events.push_back("write " + std::string(reinterpret_cast<const char*>(data), written) + " " +
                     std::to_string(requested) + (ok ? "" : "!"));
  }
  void OnRead(const BYTE* data, DWORD got, bool) override {
    events.push_back("read " + std::string(reinterpret_cast<const char*>(data), got));
  }
  void OnFailure(std::string_view op, DWORD error, const std::string& message) override {
    events.push_back("failure " + std::string(op) + " " + std::to_string(error) + " " + message);
  }
};

HANDLE OpenThrough(ObservedPortMonitor& observed) {
  HANDLE handle = nullptr;
  std::u16string name = u"LPT1:";
  return observed.Table()->pfnOpenPort(name.data(), &handle) ? handle : nullptr;
}

TEST(ObservedPort, NullSlotsOfTheInnerTableStayNull) {
  FakePortMonitor fake;
  MONITOR inner = fake.table;
  inner.pfnSetPortTimeOuts = nullptr;
  inner.pfnGetPrinterDataFromPort = nullptr;
  inner.pfnEndDocPort = nullptr;
  ObservedPortMonitor observed(inner, nullptr);
  const MONITOR* t = observed.Table();
  EXPECT_TRUE(t->pfnOpenPort && t->pfnStartDocPort && t->pfnWritePort && t->pfnReadPort &&
              t->pfnClosePort);
  EXPECT_FALSE(t->pfnSetPortTimeOuts || t->pfnGetPrinterDataFromPort || t->pfnEndDocPort ||
               t->pfnOpenPortEx || t->pfnEnumPorts);
}

TEST(ObservedPort, ForwardsCallsAndReportsThemToObservers) {
  FakePortMonitor fake;
  fake.shortWriteBy = 2;
  fake.QueueRead("@PJL reply\f");
  ObservedPortMonitor observed(fake.table, nullptr);
  Seen seen;
  observed.AddObserver(&seen);
  HANDLE port = OpenThrough(observed);
  ASSERT_NE(port, nullptr);

  std::string text = "@PJL ECHO";
  DWORD written = 0;
  EXPECT_TRUE(observed.Table()->pfnWritePort(port, reinterpret_cast<BYTE*>(text.data()),
                                             static_cast<DWORD>(text.size()), &written));
  EXPECT_EQ(written, 7u);  // the inner count, unchanged
  char buffer[64];
  DWORD got = 0;
  EXPECT_TRUE(observed.Table()->pfnReadPort(port, reinterpret_cast<BYTE*>(buffer), 64, &got));
  EXPECT_EQ(std::string(buffer, got), "@PJL reply\f");
  EXPECT_TRUE(observed.Table()->pfnClosePort(port));

  EXPECT_EQ(seen.events,
            (std::vector<std::string>{"open", "write @PJL EC 9", "read @PJL reply\f"}));
  EXPECT_EQ(fake.Written(), "@PJL EC");
  EXPECT_FALSE(observed.HasFailure());
}

TEST(ObservedPort, KeepsTheFirstFailureWithItsMessageAndLastError) {
  FakePortMonitor fake;
  fake.failWritePort = true;
  fake.failError = 10054;
  int asked = 0;
  ObservedPortMonitor observed(fake.table, [&] {
    ++asked;
    return std::string("connection reset by peer #") + std::to_string(asked);
  });
  Seen seen;
  observed.AddObserver(&seen);
  HANDLE port = OpenThrough(observed);
  ASSERT_NE(port, nullptr);
  std::string text = "x";
  DWORD written = 5;
  for (int i = 0; i < 2; ++i) {
    EXPECT_FALSE(
        observed.Table()->pfnWritePort(port, reinterpret_cast<BYTE*>(text.data()), 1, &written));
    EXPECT_EQ(GetLastError(), 10054u);  // observers leave the last error alone
    EXPECT_EQ(written, 0u);
  }
  ASSERT_TRUE(observed.HasFailure());
  EXPECT_EQ(observed.FirstFailure().operation, "WritePort");
  EXPECT_EQ(observed.FirstFailure().error, 10054u);
  EXPECT_EQ(observed.FirstFailure().message, "connection reset by peer #1");
  observed.ResetFailure();
  EXPECT_FALSE(observed.HasFailure());
  observed.Table()->pfnClosePort(port);
}

TEST(ObservedPort, AnEndDocPortThatFailsIsAFailureOfThePort) {
  // The monitor ignores what EndDocPort returns; the host must not.
  FakePortMonitor fake;
  MONITOR inner = fake.table;
  inner.pfnEndDocPort = [](HANDLE) -> BOOL {
    SetLastError(ERROR_NETNAME_DELETED);
    return FALSE;
  };
  ObservedPortMonitor observed(inner, [] { return std::string("the printer reset the job"); });
  HANDLE port = OpenThrough(observed);
  ASSERT_NE(port, nullptr);
  EXPECT_FALSE(observed.Table()->pfnEndDocPort(port));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NETNAME_DELETED));
  ASSERT_TRUE(observed.HasFailure());
  EXPECT_EQ(observed.FirstFailure().operation, "EndDocPort");
  EXPECT_EQ(observed.FirstFailure().message, "the printer reset the job");
  observed.Table()->pfnClosePort(port);
}

TEST(ObservedPort, EachWrapperOpensThroughItsOwnInnerTable) {
  FakePortMonitor first, second;
  ObservedPortMonitor a(first.table, nullptr), b(second.table, nullptr);
  Seen seenA, seenB;
  a.AddObserver(&seenA);
  b.AddObserver(&seenB);
  HANDLE portB = OpenThrough(b);
  HANDLE portA = OpenThrough(a);
  ASSERT_TRUE(portA && portB);
  EXPECT_EQ(first.Ops(), std::vector<std::string>{"OpenPort"});
  EXPECT_EQ(second.Ops(), std::vector<std::string>{"OpenPort"});
  EXPECT_EQ(seenA.events, std::vector<std::string>{"open"});
  EXPECT_EQ(seenB.events, std::vector<std::string>{"open"});
  a.Table()->pfnClosePort(portA);
  b.Table()->pfnClosePort(portB);
  EXPECT_EQ(first.Ops().back(), "ClosePort");
  EXPECT_EQ(second.Ops().back(), "ClosePort");
}

}  // namespace
}  // namespace langmon::ports

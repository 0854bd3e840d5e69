// The spooler stand-in driving the real monitor table over port monitors
// that the tests control.
#include "spooler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>

#include "fake_port_monitor.h"
#include "pjl/pjl.h"

namespace langmon::host {
namespace {

using testing::FakePortMonitor;

// Hands out `data` in pieces of at most `piece` bytes; -1 when told to fail.
JobSource Source(const std::string& data, std::size_t piece, bool fail = false) {
  auto offset = std::make_shared<std::size_t>(0);
  return [=](BYTE* buffer, DWORD capacity) -> long {
    if (fail && *offset > 0) return -1;
    const std::size_t n = std::min({piece, std::size_t{capacity}, data.size() - *offset});
    std::memcpy(buffer, data.data() + *offset, n);
    *offset += n;
    return static_cast<long>(n);
  };
}

class SpoolerTest : public ::testing::Test {
 protected:
  void Open(const std::u16string& port = u"LPT1:") {
    std::string error;
    ASSERT_TRUE(spooler.Initialize(error)) << error;
    DWORD openError = 0;
    ASSERT_TRUE(spooler.OpenPort(port, &fake.table, openError)) << openError;
  }

  FakePortMonitor fake;
  Spooler spooler{u"Office Laser"};
};

TEST_F(SpoolerTest, JobRunsThroughTheMonitorAndIsReleased) {
  Open();
  std::vector<std::string> seen;
  spooler.SetClientCallSink([&](const ClientCall& call) { seen.push_back(call.op); });
  const std::string data(40000, 'j');
  const JobResult result = spooler.PrintJob(7, u"report.pdf", Source(data, 5000));
  EXPECT_TRUE(result.started);
  EXPECT_TRUE(result.complete);
  EXPECT_TRUE(result.released);
  EXPECT_EQ(result.bytesSent, data.size());
  EXPECT_EQ(fake.Written(), data);
  EXPECT_EQ(fake.Ops().front(), "OpenPort");
  EXPECT_EQ(fake.Ops()[1], "StartDocPort");
  EXPECT_EQ(fake.Ops().back(), "EndDocPort");
  EXPECT_EQ(fake.Calls()[1].number, 7u);  // the job id reaches the port monitor
  EXPECT_EQ(seen, (std::vector<std::string>{"OpenPrinter", "SetJob", "ClosePrinter"}));
  const std::vector<ClientCall> calls = spooler.ClientCalls();
  EXPECT_EQ(calls[0].printer, "Office Laser");
  EXPECT_EQ(calls[1].jobId, 7u);
  EXPECT_EQ(calls[1].command, static_cast<DWORD>(JOB_CONTROL_CANCEL));
  EXPECT_TRUE(calls[1].ok);
  EXPECT_EQ(spooler.OpenPrinterHandles(), 0);
}

TEST_F(SpoolerTest, ShortWritesContinueWithTheRest) {
  // A port monitor that takes at most three bytes per write.
  static std::string sink;
  sink.clear();
  MONITOR trickle = fake.table;
  trickle.pfnWritePort = [](HANDLE, LPBYTE data, DWORD count, LPDWORD written) -> BOOL {
    *written = std::min<DWORD>(count, 3);
    sink.append(reinterpret_cast<char*>(data), *written);
    return TRUE;
  };
  std::string error;
  ASSERT_TRUE(spooler.Initialize(error));
  DWORD openError = 0;
  ASSERT_TRUE(spooler.OpenPort(u"LPT2:", &trickle, openError));
  const JobResult result = spooler.PrintJob(1, u"doc", Source("0123456789abcdefghij", 8));
  EXPECT_TRUE(result.complete);
  EXPECT_EQ(result.bytesSent, 20u);
  EXPECT_EQ(sink, "0123456789abcdefghij");
}

TEST_F(SpoolerTest, FailuresStillEndTheDocument) {
  Open();
  struct Case {
    const char* what;
    bool failWrite;
    DWORD shortBy;
    bool failSource;
    DWORD error;
  };
  const Case cases[] = {
      {"write fails", true, 0, false, ERROR_CONNECTION_ABORTED},
      {"port takes nothing", false, 1u << 20, false, ERROR_TIMEOUT},
      {"source fails", false, 0, true, 0},
  };
  DWORD job = 10;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fake.failWritePort = c.failWrite;
    fake.failError = c.error;
    fake.shortWriteBy = c.shortBy;
    fake.ClearCalls();
    const JobResult result = spooler.PrintJob(++job, u"doc", Source("payload", 3, c.failSource));
    EXPECT_TRUE(result.started);
    EXPECT_FALSE(result.complete);
    EXPECT_EQ(result.sourceFailed, c.failSource);
    EXPECT_EQ(result.error, c.error);
    EXPECT_EQ(fake.Ops().back(), "EndDocPort");
    EXPECT_TRUE(result.released);  // the monitor releases the job all the same
  }
}

TEST_F(SpoolerTest, RefusedDocumentIsNotEnded) {
  Open();
  fake.failStartDocPort = true;
  fake.failError = ERROR_ACCESS_DENIED;
  const JobResult result = spooler.PrintJob(3, u"doc", Source("x", 1));
  EXPECT_FALSE(result.started);
  EXPECT_EQ(result.error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(fake.Ops().back(), "StartDocPort");
  EXPECT_FALSE(result.released);
}

TEST_F(SpoolerTest, ClientCallsKnowOnlyThisPrinterAndItsHandles) {
  Open();
  HANDLE printer = nullptr;
  std::u16string other = u"Someone Else";
  EXPECT_FALSE(spooler.OnOpenPrinter(other.data(), &printer));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PRINTER_NAME));
  EXPECT_EQ(printer, nullptr);
  std::u16string same = u"office LASER";  // printer names ignore letter case
  ASSERT_TRUE(spooler.OnOpenPrinter(same.data(), &printer));
  EXPECT_EQ(spooler.OpenPrinterHandles(), 1);
  EXPECT_FALSE(spooler.OnSetJob(nullptr, 4, JOB_CONTROL_CANCEL));
  EXPECT_FALSE(spooler.OnSetJob(reinterpret_cast<HANDLE>(0x1), 4, JOB_CONTROL_CANCEL));
  EXPECT_TRUE(spooler.OnSetJob(printer, 4, JOB_CONTROL_PAUSE));
  EXPECT_TRUE(spooler.OnClosePrinter(printer));
  EXPECT_FALSE(spooler.OnClosePrinter(printer));  // closed twice
  EXPECT_EQ(spooler.OpenPrinterHandles(), 0);
}

TEST_F(SpoolerTest, ConfigurationRequestsOnlyOnParallelPorts) {
  Open(u"COM1:");
  ConfigRecord record{};
  record.Copies = 99;
  EXPECT_FALSE(spooler.GetConfigObjects(record));
  EXPECT_EQ(record.Copies, 0u);  // the buffer starts out cleared
  EXPECT_EQ(fake.Written(), "");
  // The device ID goes to the port monitor on every kind of port.
  char id[64] = {};
  DWORD returned = 0;
  EXPECT_TRUE(spooler.GetPrinterData(u"GetDeviceID", 0, id, sizeof id, &returned));
  EXPECT_EQ(fake.Ops().back(), "GetPrinterDataFromPort");
}

// ---- the monitor's clock ----------------------------------------------------------

TEST_F(SpoolerTest, PastTheDeadlineEveryExchangeEndsAtItsFirstLookAtTheClock) {
  // The fake port answers nothing: with the real clock each exchange would
  // poll it for the monitor's five seconds.
  Open();
  spooler.SetDeadline(std::chrono::steady_clock::now());
  ConfigRecord record{};
  EXPECT_TRUE(spooler.GetConfigObjects(record));
  EXPECT_EQ(record.CfgFlags, 0x0FFFFFFFu) << "the defaults, the probe unanswered";
  const std::vector<std::string> ops = fake.Ops();
  EXPECT_EQ(std::count(ops.begin(), ops.end(), "ReadPort"), 0);
  EXPECT_NE(fake.Written().find(kEchoPrefix), std::string::npos);
  EXPECT_TRUE(spooler.RanOutOfTime());
}

// The port monitor's ReadPort for the next test: it tells the spooler to
// stop waiting after a given number of reads.
Spooler* g_waiting = nullptr;
int g_readsBeforeStop = 0;
int g_reads = 0;

BOOL WINAPI ReadThenStop(HANDLE, LPBYTE, DWORD, LPDWORD read) {
  *read = 0;
  if (++g_reads == g_readsBeforeStop) g_waiting->StopWaiting();
  return TRUE;
}

TEST_F(SpoolerTest, StopWaitingEndsTheExchangeForTheRestOfTheRequestOnly) {
  fake.table.pfnReadPort = &ReadThenStop;
  Open();
  g_waiting = &spooler;
  for (const int reads : {1, 3}) {
    // Each request runs on the real clock until it is told to stop: the
    // probe reads until then, and no exchange after it reads at all.
    g_reads = 0;
    g_readsBeforeStop = reads;
    ConfigRecord record{};
    EXPECT_TRUE(spooler.GetConfigObjects(record));
    EXPECT_EQ(g_reads, reads);
  }
  EXPECT_FALSE(spooler.RanOutOfTime());
  g_waiting = nullptr;
}

TEST(Spooler, SeamsAreHandedBackWhenTheSpoolerGoes) {
  const SpoolerSeams before = g_Seams;
  {
    Spooler spooler(u"p");
    EXPECT_NE(g_Seams.SetJob, before.SetJob);
    EXPECT_NE(g_Seams.GetTickCount, before.GetTickCount);
  }
  EXPECT_EQ(g_Seams.OpenPrinter, before.OpenPrinter);
  EXPECT_EQ(g_Seams.SetJob, before.SetJob);
  EXPECT_EQ(g_Seams.ClosePrinter, before.ClosePrinter);
  EXPECT_EQ(g_Seams.GetTickCount, before.GetTickCount);
}

TEST(Spooler, PortIsClosedWhenTheSpoolerGoes) {
  FakePortMonitor fake;
  {
    Spooler spooler(u"p");
    std::string error;
    ASSERT_TRUE(spooler.Initialize(error));
    DWORD openError = 0;
    ASSERT_TRUE(spooler.OpenPort(u"LPT3:", &fake.table, openError));
  }
  EXPECT_EQ(fake.Ops().back(), "ClosePort");
  // The port name is free again.
  Spooler again(u"p");
  std::string error;
  ASSERT_TRUE(again.Initialize(error));
  DWORD openError = 0;
  EXPECT_TRUE(again.OpenPort(u"LPT3:", &fake.table, openError));
}

}  // namespace
}  // namespace langmon::host

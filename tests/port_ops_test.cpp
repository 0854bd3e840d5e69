// Port pass-through: the monitor's port operations against a recording port
// monitor and recording spooler calls.
#include "port/port_ops.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "fake_port_monitor.h"
#include "monitor/monitor.h"
#include "monitor_fixture.h"

namespace langmon {
namespace {

using testing::FakePortMonitor;
using testing::OpenMonitorPort;
using testing::PortTableSize;
using testing::SeamScope;
using testing::WString;

const MONITOR& Table() {
  testing::EnsureMonitorInitialised();
  return MonitorTable()->Monitor;
}

PortEntry* Entry(HANDLE h) { return static_cast<PortEntry*>(h); }

BOOL Start(HANDLE port, const WCHAR* printer, DWORD job) {
  WString name = printer;
  return Table().pfnStartDocPort(port, name.data(), job, 1, nullptr);
}

BOOL Write(HANDLE port, const std::string& data, DWORD* written) {
  std::string copy = data;
  return Table().pfnWritePort(port, reinterpret_cast<LPBYTE>(copy.data()),
                              static_cast<DWORD>(copy.size()), written);
}

class PortOps : public ::testing::Test {
 protected:
  void TearDown() override {
    for (HANDLE h : open_) Table().pfnClosePort(h);
  }
  HANDLE Open(const WCHAR* port, const WCHAR* printer = LM_W("Printer")) {
    HANDLE h = OpenMonitorPort(fake_, port, printer);
    if (h) open_.push_back(h);
    return h;
  }
  void Close(HANDLE h) {
    std::erase(open_, h);
    EXPECT_TRUE(Table().pfnClosePort(h));
  }
  void MakeRequest(HANDLE h) {
    // A printer-data request leaves the port active between documents.
    Table().pfnGetPrinterDataFromPort(h, 0, const_cast<LPWSTR>(LM_W("Nothing")), nullptr, 0,
                                      nullptr, 0, nullptr);
  }

  SeamScope spooler_;
  FakePortMonitor fake_;
  std::vector<HANDLE> open_;
};

TEST_F(PortOps, OpenPortExRefusesANameAlreadyOpenInAnyCase) {
  const std::size_t before = PortTableSize();
  HANDLE first = Open(LM_W("LPT1:"));
  ASSERT_NE(first, nullptr);
  const WString portMonitorName = fake_.Calls().back().name;
  EXPECT_EQ(portMonitorName, WString(LM_W("LPT1:")));

  SetLastError(0);
  EXPECT_EQ(Open(LM_W("LPT1:")), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUSY));
  EXPECT_EQ(Open(LM_W("lpt1:")), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUSY));
  EXPECT_EQ(fake_.Ops(), std::vector<std::string>{"OpenPort"});  // refused before the port monitor

  EXPECT_NE(Open(LM_W("LPT1")), nullptr);  // a different port name
  EXPECT_EQ(PortTableSize(), before + 2);
  EXPECT_EQ(lstrcmpW(Entry(first)->PrinterName, LM_W("Printer")), 0);
}

TEST_F(PortOps, OpenPortExNeedsTheFiveCorePortMonitorOperations) {
  const std::size_t before = PortTableSize();
  HANDLE h = nullptr;
  WString port = LM_W("LPT2:");
  SetLastError(0);
  EXPECT_FALSE(Table().pfnOpenPortEx(port.data(), nullptr, &h, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PRINT_MONITOR));

  for (int missing = 0; missing < 5; ++missing) {
    FakePortMonitor broken;
    if (missing == 0) broken.table.pfnOpenPort = nullptr;
    if (missing == 1) broken.table.pfnStartDocPort = nullptr;
    if (missing == 2) broken.table.pfnWritePort = nullptr;
    if (missing == 3) broken.table.pfnReadPort = nullptr;
    if (missing == 4) broken.table.pfnClosePort = nullptr;
    SetLastError(0);
    EXPECT_FALSE(Table().pfnOpenPortEx(port.data(), nullptr, &h, &broken.table));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PRINT_MONITOR));
    EXPECT_TRUE(broken.Calls().empty());
  }
  EXPECT_EQ(PortTableSize(), before);
}

TEST_F(PortOps, FailedOpenPortLeavesThePortNameFree) {
  const std::size_t before = PortTableSize();
  fake_.failOpenPort = true;
  fake_.failError = 1234;
  HANDLE h = reinterpret_cast<HANDLE>(0x1);
  WString port = LM_W("LPT3:");
  SetLastError(0);
  EXPECT_FALSE(Table().pfnOpenPortEx(port.data(), nullptr, &h, &fake_.table));
  EXPECT_EQ(GetLastError(), 1234u);  // the port monitor's own reason
  EXPECT_EQ(h, reinterpret_cast<HANDLE>(0x1));
  EXPECT_EQ(PortTableSize(), before);
  fake_.failOpenPort = false;
  EXPECT_NE(Open(LM_W("LPT3:")), nullptr);
}

TEST_F(PortOps, OpenPortExCopiesOnlyTheFourteenSlots) {
  HANDLE h = Open(LM_W("LPT4:"));
  ASSERT_NE(h, nullptr);
  PortEntry* e = Entry(h);
  EXPECT_EQ(e->Monitor.pfnWritePort, fake_.table.pfnWritePort);
  EXPECT_EQ(e->Monitor.pfnSetPortTimeOuts, fake_.table.pfnSetPortTimeOuts);
  EXPECT_NE(e->PortMonitorHandle, nullptr);
#if defined(_WIN32)
  // Slots beyond the NT 4.0 table are never read from the port monitor.
  FakePortMonitor extended;
  extended.table.pfnXcvClosePort =
      reinterpret_cast<decltype(extended.table.pfnXcvClosePort)>(extended.table.pfnClosePort);
  HANDLE h2 = OpenMonitorPort(extended, LM_W("LPT5:"), LM_W("p"));
  ASSERT_NE(h2, nullptr);
  EXPECT_EQ(Entry(h2)->Monitor.pfnXcvClosePort, nullptr);
  Table().pfnClosePort(h2);
#endif
}

TEST_F(PortOps, WritesAndReadsReachThePortOnlyWhileActive) {
  HANDLE h = Open(LM_W("LPT1:"));
  fake_.ClearCalls();
  DWORD written = 99;
  EXPECT_FALSE(Write(h, "abc", &written));
  EXPECT_EQ(written, 0u);
  BYTE buffer[8];
  DWORD read = 99;
  EXPECT_FALSE(Table().pfnReadPort(h, buffer, sizeof buffer, &read));
  EXPECT_EQ(read, 0u);
  EXPECT_TRUE(fake_.Calls().empty());

  MakeRequest(h);
  EXPECT_TRUE(Write(h, "abc", &written));
  EXPECT_EQ(written, 3u);
  fake_.QueueRead("xy");
  EXPECT_TRUE(Table().pfnReadPort(h, buffer, sizeof buffer, &read));
  EXPECT_EQ(read, 2u);
  EXPECT_EQ(fake_.Written(), "abc");
}

TEST_F(PortOps, PortMonitorWriteResultsPassThroughUnchanged) {
  HANDLE h = Open(LM_W("LPT1:"));
  ASSERT_TRUE(Start(h, LM_W("Printer"), 1));
  DWORD written = 0;
  fake_.shortWriteBy = 2;
  EXPECT_TRUE(Write(h, "hello", &written));
  EXPECT_EQ(written, 3u);
  fake_.failWritePort = true;
  fake_.failError = 1117;  // ERROR_IO_DEVICE
  SetLastError(0);
  EXPECT_FALSE(Write(h, "hello", &written));
  EXPECT_EQ(GetLastError(), 1117u);
}

TEST_F(PortOps, DocumentLifecycleReportsTheJobToTheSpooler) {
  HANDLE h = Open(LM_W("LPT1:"), LM_W("Office"));
  fake_.ClearCalls();
  ASSERT_TRUE(Start(h, LM_W("Office"), 42));
  EXPECT_EQ(LoadFlags(Entry(h)), ParallelPort | InDocument | PortActive);
  EXPECT_EQ(Entry(h)->JobId, 42u);
  DWORD written = 0;
  EXPECT_TRUE(Write(h, "data", &written));
  EXPECT_TRUE(Table().pfnEndDocPort(h));
  EXPECT_EQ(LoadFlags(Entry(h)), ParallelPort);
  EXPECT_EQ(fake_.Ops(), (std::vector<std::string>{"StartDocPort", "WritePort", "EndDocPort"}));
  EXPECT_EQ(fake_.Calls()[0].number, 42u);
  EXPECT_EQ(fake_.Calls()[0].name, WString(LM_W("Office")));

  auto calls = spooler_.Calls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].op, "OpenPrinter");
  EXPECT_EQ(calls[0].printer, WString(LM_W("Office")));
  EXPECT_EQ(calls[1].op, "SetJob");
  EXPECT_EQ(calls[1].handle, calls[0].handle);
  EXPECT_EQ(calls[1].jobId, 42u);
  EXPECT_EQ(calls[1].command, static_cast<DWORD>(JOB_CONTROL_CANCEL));
  EXPECT_EQ(calls[2].op, "ClosePrinter");
  EXPECT_EQ(Entry(h)->PrinterHandle, nullptr);
  EXPECT_EQ(spooler_.OpenPrinterHandles(), 0);
}

TEST_F(PortOps, SecondDocumentIsRefusedWhileOneIsInProgress) {
  HANDLE h = Open(LM_W("LPT1:"));
  ASSERT_TRUE(Start(h, LM_W("Printer"), 1));
  fake_.ClearCalls();
  SetLastError(0);
  EXPECT_FALSE(Start(h, LM_W("Other"), 2));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUSY));
  EXPECT_TRUE(fake_.Calls().empty());
  EXPECT_EQ(Entry(h)->JobId, 1u);
  EXPECT_EQ(lstrcmpW(Entry(h)->PrinterName, LM_W("Printer")), 0);
  DWORD written = 0;
  EXPECT_TRUE(Write(h, "x", &written));  // the first document goes on
  EXPECT_TRUE(Table().pfnEndDocPort(h));
  EXPECT_EQ(spooler_.Calls().back().op, "ClosePrinter");
  EXPECT_TRUE(Start(h, LM_W("Printer"), 3));
  Table().pfnEndDocPort(h);
}

TEST_F(PortOps, DocumentAfterARequestEndsThePortMonitorDocumentFirst) {
  HANDLE h = Open(LM_W("LPT1:"));
  MakeRequest(h);
  fake_.ClearCalls();
  ASSERT_TRUE(Start(h, LM_W("Printer"), 5));
  EXPECT_EQ(fake_.Ops(), (std::vector<std::string>{"EndDocPort", "StartDocPort"}));
  Table().pfnEndDocPort(h);
}

TEST_F(PortOps, RefusedDocumentLeavesThePortIdle) {
  HANDLE h = Open(LM_W("LPT1:"), LM_W("Printer"));
  MakeRequest(h);
  fake_.failStartDocPort = true;
  fake_.failError = 1234;
  SetLastError(0);
  EXPECT_FALSE(Start(h, LM_W("Elsewhere"), 9));
  EXPECT_EQ(GetLastError(), 1234u);
  EXPECT_EQ(LoadFlags(Entry(h)), ParallelPort);
  EXPECT_EQ(Entry(h)->JobId, 0u);
  EXPECT_EQ(lstrcmpW(Entry(h)->PrinterName, LM_W("Printer")), 0);
  EXPECT_TRUE(spooler_.Calls().empty());
  fake_.ClearCalls();
  DWORD written = 7;
  EXPECT_FALSE(Write(h, "x", &written));
  EXPECT_TRUE(fake_.Calls().empty());
  fake_.failStartDocPort = false;
  EXPECT_TRUE(Start(h, LM_W("Printer"), 10));
  Table().pfnEndDocPort(h);
}

TEST_F(PortOps, PrinterNameCopyFollowsTheDocumentsExactly) {
  HANDLE h = Open(LM_W("LPT1:"), LM_W("Office"));
  LPWSTR original = Entry(h)->PrinterName;
  ASSERT_TRUE(Start(h, LM_W("Office"), 1));
  EXPECT_EQ(Entry(h)->PrinterName, original);  // same name: the copy stays
  Table().pfnEndDocPort(h);
  ASSERT_TRUE(Start(h, LM_W("Office"), 2));
  EXPECT_EQ(Entry(h)->PrinterName, original);
  Table().pfnEndDocPort(h);
  auto calls = spooler_.Calls();
  EXPECT_EQ(std::count_if(calls.begin(), calls.end(),
                          [](const auto& c) { return c.op == "OpenPrinter"; }),
            2);  // opened again for the second document

  spooler_.ClearCalls();
  ASSERT_TRUE(Start(h, LM_W("OFFICE"), 3));  // letter case counts
  EXPECT_EQ(lstrcmpW(Entry(h)->PrinterName, LM_W("OFFICE")), 0);
  EXPECT_EQ(spooler_.Calls().front().printer, WString(LM_W("OFFICE")));
  Table().pfnEndDocPort(h);
}

TEST_F(PortOps, DifferentPrinterReplacesAnOpenPrinterHandle) {
  HANDLE h = Open(LM_W("LPT1:"), LM_W("A"));
  ASSERT_TRUE(Start(h, LM_W("A"), 1));
  // A document cut short without EndDocPort leaves its printer handle open; a
  // document for another printer closes it before opening its own.
  HANDLE first = Entry(h)->PrinterHandle;
  ASSERT_NE(first, nullptr);
  ClearFlags(Entry(h), InDocument);  // as if the document had been cut short
  ASSERT_TRUE(Start(h, LM_W("B"), 2));
  auto calls = spooler_.Calls();
  ASSERT_GE(calls.size(), 3u);
  EXPECT_EQ(calls[1].op, "ClosePrinter");
  EXPECT_EQ(calls[1].handle, first);
  EXPECT_EQ(calls[2].op, "OpenPrinter");
  EXPECT_EQ(calls[2].printer, WString(LM_W("B")));
  Table().pfnEndDocPort(h);
  EXPECT_EQ(spooler_.OpenPrinterHandles(), 0);
}

TEST_F(PortOps, NullStoredPrinterNameTakesTheDocumentsName) {
  HANDLE h = nullptr;
  WString port = LM_W("LPT6:");
  ASSERT_TRUE(Table().pfnOpenPortEx(port.data(), nullptr, &h, &fake_.table));
  open_.push_back(h);
  EXPECT_EQ(Entry(h)->PrinterName, nullptr);
  ASSERT_TRUE(Start(h, LM_W("Late"), 1));
  EXPECT_EQ(lstrcmpW(Entry(h)->PrinterName, LM_W("Late")), 0);
  Table().pfnEndDocPort(h);
}

TEST_F(PortOps, UnopenablePrinterDoesNotStopTheDocument) {
  HANDLE h = Open(LM_W("LPT1:"));
  spooler_.failOpenPrinter = true;
  ASSERT_TRUE(Start(h, LM_W("Printer"), 8));
  EXPECT_EQ(Entry(h)->PrinterHandle, nullptr);
  EXPECT_TRUE(Table().pfnEndDocPort(h));
  auto calls = spooler_.Calls();
  ASSERT_EQ(calls.size(), 2u);  // OpenPrinter, SetJob: no ClosePrinter without a handle
  EXPECT_EQ(calls[1].op, "SetJob");
  EXPECT_EQ(calls[1].handle, nullptr);
}

TEST_F(PortOps, EndDocPortWithoutADocumentStillEndsAndReports) {
  HANDLE h = Open(LM_W("LPT1:"));
  fake_.ClearCalls();
  EXPECT_TRUE(Table().pfnEndDocPort(h));
  EXPECT_EQ(fake_.Ops(), std::vector<std::string>{"EndDocPort"});
  ASSERT_EQ(spooler_.Calls().size(), 1u);
  EXPECT_EQ(spooler_.Calls()[0].op, "SetJob");
}

TEST_F(PortOps, ClosePortDuringADocumentReleasesEverything) {
  const std::size_t before = PortTableSize();
  HANDLE h = Open(LM_W("LPT1:"));
  ASSERT_TRUE(Start(h, LM_W("Printer"), 3));
  fake_.ClearCalls();
  spooler_.ClearCalls();
  Close(h);
  EXPECT_EQ(fake_.Ops(), std::vector<std::string>{"ClosePort"});
  ASSERT_EQ(spooler_.Calls().size(), 1u);
  EXPECT_EQ(spooler_.Calls()[0].op, "ClosePrinter");
  EXPECT_EQ(spooler_.OpenPrinterHandles(), 0);
  EXPECT_EQ(PortTableSize(), before);
}

TEST_F(PortOps, PortMonitorWithoutEndDocPortIsAccepted) {
  FakePortMonitor bare;
  bare.table.pfnEndDocPort = nullptr;
  HANDLE h = OpenMonitorPort(bare, LM_W("LPT8:"), LM_W("Printer"));
  ASSERT_NE(h, nullptr);
  MakeRequest(h);
  EXPECT_TRUE(Start(h, LM_W("Printer"), 1));  // would end a port monitor document
  EXPECT_TRUE(Table().pfnEndDocPort(h));
  EXPECT_EQ(bare.Ops(), (std::vector<std::string>{"OpenPort", "StartDocPort"}));
  Table().pfnClosePort(h);
}

// ---- threads ---------------------------------------------------------------

TEST_F(PortOps, ThreadsPrintingOnDifferentPortsKeepTheTableConsistent) {
  const std::size_t before = PortTableSize();
  fake_.recordCalls = false;
  constexpr int kThreads = 4, kRounds = 50;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      WString port = LM_W("COM");
      port.push_back(static_cast<WCHAR>('1' + t));
      for (int r = 0; r < kRounds; ++r) {
        HANDLE h = OpenMonitorPort(fake_, port, r % 2 ? LM_W("A") : LM_W("B"));
        if (!h) {
          ++failures;
          continue;
        }
        DWORD written = 0;
        if (!Start(h, r % 3 ? LM_W("A") : LM_W("C"), static_cast<DWORD>(r)) ||
            !Write(h, "page", &written) || written != 4)
          ++failures;
        Table().pfnEndDocPort(h);
        Table().pfnClosePort(h);
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(PortTableSize(), before);
  EXPECT_EQ(spooler_.OpenPrinterHandles(), 0);
}

TEST_F(PortOps, ThreadsRacingOnOnePortNeverShareADocument) {
  HANDLE h = Open(LM_W("LPT9:"));
  fake_.recordCalls = false;
  constexpr int kThreads = 4, kRounds = 200;
  std::atomic<int> inside{0}, overlap{0}, started{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int r = 0; r < kRounds; ++r) {
        if (t == 0 && r % 4 == 0) {
          MakeRequest(h);  // a request between or during documents
          continue;
        }
        if (Start(h, t % 2 ? LM_W("A") : LM_W("B"), static_cast<DWORD>(r))) {
          ++started;
          if (inside.fetch_add(1) != 0) ++overlap;
          DWORD written = 0;
          Write(h, "x", &written);
          inside.fetch_sub(1);
          Table().pfnEndDocPort(h);
        }
      }
    });
  }
  // Two threads racing for the same port must never both be inside a document.
  for (auto& th : threads) th.join();
  EXPECT_EQ(overlap.load(), 0);
  EXPECT_GT(started.load(), 0);
  EXPECT_EQ(LoadFlags(Entry(h)) & InDocument, 0u);
  EXPECT_EQ(spooler_.OpenPrinterHandles(), 0);
}

TEST_F(PortOps, ConcurrentOpensOfOneNameMakeExactlyOneEntry) {
  const std::size_t before = PortTableSize();
  fake_.recordCalls = false;
  constexpr int kThreads = 4;
  std::atomic<int> opened{0};
  std::vector<HANDLE> handles(kThreads, nullptr);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      handles[t] = OpenMonitorPort(fake_, t % 2 ? LM_W("lpt7") : LM_W("LPT7"), LM_W("p"));
      if (handles[t]) ++opened;
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(opened.load(), 1);
  EXPECT_EQ(PortTableSize(), before + 1);
  for (HANDLE hh : handles)
    if (hh) Close(hh);
}

// A WritePort whose result and reported count the test chooses.
BOOL g_writeResult = TRUE;
DWORD g_writeReports = 0;
BOOL WINAPI ChosenWritePort(HANDLE, LPBYTE, DWORD, LPDWORD written) {
  *written = g_writeReports;
  return g_writeResult;
}

TEST_F(PortOps, WriteWholeNeedsEveryByteAndForFramingTextsASuccessfulWrite) {
  fake_.table.pfnWritePort = &ChosenWritePort;
  HANDLE h = Open(LM_W("LPT8:"));
  ASSERT_NE(h, nullptr);
  const char text[] = "@PJL \n";
  const DWORD length = sizeof text - 1;
  EXPECT_FALSE(WriteWhole(Entry(h), text, length, WriteCheck::CountOnly))
      << "an inactive port takes nothing";
  SetFlags(Entry(h), PortActive);
  const struct {
    BOOL result;
    DWORD reports;
    WriteCheck check;
    BOOL whole;
  } cases[] = {
      {TRUE, length, WriteCheck::ResultAndCount, TRUE},
      {TRUE, length, WriteCheck::CountOnly, TRUE},
      {FALSE, length, WriteCheck::ResultAndCount, FALSE},
      {FALSE, length, WriteCheck::CountOnly, TRUE},  // the result is not consulted
      {TRUE, length - 1, WriteCheck::ResultAndCount, FALSE},
      {TRUE, length - 1, WriteCheck::CountOnly, FALSE},
      {TRUE, length + 1, WriteCheck::ResultAndCount, FALSE},
      {TRUE, length + 1, WriteCheck::CountOnly, FALSE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.result) + " " + std::to_string(c.reports));
    g_writeResult = c.result;
    g_writeReports = c.reports;
    EXPECT_EQ(WriteWhole(Entry(h), text, length, c.check), c.whole);
  }
}

}  // namespace
}  // namespace langmon

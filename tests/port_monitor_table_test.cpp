// The helper every port monitor makes its table with: OpenPort reaches the
// object the table was made for, from any copy of the table, until the
// table goes.
#include "port_monitor_table.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <thread>
#include <vector>

namespace langmon::portmonitor {
namespace {

// An object behind a table: OpenPort hands out a handle that names it.
struct Target {
  int opened = 0;
};

BOOL OpenTarget(void* context, LPWSTR, PHANDLE handle) {
  auto* target = static_cast<Target*>(context);
  ++target->opened;
  *handle = target;
  return TRUE;
}

BOOL WINAPI ClosePort(HANDLE) { return TRUE; }
BOOL WINAPI WritePort(HANDLE, LPBYTE, DWORD, LPDWORD) { return TRUE; }

constexpr PortOperations kOperations = {
    .OpenPort = &OpenTarget,
    .WritePort = &WritePort,
    .ClosePort = &ClosePort,
};

HANDLE OpenThrough(const MONITOR& table) {
  WCHAR name[] = LM_W("LPT1:");
  HANDLE handle = nullptr;
  return table.pfnOpenPort(name, &handle) ? handle : nullptr;
}

TEST(PortMonitorTable, EachTableOpensPortsOnItsOwnObjectFromAnyCopy) {
  Target a, b;
  PortMonitorTable tableA(kOperations, &a);
  PortMonitorTable tableB(kOperations, &b);
  ASSERT_NE(tableA.Table().pfnOpenPort, nullptr);
  EXPECT_NE(tableA.Table().pfnOpenPort, tableB.Table().pfnOpenPort);
  const MONITOR copyOfB = tableB.Table();
  EXPECT_EQ(OpenThrough(copyOfB), &b);
  EXPECT_EQ(OpenThrough(tableA.Table()), &a);
  EXPECT_EQ(a.opened, 1);
  EXPECT_EQ(b.opened, 1);
  // The other slots are the ones given; the rest stay null.
  EXPECT_EQ(copyOfB.pfnWritePort, &WritePort);
  EXPECT_EQ(copyOfB.pfnClosePort, &ClosePort);
  EXPECT_EQ(copyOfB.pfnReadPort, nullptr);
  EXPECT_EQ(copyOfB.pfnOpenPortEx, nullptr);
  EXPECT_EQ(copyOfB.pfnSetPortTimeOuts, nullptr);
}

TEST(PortMonitorTable, OpenPortThroughAnOldCopyFailsOnceTheTableIsGone) {
  Target target;
  MONITOR copy{};
  {
    PortMonitorTable table(kOperations, &target);
    copy = table.Table();
  }
  SetLastError(0);
  EXPECT_EQ(OpenThrough(copy), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(target.opened, 0);
}

TEST(PortMonitorTable, WithEverySlotTakenATableHasNoOpenPortUntilOneIsFreed) {
  Target target;
  std::vector<std::unique_ptr<PortMonitorTable>> tables;
  while (tables.size() <= kOpenPortSlots) {
    tables.push_back(std::make_unique<PortMonitorTable>(kOperations, &target));
    if (!tables.back()->Table().pfnOpenPort) break;
  }
  ASSERT_LE(tables.size(), kOpenPortSlots + 1);
  EXPECT_EQ(tables.back()->Table().pfnOpenPort, nullptr) << "no table went without OpenPort";
  EXPECT_NE(tables.back()->Table().pfnClosePort, nullptr);
  tables.erase(tables.begin());
  PortMonitorTable again(kOperations, &target);
  EXPECT_EQ(OpenThrough(again.Table()), &target);
}

TEST(PortMonitorTable, ATableWithoutOpenPortTakesNoSlot) {
  PortOperations noOpen = kOperations;
  noOpen.OpenPort = nullptr;
  std::vector<std::unique_ptr<PortMonitorTable>> tables;
  for (std::size_t i = 0; i <= kOpenPortSlots; ++i) {
    tables.push_back(std::make_unique<PortMonitorTable>(noOpen, nullptr));
    EXPECT_EQ(tables.back()->Table().pfnOpenPort, nullptr);
  }
  Target target;
  PortMonitorTable table(kOperations, &target);
  EXPECT_EQ(OpenThrough(table.Table()), &target);
}

// A table that wraps another opens the inner port through the inner table,
// as the host's observing wrapper does.
struct Wrapper {
  MONITOR inner;
};

BOOL OpenInner(void* context, LPWSTR name, PHANDLE handle) {
  return static_cast<Wrapper*>(context)->inner.pfnOpenPort(name, handle);
}

TEST(PortMonitorTable, AWrappingTableReachesTheInnerObject) {
  Target target;
  PortMonitorTable inner(kOperations, &target);
  Wrapper wrapper{inner.Table()};
  PortOperations wrapping = kOperations;
  wrapping.OpenPort = &OpenInner;
  PortMonitorTable outer(wrapping, &wrapper);
  EXPECT_EQ(OpenThrough(outer.Table()), &target);
}

TEST(PortMonitorTable, TablesMadeOnSeveralThreadsAtOnceGetTheirOwnOpenPort) {
  constexpr int kThreads = 8;
  Target targets[kThreads];
  HANDLE opened[kThreads] = {};
  decltype(MONITOR::pfnOpenPort) entries[kThreads] = {};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      PortMonitorTable table(kOperations, &targets[t]);
      entries[t] = table.Table().pfnOpenPort;
      for (int i = 0; i < 100; ++i) opened[t] = OpenThrough(table.Table());
      std::this_thread::yield();
    });
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(opened[t], &targets[t]);
    EXPECT_EQ(targets[t].opened, 100);
  }
}

}  // namespace
}  // namespace langmon::portmonitor

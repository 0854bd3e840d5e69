// The monitor frame: the table handed to the spooler and the port table.
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>

#include "fake_port_monitor.h"
#include "monitor/monitor.h"
#include "monitor_fixture.h"
#include "platform/platform_testing.h"

namespace langmon {
namespace {

using testing::EnsureMonitorInitialised;
using testing::FakePortMonitor;
using testing::PortTableSize;
using testing::SeamScope;
using testing::WString;

TEST(MonitorEntry, EmptyOrNullRootGivesNullWithInvalidParameter) {
  SetLastError(0);
  EXPECT_EQ(InitializePrintMonitor(nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  WCHAR empty[] = LM_W("");
  SetLastError(0);
  EXPECT_EQ(InitializePrintMonitor(empty), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(MonitorEntry, AnyNonEmptyRootGivesTheSameConstantTable) {
  WCHAR a[] = LM_W("x");
  WCHAR b[] = LM_W("System\\CurrentControlSet\\Control\\Print\\Monitors\\langmon");
  LPMONITOREX first = InitializePrintMonitor(a);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(InitializePrintMonitor(b), first);
  // A repeated call leaves the lock alone: it still works afterwards.
  LockMonitor();
  UnlockMonitor();
}

TEST(MonitorEntry, TableReportsFourteenSlotsAndFillsExactlyThePortOperations) {
  WCHAR root[] = LM_W("r");
  LPMONITOREX table = InitializePrintMonitor(root);
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->dwMonitorSize, 14 * sizeof(void*));
  EXPECT_EQ(table->dwMonitorSize, sizeof(void*) == 4 ? 56u : 112u);

  void* slots[kMonitorSlots];
  std::memcpy(slots, &table->Monitor, sizeof slots);
  for (std::size_t i = 0; i < kMonitorSlots; ++i) {
    const std::size_t slot = i + 1;  // slots are numbered from 1
    const bool filled = (slot >= 3 && slot <= 8) || slot == 13;
    EXPECT_EQ(slots[i] != nullptr, filled) << "slot " << slot;
  }
#if defined(_WIN32)
  // Later SDKs append slots; they must stay empty.
  EXPECT_EQ(table->Monitor.pfnXcvOpenPort, nullptr);
  EXPECT_EQ(table->Monitor.pfnXcvDataPort, nullptr);
  EXPECT_EQ(table->Monitor.pfnXcvClosePort, nullptr);
#endif
}

TEST(MonitorEntry, DllEntryPointAcceptsEveryReason) {
  for (DWORD reason : {DWORD(DLL_PROCESS_ATTACH), DWORD(DLL_THREAD_ATTACH),
                       DWORD(DLL_THREAD_DETACH), DWORD(DLL_PROCESS_DETACH)})
    EXPECT_TRUE(DllEntryPoint(nullptr, reason, nullptr));
}

// ---- port names ------------------------------------------------------------

struct KindCase {
  const WCHAR* name;
  DWORD kind;
};

TEST(PortTable, PortKindFollowsTheNameShape) {
  EnsureMonitorInitialised();
  const KindCase cases[] = {
      {LM_W("LPT1"), ParallelPort},
      {LM_W("lpt1"), ParallelPort},
      {LM_W("Lpt9:"), ParallelPort},
      {LM_W("LPT1:"), ParallelPort},
      {LM_W("COM1"), SerialPort},
      {LM_W("com9:"), SerialPort},
      {LM_W("FILE:"), FilePort},
      {LM_W("file:"), FilePort},
      {LM_W("LPT0"), 0},
      {LM_W("LPT10"), 0},
      {LM_W("COM10"), 0},
      {LM_W("LPT1::"), 0},
      {LM_W("LPTA"), 0},
      {LM_W("FILE"), 0},
      {LM_W("\\\\server\\share"), 0},
      {LM_W(""), 0},
      {LM_W("LPT1;"), 0},
      {LM_W("NUL:"), 0},
  };
  for (const KindCase& c : cases) {
    LockMonitor();
    PortEntry* e = NewPortEntry(c.name, nullptr);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(LoadFlags(e), c.kind) << "port kind of a name";
    EXPECT_TRUE(RemovePortEntry(e));
    UnlockMonitor();
    // What a host is told about the name is the kind the entry gets.
    EXPECT_EQ(ServesConfigurationRequests(c.name), c.kind == ParallelPort ? TRUE : FALSE);
  }
}

// The names a host is given for the ports it may run at once are exactly
// the ports the monitor serves: each one served, no two of them one port,
// and every served name of the parallel shape one of them in another case.
TEST(PortTable, ServedPortNamesAreEveryServedPortOnce) {
  for (LPCWSTR name : kServedPortNames) {
    EXPECT_TRUE(ServesConfigurationRequests(name));
    int same = 0;
    for (LPCWSTR other : kServedPortNames) same += lstrcmpiW(name, other) == 0 ? 1 : 0;
    EXPECT_EQ(same, 1) << "two names for one port";
  }
  for (const char* stem : {"LPT", "lpt", "LpT"})
    for (int c = 0x21; c < 0x7F; ++c)
      for (const char* tail : {"", ":", "::"}) {
        WCHAR name[8] = {};
        for (int i = 0; i < 3; ++i) name[i] = static_cast<WCHAR>(stem[i]);
        name[3] = static_cast<WCHAR>(c);
        for (int i = 0; tail[i] != '\0'; ++i) name[4 + i] = static_cast<WCHAR>(tail[i]);
        if (!ServesConfigurationRequests(name)) continue;
        int listed = 0;
        for (LPCWSTR served : kServedPortNames) listed += lstrcmpiW(name, served) == 0 ? 1 : 0;
        EXPECT_EQ(listed, 1) << "a served port without its name: LPT" << char(c) << tail;
      }
  EXPECT_EQ(std::size(kServedPortNames), 18u);
}

TEST(PortTable, NumberedShapeFoldsOnlyTheLetters) {
  EXPECT_TRUE(MatchNumberedPort("LpT3", kMatchLpt));
  EXPECT_FALSE(MatchNumberedPort("LPT3", kMatchCom));
  EXPECT_TRUE(MatchNumberedPort("cOm2:", kMatchCom | kMatchLpt));
  // Setting bit 0x20 folds letters; other bytes that fold onto them match too,
  // as the shape test always did.
  EXPECT_FALSE(MatchNumberedPort("LPT", kMatchLpt));
  EXPECT_FALSE(MatchNumberedPort("LPT1X", kMatchLpt));
}

TEST(PortTable, NameTooLongForTheAnsiBufferHasNoKind) {
  EnsureMonitorInitialised();
  WString longName(300, static_cast<WCHAR>('A'));
  longName.replace(0, 3, LM_W("LPT"));
  LockMonitor();
  PortEntry* e = NewPortEntry(longName.c_str(), nullptr);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(LoadFlags(e), 0u);
  EXPECT_EQ(lstrcmpW(e->PortName, longName.c_str()), 0);
  EXPECT_TRUE(RemovePortEntry(e));
  UnlockMonitor();
}

TEST(PortTable, NewEntryIsCompleteAndOwnsItsName) {
  EnsureMonitorInitialised();
  WString port = LM_W("LPT3:");
  LockMonitor();
  PortEntry* e = NewPortEntry(port.c_str(), LM_W("Printer A"));
  UnlockMonitor();
  ASSERT_NE(e, nullptr);
  port[0] = LM_W("X")[0];  // the entry keeps its own copy
  EXPECT_EQ(e->Signature, 0x4F50u);
  unsigned char sig[4];
  std::memcpy(sig, &e->Signature, 4);
  EXPECT_EQ(sig[0], 0x50);  // 'P'
  EXPECT_EQ(sig[1], 0x4F);  // 'O'
  EXPECT_EQ(e->Size, sizeof(PortEntry) + 2 * (5 + 1));
  EXPECT_EQ(lstrcmpW(e->PortName, LM_W("LPT3:")), 0);
  EXPECT_EQ(reinterpret_cast<BYTE*>(e->PortName), reinterpret_cast<BYTE*>(e) + sizeof(PortEntry));
  EXPECT_EQ(lstrcmpW(e->PrinterName, LM_W("Printer A")), 0);
  EXPECT_EQ(e->JobId, 0u);
  EXPECT_EQ(e->PrinterHandle, nullptr);
  EXPECT_EQ(e->Next, nullptr);
  EXPECT_EQ(LoadFlags(e), ParallelPort);
  MONITOR empty{};
  EXPECT_EQ(std::memcmp(&e->Monitor, &empty, sizeof empty), 0);
  LockMonitor();
  EXPECT_TRUE(RemovePortEntry(e));
  UnlockMonitor();
}

TEST(PortTable, NullPrinterNameStillMakesAnEntry) {
  EnsureMonitorInitialised();
  LockMonitor();
  PortEntry* e = NewPortEntry(LM_W("COM2"), nullptr);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->PrinterName, nullptr);
  EXPECT_EQ(LoadFlags(e), SerialPort);
  WCHAR buffer[8];
  EXPECT_FALSE(CopyPrinterName(e, buffer, 8));
  EXPECT_EQ(buffer[0], 0);
  EXPECT_TRUE(RemovePortEntry(e));
  UnlockMonitor();
}

TEST(PortTable, LookupIsCaseInsensitiveAndRemovalKeepsOrder) {
  EnsureMonitorInitialised();
  const std::size_t before = PortTableSize();
  LockMonitor();
  PortEntry* a = NewPortEntry(LM_W("LPT1:"), nullptr);
  PortEntry* b = NewPortEntry(LM_W("LPT1"), nullptr);  // a different name
  PortEntry* c = NewPortEntry(LM_W("COM3"), nullptr);
  PortEntry* d = NewPortEntry(LM_W("FILE:"), nullptr);
  EXPECT_EQ(FindPortEntry(FirstPortEntry(), LM_W("lpt1:")), a);
  EXPECT_EQ(FindPortEntry(FirstPortEntry(), LM_W("Lpt1")), b);
  EXPECT_EQ(FindPortEntry(FirstPortEntry(), nullptr), nullptr);
  EXPECT_EQ(FindPortEntry(FirstPortEntry(), LM_W("LPT2")), nullptr);

  EXPECT_TRUE(RemovePortEntry(c));  // middle
  EXPECT_EQ(b->Next, d);
  EXPECT_TRUE(RemovePortEntry(d));  // last
  EXPECT_EQ(b->Next, nullptr);
  UnlockMonitor();
  EXPECT_EQ(PortTableSize(), before + 2);

  LockMonitor();
  EXPECT_TRUE(RemovePortEntry(a));  // first
  EXPECT_EQ(FindPortEntry(FirstPortEntry(), LM_W("LPT1")), b);
  EXPECT_TRUE(RemovePortEntry(b));
  UnlockMonitor();
  EXPECT_EQ(PortTableSize(), before);
}

TEST(PortTable, RemovingAnEntryThatIsNotInTheTableFails) {
  EnsureMonitorInitialised();
  LockMonitor();
  PortEntry* kept = NewPortEntry(LM_W("LPT5"), nullptr);
  // A block shaped like an entry but never linked.
  PortEntry outside{};
  outside.PortName = const_cast<LPWSTR>(LM_W("LPT6"));
  const std::size_t size = [] {
    std::size_t n = 0;
    for (const PortEntry* e = FirstPortEntry(); e; e = e->Next) ++n;
    return n;
  }();
  EXPECT_FALSE(RemovePortEntry(&outside));
  std::size_t after = 0;
  for (const PortEntry* e = FirstPortEntry(); e; e = e->Next) ++after;
  EXPECT_EQ(after, size);
  EXPECT_TRUE(RemovePortEntry(kept));
  UnlockMonitor();
}

TEST(PortTable, CopyPrinterNameRefusesANameThatDoesNotFit) {
  EnsureMonitorInitialised();
  LockMonitor();
  PortEntry* e = NewPortEntry(LM_W("LPT4"), LM_W("abcd"));
  UnlockMonitor();
  WCHAR small[4] = {LM_W("z")[0], 0, 0, 0};
  EXPECT_FALSE(CopyPrinterName(e, small, 4));  // four characters need five
  EXPECT_EQ(small[0], 0);
  WCHAR fits[5];
  EXPECT_TRUE(CopyPrinterName(e, fits, 5));
  EXPECT_EQ(lstrcmpW(fits, LM_W("abcd")), 0);
  LockMonitor();
  RemovePortEntry(e);
  UnlockMonitor();
}

#if !defined(_WIN32)
TEST(PortTable, OutOfMemoryForTheEntryLeavesTheTableUnchanged) {
  EnsureMonitorInitialised();
  const std::size_t before = PortTableSize();
  LockMonitor();
  LmFailLocalAllocAfter(1);
  EXPECT_EQ(NewPortEntry(LM_W("LPT2"), LM_W("p")), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  // Out of memory for the printer-name copy only: the entry is made without it.
  LmFailLocalAllocAfter(2);
  PortEntry* e = NewPortEntry(LM_W("LPT2"), LM_W("p"));
  LmFailLocalAllocAfter(0);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->PrinterName, nullptr);
  EXPECT_TRUE(RemovePortEntry(e));
  UnlockMonitor();
  EXPECT_EQ(PortTableSize(), before);
}
#endif

}  // namespace
}  // namespace langmon

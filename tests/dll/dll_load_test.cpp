// Loads the built langmon.dll as the spooler does (LoadLibrary, then
// GetProcAddress by name) and checks its two exports and the table it hands
// out, on the real Win32 API. Windows (or Wine) only.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <string>

#include "build_paths.h"
#include "platform/platform.h"
#include "port_monitor_table.h"

namespace {

using InitializePrintMonitorFn = LPMONITOREX(WINAPI*)(LPWSTR);
using DllEntryPointFn = BOOL(WINAPI*)(HINSTANCE, DWORD, LPVOID);

constexpr std::size_t kSlots = sizeof(MONITOR) / sizeof(void*);
static_assert(sizeof(MONITOR) % sizeof(void*) == 0 && kSlots >= 14,
              "MONITOR is a table of entry points, the fourteen NT 4.0 ones first");

// The one place the DLL is looked for: $LANGMON_DLL, else the path the build
// compiled in.
std::string MonitorPath() {
  const char* env = std::getenv("LANGMON_DLL");
  return env && *env ? env : build_paths::kDll;
}

// A port monitor that only counts: enough for OpenPortEx to accept it. Its
// one port's handle is the record itself.
struct FakeCounts {
  int openPort = 0;
  int writePort = 0;
  int closePort = 0;
  HANDLE closedHandle = nullptr;
};

FakeCounts* CountsOf(HANDLE handle) { return static_cast<FakeCounts*>(handle); }

BOOL FakeOpenPort(void* context, LPWSTR, PHANDLE handle) {
  ++CountsOf(context)->openPort;
  *handle = context;
  return TRUE;
}
BOOL WINAPI FakeStartDocPort(HANDLE, LPWSTR, DWORD, DWORD, LPBYTE) { return TRUE; }
BOOL WINAPI FakeWritePort(HANDLE handle, LPBYTE, DWORD count, LPDWORD written) {
  ++CountsOf(handle)->writePort;
  *written = count;
  return TRUE;
}
BOOL WINAPI FakeReadPort(HANDLE, LPBYTE, DWORD, LPDWORD read) {
  *read = 0;
  return TRUE;
}
BOOL WINAPI FakeEndDocPort(HANDLE) { return TRUE; }
BOOL WINAPI FakeClosePort(HANDLE handle) {
  ++CountsOf(handle)->closePort;
  CountsOf(handle)->closedHandle = handle;
  return TRUE;
}

constexpr langmon::portmonitor::PortOperations kFakeOperations = {
    .OpenPort = &FakeOpenPort,
    .StartDocPort = &FakeStartDocPort,
    .WritePort = &FakeWritePort,
    .ReadPort = &FakeReadPort,
    .EndDocPort = &FakeEndDocPort,
    .ClosePort = &FakeClosePort,
};

class MonitorDll : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    module_ = LoadLibraryA(MonitorPath().c_str());
    if (module_) {
      init_ = reinterpret_cast<InitializePrintMonitorFn>(
          reinterpret_cast<void*>(GetProcAddress(module_, "InitializePrintMonitor")));
      entry_ = reinterpret_cast<DllEntryPointFn>(
          reinterpret_cast<void*>(GetProcAddress(module_, "DllEntryPoint")));
    }
  }
  static void TearDownTestSuite() {
    if (module_) FreeLibrary(module_);
    module_ = nullptr;
  }

  void SetUp() override {
    ASSERT_NE(module_, nullptr) << "LoadLibrary(" << MonitorPath() << ") failed, error "
                                << GetLastError();
    ASSERT_NE(init_, nullptr) << "InitializePrintMonitor is not exported by that name";
    ASSERT_NE(entry_, nullptr) << "DllEntryPoint is not exported by that name";
  }

  static LPMONITOREX Table() {
    WCHAR root[] = LM_W("System\\CurrentControlSet\\Control\\Print\\Monitors\\Test");
    return init_(root);
  }

  // Whether p lies inside the loaded image of the DLL.
  static bool InImage(const void* p) {
    auto base = reinterpret_cast<const BYTE*>(module_);
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    auto at = reinterpret_cast<const BYTE*>(p);
    return at >= base && at < base + nt->OptionalHeader.SizeOfImage;
  }

  static HMODULE module_;
  static InitializePrintMonitorFn init_;
  static DllEntryPointFn entry_;
};

HMODULE MonitorDll::module_ = nullptr;
InitializePrintMonitorFn MonitorDll::init_ = nullptr;
DllEntryPointFn MonitorDll::entry_ = nullptr;

TEST_F(MonitorDll, TableHasTheNtSizeAndExactlyTheLanguageMonitorSlots) {
  LPMONITOREX table = Table();
  ASSERT_NE(table, nullptr) << "error " << GetLastError();
  EXPECT_EQ(table->dwMonitorSize, 14 * sizeof(void*));
  EXPECT_EQ(table->dwMonitorSize, sizeof(void*) == 4 ? 56u : 112u);

  std::array<void*, kSlots> slots{};
  std::memcpy(slots.data(), &table->Monitor, sizeof(MONITOR));
  // 1-based slot numbers of the NT 4.0 table: OpenPortEx, StartDocPort,
  // WritePort, ReadPort, EndDocPort, ClosePort, GetPrinterDataFromPort.
  // Every other slot, the later SDK's extra ones included, is null.
  for (std::size_t slot = 1; slot <= kSlots; ++slot) {
    const bool offered = (slot >= 3 && slot <= 8) || slot == 13;
    void* fn = slots[slot - 1];
    if (offered) {
      EXPECT_NE(fn, nullptr) << "slot " << slot;
      EXPECT_TRUE(InImage(fn)) << "slot " << slot << " points outside the DLL";
    } else {
      EXPECT_EQ(fn, nullptr) << "slot " << slot;
    }
  }
}

TEST_F(MonitorDll, TableIsConstantDataOfTheDll) {
  LPMONITOREX table = Table();
  ASSERT_NE(table, nullptr);
  EXPECT_TRUE(InImage(table));
  MEMORY_BASIC_INFORMATION info{};
  ASSERT_NE(VirtualQuery(table, &info, sizeof info), 0u);
  const DWORD writable =
      PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
  EXPECT_EQ(info.Protect & writable, 0u) << "protection 0x" << std::hex << info.Protect;
}

TEST_F(MonitorDll, RepeatedCallsReturnTheSameTable) {
  LPMONITOREX first = Table();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(init_(nullptr), nullptr);
  EXPECT_EQ(Table(), first);
  EXPECT_EQ(Table(), first);
}

TEST_F(MonitorDll, NullOrEmptyRegistryRootIsRejected) {
  WCHAR empty[] = LM_W("");
  struct Case {
    const char* name;
    LPWSTR root;
  };
  for (const Case& c : {Case{"null", nullptr}, Case{"empty", empty}}) {
    SetLastError(0);
    EXPECT_EQ(init_(c.root), nullptr) << c.name;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << c.name;
  }
}

TEST_F(MonitorDll, DllEntryPointReturnsTrueForEveryReason) {
  for (DWORD reason : {DWORD{DLL_PROCESS_DETACH}, DWORD{DLL_PROCESS_ATTACH},
                       DWORD{DLL_THREAD_ATTACH}, DWORD{DLL_THREAD_DETACH}}) {
    EXPECT_EQ(entry_(reinterpret_cast<HINSTANCE>(module_), reason, nullptr), TRUE)
        << "reason " << reason;
  }
}

// The table's operations work across the DLL boundary, with the DLL's own
// critical section and heap: a port opened through a port monitor can be
// closed again, a second open of the same name is refused, and writes do not
// reach the port monitor between documents.
TEST_F(MonitorDll, PortOpensAndClosesThroughTheTable) {
  LPMONITOREX table = Table();
  ASSERT_NE(table, nullptr);
  const MONITOR& lm = table->Monitor;
  FakeCounts fake;
  langmon::portmonitor::PortMonitorTable portMonitorTable(kFakeOperations, &fake);
  MONITOR* portMonitor = portMonitorTable.ForOpenPortEx();

  WCHAR port[] = LM_W("LPT1:");
  WCHAR printer[] = LM_W("Test Printer");
  HANDLE handle = nullptr;
  ASSERT_TRUE(lm.pfnOpenPortEx(port, printer, &handle, portMonitor)) << GetLastError();
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(fake.openPort, 1);

  HANDLE second = nullptr;
  SetLastError(0);
  EXPECT_FALSE(lm.pfnOpenPortEx(port, printer, &second, portMonitor));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUSY));

  BYTE data[] = {'@', 'P', 'J', 'L'};
  DWORD written = 99;
  EXPECT_FALSE(lm.pfnWritePort(handle, data, sizeof data, &written));
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(fake.writePort, 0);

  EXPECT_TRUE(lm.pfnClosePort(handle));
  EXPECT_EQ(fake.closePort, 1);
  EXPECT_EQ(fake.closedHandle, &fake);

  // The name is free again once the port is closed.
  ASSERT_TRUE(lm.pfnOpenPortEx(port, printer, &handle, portMonitor)) << GetLastError();
  EXPECT_TRUE(lm.pfnClosePort(handle));
}

TEST_F(MonitorDll, OpenPortExRefusesAMissingPortMonitorTable) {
  LPMONITOREX table = Table();
  ASSERT_NE(table, nullptr);
  WCHAR port[] = LM_W("LPT2:");
  WCHAR printer[] = LM_W("Test Printer");
  HANDLE handle = nullptr;
  SetLastError(0);
  EXPECT_FALSE(table->Monitor.pfnOpenPortEx(port, printer, &handle, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PRINT_MONITOR));
}

}  // namespace

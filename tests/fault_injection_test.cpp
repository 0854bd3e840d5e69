// Faults injected under the monitor: the local heap failing at each of its
// allocations in turn, the port monitor failing at each of its calls, and a
// printer that falls silent (or whose back channel is cut) in the middle of
// a configuration read. Each fault must give the documented result, leak
// nothing and hang nothing beyond the exchange's time limit; the virtual
// clock makes every unanswered exchange end after a few polls.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "config/config.h"
#include "driver_data_fixture.h"
#include "port/port_ops.h"
#include "port_monitor_table.h"
#include "requests/requests.h"
#include "sim_printer.h"

namespace langmon {
namespace {

using namespace langmon::testing;
using sim::SimFaults;
using sim::SimPrinter;

const MONITOR& Table() {
  EnsureMonitorInitialised();
  return MonitorTable()->Monitor;
}

PortEntry* Entry(HANDLE port) { return static_cast<PortEntry*>(port); }

WString PrinterNameOf(HANDLE port) {
  WCHAR name[256];
  return CopyPrinterName(Entry(port), name, 256) ? WString(name) : WString();
}

BOOL StartDoc(HANDLE port, const WString& printer, DWORD jobId) {
  WString name = printer;
  return Table().pfnStartDocPort(port, name.data(), jobId, 1, nullptr);
}

BOOL WriteBytes(HANDLE port, const std::string& bytes, DWORD* written) {
  std::string copy = bytes;
  return Table().pfnWritePort(port, reinterpret_cast<LPBYTE>(copy.data()),
                              static_cast<DWORD>(copy.size()), written);
}

// ---- a port monitor whose calls can be made to fail ----------------------------------

enum PortOp {
  kOpenPort,
  kStartDocPort,
  kWritePort,
  kReadPort,
  kEndDocPort,
  kClosePort,
  kGetPrinterData,
  kSetPortTimeOuts,
  kPortOpCount
};

// Wraps another port monitor's table (here the simulated printer's). Every
// call is counted; a call chosen to fail sets kError and returns FALSE.
// OpenPort, StartDocPort, WritePort, ReadPort, GetPrinterDataFromPort and
// SetPortTimeOuts fail without reaching the wrapped port monitor;
// EndDocPort and ClosePort do their work first and then report failure, so
// that the wrapped port is still closed. Its ports are wrapped too, so that
// every call finds its FaultyPortMonitor through the handle.
class FaultyPortMonitor {
 public:
  static constexpr DWORD kError = ERROR_GEN_FAILURE;

  explicit FaultyPortMonitor(const MONITOR& inner)
      : inner_(inner), bound_(Operations(inner), this), table(bound_.Table()) {}
  FaultyPortMonitor(const FaultyPortMonitor&) = delete;
  FaultyPortMonitor& operator=(const FaultyPortMonitor&) = delete;

 private:
  MONITOR inner_;
  portmonitor::PortMonitorTable bound_;

 public:
  MONITOR table;

  // The n-th call of op from now on fails (1: the next one).
  void FailCall(PortOp op, long n) { failAt_[op] = calls_[op] + n; }
  // Every call of op from the n-th from now on fails.
  void FailFrom(PortOp op, long n) { failFrom_[op] = calls_[op] + n; }
  void Heal() {
    for (int op = 0; op < kPortOpCount; ++op) failAt_[op] = failFrom_[op] = 0;
    cutting_ = false;
  }
  long Calls(PortOp op) const { return calls_[op]; }
  // From now on ReadPort hands over the next `replies` replies (through
  // their form feeds) and `extraBytes` more; after that it reads nothing
  // (TRUE, 0 bytes) without asking the port monitor, like a back channel
  // that went dead.
  void CutReadsAfter(long replies, long extraBytes) {
    repliesLeft_ = replies;
    extraLeft_ = extraBytes;
    cutting_ = true;
  }

 private:
  struct Port {
    FaultyPortMonitor* owner;
    HANDLE inner;
  };
  static Port* Of(HANDLE handle) { return static_cast<Port*>(handle); }

  static portmonitor::PortOperations Operations(const MONITOR& inner) {
    return {
        .OpenPort = &OpenPort,
        .StartDocPort = &StartDocPort,
        .WritePort = &WritePort,
        .ReadPort = &ReadPort,
        .EndDocPort = inner.pfnEndDocPort ? &EndDocPort : nullptr,
        .ClosePort = &ClosePort,
        .GetPrinterDataFromPort = inner.pfnGetPrinterDataFromPort ? &GetPrinterData : nullptr,
        .SetPortTimeOuts = inner.pfnSetPortTimeOuts ? &SetPortTimeOuts : nullptr,
    };
  }

  // Counts the call; TRUE when it is to fail (the last error is then set).
  bool Fails(PortOp op) {
    const long n = ++calls_[op];
    if (n == failAt_[op] || (failFrom_[op] != 0 && n >= failFrom_[op])) {
      SetLastError(kError);
      return true;
    }
    return false;
  }
  // Hands over what the wrapped port delivered, cut where the back channel
  // is to go dead.
  DWORD KeepUntilCut(const BYTE* buffer, DWORD got) {
    if (!cutting_) return got;
    // Hand over up to the last allowed form feed; what the port monitor
    // delivered beyond it is lost with the back channel.
    DWORD kept = 0;
    while (kept < got && repliesLeft_ > 0)
      if (buffer[kept++] == '\x0c') --repliesLeft_;
    if (repliesLeft_ == 0 && kept < got) {
      const DWORD extra = std::min<DWORD>(got - kept, static_cast<DWORD>(extraLeft_));
      kept += extra;
      extraLeft_ -= extra;
    }
    return kept;
  }

  static BOOL OpenPort(void* context, LPWSTR name, PHANDLE handle) {
    auto* m = static_cast<FaultyPortMonitor*>(context);
    HANDLE inner = nullptr;
    if (m->Fails(kOpenPort) || !m->inner_.pfnOpenPort(name, &inner)) return FALSE;
    *handle = new Port{m, inner};
    return TRUE;
  }
  static BOOL WINAPI StartDocPort(HANDLE port, LPWSTR printer, DWORD job, DWORD level,
                                  LPBYTE info) {
    Port* p = Of(port);
    return p->owner->Fails(kStartDocPort)
               ? FALSE
               : p->owner->inner_.pfnStartDocPort(p->inner, printer, job, level, info);
  }
  static BOOL WINAPI WritePort(HANDLE port, LPBYTE data, DWORD count, LPDWORD written) {
    Port* p = Of(port);
    if (p->owner->Fails(kWritePort)) {
      if (written) *written = 0;
      return FALSE;
    }
    return p->owner->inner_.pfnWritePort(p->inner, data, count, written);
  }
  static BOOL WINAPI ReadPort(HANDLE port, LPBYTE buffer, DWORD size, LPDWORD read) {
    FaultyPortMonitor* m = Of(port)->owner;
    if (read) *read = 0;
    if (m->Fails(kReadPort)) return FALSE;
    if (m->cutting_ && m->repliesLeft_ == 0) {
      if (m->extraLeft_ == 0) return TRUE;
      size = std::min<DWORD>(size, static_cast<DWORD>(m->extraLeft_));
    }
    DWORD got = 0;
    if (!m->inner_.pfnReadPort(Of(port)->inner, buffer, size, &got)) return FALSE;
    if (read) *read = m->KeepUntilCut(buffer, got);
    return TRUE;
  }
  static BOOL WINAPI EndDocPort(HANDLE port) {
    Port* p = Of(port);
    const BOOL ok = p->owner->inner_.pfnEndDocPort(p->inner);
    return p->owner->Fails(kEndDocPort) ? FALSE : ok;
  }
  static BOOL WINAPI ClosePort(HANDLE port) {
    Port* p = Of(port);
    FaultyPortMonitor* m = p->owner;
    const BOOL ok = m->inner_.pfnClosePort(p->inner);
    delete p;
    return m->Fails(kClosePort) ? FALSE : ok;
  }
  static BOOL WINAPI GetPrinterData(HANDLE port, DWORD controlId, LPWSTR name, LPWSTR in,
                                    DWORD cbIn, LPWSTR out, DWORD cbOut, LPDWORD returned) {
    Port* p = Of(port);
    return p->owner->Fails(kGetPrinterData)
               ? FALSE
               : p->owner->inner_.pfnGetPrinterDataFromPort(p->inner, controlId, name, in, cbIn,
                                                            out, cbOut, returned);
  }
  static BOOL WINAPI SetPortTimeOuts(HANDLE port, LPCOMMTIMEOUTS timeOuts, DWORD reserved) {
    Port* p = Of(port);
    return p->owner->Fails(kSetPortTimeOuts)
               ? FALSE
               : p->owner->inner_.pfnSetPortTimeOuts(p->inner, timeOuts, reserved);
  }

  long calls_[kPortOpCount] = {};
  long failAt_[kPortOpCount] = {};
  long failFrom_[kPortOpCount] = {};
  bool cutting_ = false;
  long repliesLeft_ = 0;
  long extraLeft_ = 0;
};

// ---- the local heap failing ----------------------------------------------------------

#if !defined(_WIN32)
// OpenPortEx allocates the entry and the printer-name copy; each StartDocPort
// for a different printer name allocates a new copy. Each allocation fails
// in turn (n = 1, 2, ...) until a run allocates fewer times than n.
// A test page request, which needs the printer's stored settings: when the
// port has no printer name there is no key path at all. It fails with
// nothing written and no registry handle left open.
void ExpectTestPageRefusedCleanly(FakePortMonitor& fake, HANDLE port) {
  const long keys = OpenKeyCount();
  fake.ClearCalls();
  WCHAR testPage[] = LM_W("PrintTestPage");
  DWORD returned = 0;
  EXPECT_EQ(Table().pfnGetPrinterDataFromPort(port, 0, testPage, nullptr, 0, nullptr, 0, &returned),
            FALSE);
  EXPECT_TRUE(fake.Written().empty());
  EXPECT_EQ(OpenKeyCount(), keys);
}

// One document for `printer`. When its name copy fails, the entry is left
// with a null name and the document goes on with the printer opened by the
// name it was given.
void ExpectDocumentDespiteTheCopy(SeamScope& spooler, HANDLE port, const WString& printer,
                                  bool copyFails) {
  DWORD written = 0;
  spooler.ClearCalls();
  EXPECT_TRUE(StartDoc(port, printer, 7));
  EXPECT_EQ(PrinterNameOf(port), copyFails ? WString() : printer);
  EXPECT_TRUE(WriteBytes(port, "page", &written));
  EXPECT_EQ(written, 4u);
  EXPECT_TRUE(Table().pfnEndDocPort(port));
  const std::vector<SpoolerCall> calls = spooler.Calls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].op, "OpenPrinter");
  EXPECT_EQ(calls[0].printer, printer);
  EXPECT_EQ(calls[1].op, "SetJob");
  EXPECT_EQ(calls[1].handle, calls[0].handle);
  EXPECT_EQ(calls[2].op, "ClosePrinter");
}

// The countdown still running means the run made fewer than n allocations.
bool AllocationCountdownUnused() {
  LPWSTR probe = DuplicateWideString(LM_W("x"));
  LmFailLocalAllocAfter(0);
  const bool unused = probe == nullptr;
  FreeWideString(probe);
  return unused;
}

TEST(FaultHeap, EachAllocationOfOpenAndStartFailsInTurn) {
  SeamScope spooler;
  const WString a = LM_W("Heap printer A"), b = LM_W("Heap printer B");
  bool sawEveryAllocation = false;
  for (unsigned n = 1; n <= 10 && !sawEveryAllocation; ++n) {
    SCOPED_TRACE("allocation " + std::to_string(n) + " fails");
    FakePortMonitor fake;
    spooler.ClearCalls();
    const std::size_t tableBefore = PortTableSize();
    LmFailLocalAllocAfter(n);

    SetLastError(0);
    HANDLE port = OpenMonitorPort(fake, LM_W("LPT5:"), a);
    if (n == 1) {
      // No memory for the entry: FALSE with the heap's error, nothing made,
      // the port monitor never asked.
      LmFailLocalAllocAfter(0);
      EXPECT_EQ(port, nullptr);
      EXPECT_EQ(GetLastError(), DWORD{ERROR_NOT_ENOUGH_MEMORY});
      EXPECT_EQ(PortTableSize(), tableBefore);
      EXPECT_TRUE(fake.Ops().empty());
      continue;
    }
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(PrinterNameOf(port), n == 2 ? WString() : a) << "the copy made by OpenPortEx";
    ExpectTestPageRefusedCleanly(fake, port);
    // Two documents, for B and then A again: each copies the new name.
    ExpectDocumentDespiteTheCopy(spooler, port, b, n == 3);
    ExpectDocumentDespiteTheCopy(spooler, port, a, n == 4);
    EXPECT_TRUE(Table().pfnClosePort(port));
    EXPECT_EQ(PortTableSize(), tableBefore);
    EXPECT_EQ(spooler.OpenPrinterHandles(), 0);
    sawEveryAllocation = AllocationCountdownUnused();
  }
  EXPECT_TRUE(sawEveryAllocation);
}
#endif

// ---- the port monitor failing, port operations ------------------------------------------

class FaultPortMonitor : public ::testing::Test {
 protected:
  SeamScope spooler_;
  SimPrinter printer_;
  MONITOR simTable_ = printer_.MonitorTable();
  FaultyPortMonitor faulty_{simTable_};

  HANDLE Open(LPCWSTR port, const WString& printer = LM_W("Faulty printer")) {
    WString portCopy = port, printerCopy = printer;
    HANDLE handle = nullptr;
    return Table().pfnOpenPortEx(portCopy.data(), printerCopy.data(), &handle, &faulty_.table)
               ? handle
               : nullptr;
  }
};

TEST_F(FaultPortMonitor, OpenPortFailureLeavesTheTableAndTheNameFree) {
  const std::size_t before = PortTableSize();
  faulty_.FailCall(kOpenPort, 1);
  SetLastError(0);
  EXPECT_EQ(Open(LM_W("LPT6:")), nullptr);
  EXPECT_EQ(GetLastError(), FaultyPortMonitor::kError);
  EXPECT_EQ(PortTableSize(), before);
  HANDLE port = Open(LM_W("LPT6:"));
  ASSERT_NE(port, nullptr) << "the failed open must not keep the name taken";
  Table().pfnClosePort(port);
  EXPECT_EQ(printer_.OpenPortCount(), 0);
}

TEST_F(FaultPortMonitor, StartDocPortFailureLeavesThePortIdleAndTheLastJobAsItWas) {
  for (const bool afterRequest : {false, true}) {
    SCOPED_TRACE(afterRequest ? "after a request" : "between documents");
    HANDLE port = Open(LM_W("LPT6:"), LM_W("First"));
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(StartDoc(port, LM_W("First"), 7));
    ASSERT_TRUE(Table().pfnEndDocPort(port));
    if (afterRequest) {
      BYTE id[128];
      WCHAR name[] = LM_W("GetDeviceID");
      DWORD returned = 0;
      Table().pfnGetPrinterDataFromPort(port, 0, name, nullptr, 0, reinterpret_cast<LPWSTR>(id),
                                        sizeof id, &returned);
      ASSERT_NE(LoadFlags(Entry(port)) & PortActive, 0u);
    }
    spooler_.ClearCalls();
    const long endDocs = faulty_.Calls(kEndDocPort), writes = faulty_.Calls(kWritePort);

    faulty_.FailCall(kStartDocPort, 1);
    SetLastError(0);
    EXPECT_FALSE(StartDoc(port, LM_W("Second"), 8));
    EXPECT_EQ(GetLastError(), FaultyPortMonitor::kError);
    EXPECT_EQ(LoadFlags(Entry(port)) & (InDocument | PortActive), 0u);
    EXPECT_EQ(PrinterNameOf(port), WString(LM_W("First")));
    EXPECT_EQ(Entry(port)->JobId, 7u);
    EXPECT_EQ(Entry(port)->PrinterHandle, nullptr);
    EXPECT_TRUE(spooler_.Calls().empty()) << "no printer opened for a refused document";
    // The port monitor's document begun by the request was ended first.
    EXPECT_EQ(faulty_.Calls(kEndDocPort) - endDocs, afterRequest ? 1 : 0);

    // Idle: writes are not forwarded; a new document is accepted.
    DWORD written = 99;
    EXPECT_FALSE(WriteBytes(port, "lost", &written));
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(faulty_.Calls(kWritePort), writes);
    EXPECT_TRUE(StartDoc(port, LM_W("Second"), 9));
    EXPECT_TRUE(WriteBytes(port, "kept", &written));
    EXPECT_TRUE(Table().pfnEndDocPort(port));
    EXPECT_TRUE(Table().pfnClosePort(port));
    EXPECT_EQ(spooler_.OpenPrinterHandles(), 0);
  }
  EXPECT_EQ(printer_.OpenPortCount(), 0);
}

TEST_F(FaultPortMonitor, WriteAndReadFailuresInADocumentPassThrough) {
  HANDLE port = Open(LM_W("LPT6:"));
  ASSERT_NE(port, nullptr);
  ASSERT_TRUE(StartDoc(port, LM_W("Faulty printer"), 3));
  DWORD written = 99;
  faulty_.FailCall(kWritePort, 1);
  SetLastError(0);
  EXPECT_FALSE(WriteBytes(port, "page", &written));
  EXPECT_EQ(GetLastError(), FaultyPortMonitor::kError);
  EXPECT_EQ(written, 0u);
  BYTE buffer[16];
  DWORD read = 99;
  faulty_.FailCall(kReadPort, 1);
  SetLastError(0);
  EXPECT_FALSE(Table().pfnReadPort(port, buffer, sizeof buffer, &read));
  EXPECT_EQ(GetLastError(), FaultyPortMonitor::kError);
  EXPECT_EQ(read, 0u);
  // The document is not disturbed: the next write goes through.
  EXPECT_TRUE(WriteBytes(port, "page", &written));
  EXPECT_EQ(written, 4u);
  EXPECT_EQ(LoadFlags(Entry(port)) & (InDocument | PortActive), InDocument | PortActive);
  EXPECT_TRUE(Table().pfnEndDocPort(port));
  EXPECT_TRUE(Table().pfnClosePort(port));
}

TEST_F(FaultPortMonitor, EndDocPortAndClosePortFailuresAreNotReported) {
  HANDLE port = Open(LM_W("LPT6:"));
  ASSERT_NE(port, nullptr);
  ASSERT_TRUE(StartDoc(port, LM_W("Faulty printer"), 4));
  faulty_.FailCall(kEndDocPort, 1);
  SetLastError(0);
  EXPECT_TRUE(Table().pfnEndDocPort(port));
  EXPECT_EQ(LoadFlags(Entry(port)) & (InDocument | PortActive), 0u);
  EXPECT_EQ(Entry(port)->PrinterHandle, nullptr);
  EXPECT_EQ(spooler_.OpenPrinterHandles(), 0);
  const std::vector<SpoolerCall> calls = spooler_.Calls();
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls[calls.size() - 2].op, "SetJob") << "the job is reported all the same";

  // A port closed in the middle of a document by a failing ClosePort is
  // gone all the same, its printer handle with it.
  const std::size_t before = PortTableSize();
  ASSERT_TRUE(StartDoc(port, LM_W("Faulty printer"), 5));
  EXPECT_EQ(spooler_.OpenPrinterHandles(), 1);
  faulty_.FailCall(kClosePort, 1);
  EXPECT_TRUE(Table().pfnClosePort(port));
  EXPECT_EQ(PortTableSize(), before - 1);
  EXPECT_EQ(spooler_.OpenPrinterHandles(), 0);
  EXPECT_EQ(printer_.OpenPortCount(), 0);
}

TEST_F(FaultPortMonitor, FailedPassThroughRequestsReportInvalidParameter) {
  HANDLE port = Open(LM_W("LPT6:"));
  ASSERT_NE(port, nullptr);
  struct Case {
    DWORD controlId;
    LPCWSTR name;
  };
  for (const Case c : {Case{0, LM_W("GetDeviceID")}, Case{IOCTL_PAR_QUERY_DEVICE_ID, nullptr}}) {
    WString name = c.name ? c.name : LM_W("");
    BYTE out[128];
    DWORD returned = 0;
    faulty_.FailCall(kGetPrinterData, 1);
    SetLastError(0);
    EXPECT_FALSE(Table().pfnGetPrinterDataFromPort(port, c.controlId, name.data(), nullptr, 0,
                                                   reinterpret_cast<LPWSTR>(out), sizeof out,
                                                   &returned));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER}) << "replaces the port monitor's";
    // And without the fault the same request succeeds.
    EXPECT_TRUE(Table().pfnGetPrinterDataFromPort(port, c.controlId, name.data(), nullptr, 0,
                                                  reinterpret_cast<LPWSTR>(out), sizeof out,
                                                  &returned));
  }
  Table().pfnClosePort(port);
}

// ---- faults during a configuration read ---------------------------------------------

// The steps of a configuration read as the printer sees them: the object
// asked and the step whose answer it depends on. The simulated printer's
// values pass every value test, so a dependent step runs whenever its
// parent was answered.
struct ModelStep {
  const char* id;
  int parent;
};
const ModelStep kModelSteps[] = {
    {kCopies, -1},       {kDarkCourier, -1},    {kDensity, -1},       {kFormLines, -1},
    {kFuser1, -1},       {kFuser2, -1},         {kTray3, -1},         {kFuser3, 6},
    {kInstalledMem, -1}, {kIObuffer, -1},       {kIObufSize, 9},      {kLang, -1},
    {kOrientation, -1},  {kPaperSize, -1},      {kPostScript, -1},    {kPSErrors, 14},
    {kResourceSave, 14}, {kResSaveSizePCL, 16}, {kResSaveSizePS, 16}, {kResolution, -1},
    {kSaverMode, 19},    {kRePrint, -1},        {kSmoothing, -1},     {kTrayLock, -1},
    {kWideA4, -1},
};

struct ModelRun {
  ConfigRecord record{};
  std::vector<std::string> asked;  // objects queried, in order
};

// The configuration a read yields when answers(i) tells whether the i-th
// query written (from 0) is answered; full is what a read answered in full
// gives.
ModelRun Model(const ConfigRecord& full, const std::function<bool(std::size_t)>& answers) {
  ModelRun run;
  bool answered[std::size(kModelSteps)] = {};
  for (std::size_t i = 0; i < std::size(kModelSteps); ++i) {
    const ModelStep& step = kModelSteps[i];
    if (step.parent >= 0 && !answered[step.parent]) continue;
    const std::size_t index = run.asked.size();
    run.asked.push_back(step.id);
    if (!answers(index)) continue;
    answered[i] = true;
    if (std::string(step.id) == kTray3) {
      run.record.Tray3Installed = 1;
      continue;
    }
    for (const Setting& setting : kSettings) {
      if (!setting.ObjectId || std::string(setting.ObjectId) != step.id) continue;
      run.record.*setting.Field = full.*setting.Field;
      run.record.CfgFlags |= setting.PresenceBit;
    }
  }
  return run;
}

// The built-in defaults, which a read falls back to when the probe goes
// unanswered and the printer has no stored configuration.
ConfigRecord BuiltInDefaults() {
  const DWORD values[kConfigValueCount] = {0x0FFFFFFF, 1,      1,      6,  1,  60, 60, 60, 60,
                                           2097152,    3,      10,     23, 39, 42, 0,  1,  11,
                                           3,          102400, 102400, 2,  1,  17, 0,  2,  1};
  ConfigRecord record;
  std::memcpy(&record, values, sizeof record);
  return record;
}

// Reads the configuration through a port on the faulty port monitor over the
// simulated printer. Virtual clock: 1000 ms per tick, so an unanswered
// exchange gives up after four polls; answered ones need one.
class FaultConfigRead : public ::testing::Test {
 protected:
  static constexpr DWORD kTickStep = 1000;
  // An exchange polls while less than 5000 ms have passed since its start.
  static constexpr long kMaxPollsPerExchange = kExchangeTimeLimitMs / kTickStep;

  void SetUp() override {
    spooler_.step = kTickStep;
    stored_.SetDword(LM_W("dwTimeOut"), 1);  // the printer's silence costs 1 ms a poll
    full_ = Read().record;
    ASSERT_EQ(full_.CfgFlags, 0xDBFFFFu);
  }

  struct Result {
    BOOL ok;
    ConfigRecord record;
    std::vector<std::string> heard;  // queries the printer heard
    long reads;                      // ReadPort calls made by the monitor
  };

  Result Read() {
    HANDLE port = nullptr;
    {
      WString portName = LM_W("LPT7:"), printerName = name_;
      EXPECT_TRUE(
          Table().pfnOpenPortEx(portName.data(), printerName.data(), &port, &faulty_.table));
    }
    printer_.ClearRecords();
    const long readsBefore = faulty_.Calls(kReadPort);
    const long keys = OpenKeyCount();
    Result result{};
    std::memset(&result.record, 0xEE, sizeof result.record);
    WCHAR valueName[] = LM_W("GetConfigObjects");
    DWORD returned = 0;
    SetLastError(0);
    result.ok = Table().pfnGetPrinterDataFromPort(port, 0, valueName, nullptr, 0,
                                                  reinterpret_cast<LPWSTR>(&result.record),
                                                  sizeof result.record, &returned);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
    EXPECT_EQ(OpenKeyCount(), keys);
    result.heard = printer_.Queries();
    result.reads = faulty_.Calls(kReadPort) - readsBefore;
    faulty_.Heal();
    Table().pfnClosePort(port);
    EXPECT_EQ(printer_.OpenPortCount(), 0);
    return result;
  }

  // What a read yields when the printer answers the probe and then exactly
  // `queries` queries before it falls silent.
  ModelRun AnsweredThenSilent(std::size_t queries) const {
    return Model(full_, [queries](std::size_t i) { return i < queries; });
  }

  SeamScope spooler_{true};
  SimPrinter printer_;
  MONITOR simTable_ = printer_.MonitorTable();
  FaultyPortMonitor faulty_{simTable_};
  WString name_ = UniquePrinterName();
  DriverDataKey stored_{name_};
  ConfigRecord full_{};
};

// Writes of a full read: the entry text, the probe, 25 queries, the exit text.
TEST_F(FaultConfigRead, EachWriteFailingInTurn) {
  const std::size_t queries = AnsweredThenSilent(25).asked.size();
  ASSERT_EQ(queries, 25u);
  const long writes = 1 + 1 + static_cast<long>(queries) + 1;
  for (long k = 1; k <= writes + 1; ++k) {
    SCOPED_TRACE("write " + std::to_string(k) + " fails");
    faulty_.FailCall(kWritePort, k);
    const Result r = Read();
    if (k == 1) {
      // The entry text: the request fails and the record is not touched.
      EXPECT_FALSE(r.ok);
      ConfigRecord untouched;
      std::memset(&untouched, 0xEE, sizeof untouched);
      EXPECT_EQ(RecordValues(r.record), RecordValues(untouched));
      EXPECT_EQ(printer_.Written(), kExit) << "the exit text is written all the same";
      continue;
    }
    EXPECT_TRUE(r.ok);
    if (k == 2) {
      // The probe: unanswered at once, so the stored settings (none here).
      EXPECT_EQ(RecordValues(r.record), RecordValues(BuiltInDefaults()));
      EXPECT_TRUE(r.heard.empty());
      EXPECT_EQ(printer_.Written(), kEntry + kExit);
      continue;
    }
    // A query that cannot be written is a setting not answered: its
    // dependants are skipped, everything else is read.
    const std::size_t failed = static_cast<std::size_t>(k - 3);
    const ModelRun model = Model(full_, [failed](std::size_t i) { return i != failed; });
    EXPECT_EQ(RecordValues(r.record), RecordValues(model.record));
    std::vector<std::string> heard = model.asked;
    if (failed < heard.size()) heard.erase(heard.begin() + static_cast<std::ptrdiff_t>(failed));
    EXPECT_EQ(r.heard, heard);
    const std::string written = printer_.Written();
    EXPECT_EQ(written.size() >= kExit.size() &&
                  written.compare(written.size() - kExit.size(), kExit.size(), kExit) == 0,
              k != writes)
        << "only a failed exit text is missing at the end";
  }
}

// A failed read does not end an exchange: the next poll finds the reply.
TEST_F(FaultConfigRead, EachReadFailingInTurnChangesNothing) {
  const long reads = Read().reads;
  ASSERT_EQ(reads, 26) << "one read per reply";
  for (long k = 1; k <= reads; ++k) {
    SCOPED_TRACE("read " + std::to_string(k) + " fails");
    faulty_.FailCall(kReadPort, k);
    const Result r = Read();
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(RecordValues(r.record), RecordValues(full_));
    EXPECT_EQ(r.reads, reads + 1);
  }
}

TEST_F(FaultConfigRead, SetPortTimeOutsFailureDoesNotStopTheRead) {
  faulty_.FailCall(kSetPortTimeOuts, 1);
  const Result r = Read();
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(RecordValues(r.record), RecordValues(full_));
}

// The printer answers the probe and n - 1 queries (n replies in all), then
// goes quiet, in four ways: the printer stops answering; the port's reads
// start failing; the back channel is cut right behind the n-th reply; or
// it is cut in the middle of the reply after it. Whatever the way, the
// answered settings are kept, every later unconditional step is still
// asked and times out, the dependants of unanswered steps are skipped, and
// no exchange polls past its time limit.
TEST_F(FaultConfigRead, PrinterFallingSilentAfterEachReply) {
  constexpr std::size_t kReplies = 26;  // the probe's and 25 queries'

  enum Way { kPrinterSilent, kReadsFail, kCutBehindReply, kCutInsideNextReply };
  for (const Way way : {kPrinterSilent, kReadsFail, kCutBehindReply, kCutInsideNextReply}) {
    for (std::size_t replies = 0; replies <= kReplies; ++replies) {
      if (way == kCutInsideNextReply && replies == kReplies) continue;
      SCOPED_TRACE("way " + std::to_string(way) + ", " + std::to_string(replies) + " replies");
      SimFaults faults;
      switch (way) {
        case kPrinterSilent:
          faults.silentAfterReplies = static_cast<long long>(replies);
          break;
        case kReadsFail:
          faulty_.FailFrom(kReadPort, static_cast<long>(replies) + 1);
          break;
        case kCutBehindReply:
          faulty_.CutReadsAfter(static_cast<long>(replies), 0);
          break;
        case kCutInsideNextReply:
          // Every reply is longer than 20 bytes.
          faulty_.CutReadsAfter(static_cast<long>(replies), 20);
          break;
      }
      printer_.SetFaults(faults);
      const Result r = Read();
      printer_.SetFaults(SimFaults{});
      EXPECT_TRUE(r.ok);
      if (replies == 0) {
        EXPECT_EQ(RecordValues(r.record), RecordValues(BuiltInDefaults()));
        EXPECT_TRUE(r.heard.empty());
        EXPECT_LE(r.reads, kMaxPollsPerExchange);
        continue;
      }
      const ModelRun model = AnsweredThenSilent(replies - 1);
      EXPECT_EQ(RecordValues(r.record), RecordValues(model.record));
      EXPECT_EQ(r.heard, model.asked);
      const long exchanges = 1 + static_cast<long>(model.asked.size());
      EXPECT_LE(r.reads, exchanges * kMaxPollsPerExchange) << "an exchange polled too long";
    }
  }
}

}  // namespace
}  // namespace langmon

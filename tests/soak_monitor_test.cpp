// The whole monitor under load from several threads at once, as a spooler
// drives it: documents on several ports, printer-data requests against the
// simulated printer, ports opened and closed (two threads fighting over one
// port name), and requests on a port while documents start and end on it
// from another thread. Bounded in count and in time.
//
// Afterwards nothing may be left over and nothing may be corrupted: spooler
// printer handles balanced, registry handles back to where they were, every
// port-monitor port closed, the port table holding exactly the ports still
// open (each once), the printer's objects unchanged by the idempotent set
// blocks, and every configuration the driver got back made only of values
// the printer really holds. Run under ThreadSanitizer in the test command,
// this is also the data-race check of the monitor's locking.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "config/config.h"
#include "driver_data_fixture.h"
#include "port/port_ops.h"
#include "sim_printer.h"

namespace langmon {
namespace {

using namespace langmon::testing;
using sim::SimPrinter;

// Each thread keeps its own virtual tick counter, so that an exchange that
// goes unanswered (a document stole its reply, or its port went inactive)
// ends after a few polls instead of 5 s, and busy threads do not eat into
// each other's time limits.
constexpr DWORD kTickStep = 250;  // 20 polls per unanswered exchange
thread_local DWORD t_ticks = 0;
DWORD WINAPI ThreadTicks() { return t_ticks += kTickStep; }

// Loops stop at their count or at this much real time, whichever is first,
// so that a slow sanitizer build stays within a few seconds.
constexpr auto kSoakTime = std::chrono::seconds(4);
// A run that has not finished by then is taken as deadlocked.
constexpr auto kDeadlockLimit = std::chrono::seconds(120);

const MONITOR& Table() {
  EnsureMonitorInitialised();
  return MonitorTable()->Monitor;
}

// Aborts the process with a message when the soak has not finished in time:
// a deadlock would otherwise hang the test run.
class Watchdog {
 public:
  Watchdog()
      : thread_([this] {
          std::unique_lock<std::mutex> lock(mutex_);
          if (!cv_.wait_for(lock, kDeadlockLimit, [this] { return done_; })) {
            std::fprintf(stderr, "soak: not finished after %lld s, deadlock suspected\n",
                         static_cast<long long>(kDeadlockLimit.count()));
            std::abort();
          }
        }) {}
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      done_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool done_ = false;
  std::thread thread_;
};

struct Deadline {
  std::chrono::steady_clock::time_point end = std::chrono::steady_clock::now() + kSoakTime;
  bool Passed() const { return std::chrono::steady_clock::now() >= end; }
};

HANDLE Open(MONITOR& portMonitor, const WString& port, const WString& printer) {
  WString portCopy = port, printerCopy = printer;
  HANDLE handle = nullptr;
  return Table().pfnOpenPortEx(portCopy.data(), printerCopy.data(), &handle, &portMonitor)
             ? handle
             : nullptr;
}

BOOL Request(HANDLE port, LPCWSTR valueName, void* out = nullptr, DWORD cbOut = 0,
             DWORD controlId = 0) {
  WString name = valueName;
  DWORD returned = 0;
  return Table().pfnGetPrinterDataFromPort(port, controlId, name.data(), nullptr, 0,
                                           static_cast<LPWSTR>(out), cbOut, &returned);
}

// A print job as a driver sends it: PJL job framing around the print data,
// written in one piece, so the printer is back in PJL mode behind it.
const std::string kJob =
    "\x1b%-12345X@PJL ENTER LANGUAGE=PCL\r\n\x1b"
    "E soak page\x0c\x1b%-12345X";

BOOL WriteJob(HANDLE port) {
  std::string job = kJob;
  DWORD written = 0;
  const BOOL ok = Table().pfnWritePort(port, reinterpret_cast<LPBYTE>(job.data()),
                                       static_cast<DWORD>(job.size()), &written);
  return ok && written == job.size();
}

// One document: start, the job, a look at the back channel, end.
BOOL Document(HANDLE port, const WString& printer, DWORD jobId, bool read) {
  WString name = printer;
  if (!Table().pfnStartDocPort(port, name.data(), jobId, 1, nullptr)) return FALSE;
  BOOL ok = WriteJob(port);
  if (read) {
    BYTE buffer[64];
    DWORD got = 0;
    ok = Table().pfnReadPort(port, buffer, sizeof buffer, &got) && ok;
  }
  Table().pfnEndDocPort(port);
  return ok;
}

// Counts what went wrong inside the threads (gtest assertions are safe from
// any thread, but a count with a first message keeps the output readable).
struct Failures {
  std::atomic<int> count{0};
  std::mutex mutex;
  std::string first;
  // The failure is `what`, or `what` followed by `detail`.
  void Add(std::string_view what, std::string_view detail = {}) {
    if (count.fetch_add(1) == 0) {
      std::lock_guard<std::mutex> guard(mutex);
      first.assign(what);
      first.append(detail);
    }
  }
};

// A configuration read on a port that nobody else touches must be exactly
// what the printer holds.
void CheckExact(const ConfigRecord& got, const ConfigRecord& reference, Failures& failures,
                const char* where) {
  if (std::memcmp(&got, &reference, sizeof got) != 0)
    failures.Add(where, ": configuration differs from the printer's");
}

// A configuration read while documents come and go on the same port may
// miss answers (a document's read took the reply, or EndDocPort made the
// port inactive mid-exchange), but every value it reports as present must
// be the printer's, and a record from the stored settings must be theirs.
void CheckConsistent(const ConfigRecord& got, const ConfigRecord& reference, Failures& failures) {
  if (got.CfgFlags == kStoredConfigMask) {
    if (got.Copies != 1 || got.PaperSize != 42) failures.Add("stored record is not the stored one");
    return;
  }
  if ((got.CfgFlags & ~reference.CfgFlags) != 0) {
    failures.Add("presence bits the printer cannot have answered");
    return;
  }
  for (const Setting& setting : kSettings) {
    const DWORD value = got.*setting.Field;
    // An answered setting holds the printer's value, an unanswered one 0
    // (its map is never applied). Settings without a bit may be either.
    const DWORD want = setting.PresenceBit == kNoPresenceBit  ? value
                       : (got.CfgFlags & setting.PresenceBit) ? reference.*setting.Field
                                                              : 0;
    if ((value != want) || (value != 0 && value != reference.*setting.Field))
      failures.Add("wrong value for ", setting.FieldName);
  }
}

struct PortEntryView {
  std::string name;
  DWORD flags;
};

// The port table walked under the monitor lock.
std::vector<PortEntryView> WalkPortTable() {
  std::vector<PortEntryView> entries;
  LockMonitor();
  for (const PortEntry* e = FirstPortEntry(); e; e = e->Next) {
    std::string name;
    for (LPCWSTR c = e->PortName; *c; ++c) name.push_back(static_cast<char>(*c));
    entries.push_back({name, LoadFlags(e)});
  }
  UnlockMonitor();
  return entries;
}

std::string Narrow(const WString& text) { return std::string(text.begin(), text.end()); }

// Two printers with stored settings: short read time-outs, test pages, and
// a set block that writes back what the printer already holds (2 copies
// would change it; 1 copy and driver paper size 42 do not).
void StoreSettings(DriverDataKey& a, DriverDataKey& b) {
  for (DriverDataKey* stored : {&a, &b}) {
    stored->SetDword(LM_W("dwTimeOut"), 1);
    stored->SetDword(LM_W("dwCfgFlags"), 0x1001);
    stored->SetDword(LM_W("dwCopies"), 1);
    stored->SetDword(LM_W("dwPaperSize"), 42);
  }
  a.SetDword(LM_W("dwTestPage"), 19);
  b.SetDword(LM_W("dwTestPage"), 21);
}

// What the soak's threads share.
struct Soak {
  MONITOR portMonitor;
  WString nameA, nameB;
  ConfigRecord reference{};  // what a port nobody else uses reads back
  Failures failures;
  Deadline deadline;
  HANDLE shared = nullptr;  // documents on one thread, requests on another
  std::atomic<bool> documentsDone{false};
  std::atomic<int> documents{0}, requests{0}, churned{0}, busy{0};
  std::mutex leftMutex;
  std::set<std::string> leftOpen;  // ports the churn threads leave open
  std::vector<HANDLE> leftHandles;
};

// At least 200 documents on the shared port, and on until 100 requests have
// run beside them. Only this thread starts documents there: every start
// must succeed.
void DocumentsOnTheSharedPort(Soak& soak) {
  for (DWORD job = 1; job <= 5000 && !soak.deadline.Passed() && (job <= 200 || soak.requests < 100);
       ++job) {
    if (!Document(soak.shared, job % 2 ? soak.nameA : soak.nameB, job, job % 8 == 0))
      soak.failures.Add("document on the shared port failed");
    ++soak.documents;
  }
  soak.documentsDone = true;
}

// An EndDocPort between the request setting PortActive and its entry text
// makes the request fail; the record is then untouched.
void ConfigurationBesideDocuments(Soak& soak) {
  ConfigRecord record, untouched;
  std::memset(&record, 0xEE, sizeof record);
  std::memset(&untouched, 0xEE, sizeof untouched);
  if (Request(soak.shared, LM_W("GetConfigObjects"), &record, sizeof record))
    CheckConsistent(record, soak.reference, soak.failures);
  else if (std::memcmp(&record, &untouched, sizeof record) != 0)
    soak.failures.Add("a failed GetConfigObjects wrote the record");
}

// Every kind of request in turn on the shared port while documents come
// and go on it.
void RequestsOnTheSharedPort(Soak& soak) {
  BYTE deviceId[256];
  for (int i = 0; (!soak.documentsDone || i < 10) && i < 2000; ++i) {
    SetLastError(0);
    switch (i % 5) {
      case 0:
        ConfigurationBesideDocuments(soak);
        break;
      case 1:
        // May fail when EndDocPort makes the port inactive under it.
        Request(soak.shared, LM_W("PrintTestPage"));
        break;
      case 2:
        if (!Request(soak.shared, LM_W("GetDeviceID"), deviceId, sizeof deviceId))
          soak.failures.Add("GetDeviceID failed on the shared port");
        break;
      case 3:
        if (Request(soak.shared, LM_W("AnyName"), nullptr, 0, 0x220004))
          soak.failures.Add("an unsupported control request succeeded");
        break;
      default:
        Request(soak.shared, LM_W("SetConfigObjects"));
        break;
    }
    if (GetLastError() != ERROR_INVALID_PARAMETER) soak.failures.Add("last error is not 87");
    ++soak.requests;
  }
}

// One round on a port of its own: a document, the requests, and a document
// right after a request (which ends the port monitor's document first).
void ChurnRound(Soak& soak, HANDLE port, const WString& portName, DWORD round, const WString& own,
                const WString& other) {
  const bool parallel = portName != LM_W("COM1:");
  const std::string name = Narrow(portName);
  if (!Document(port, round % 3 ? own : other, round, round % 4 == 1))
    soak.failures.Add("document failed on " + name);
  ConfigRecord record;
  std::memset(&record, 0xEE, sizeof record);
  const BOOL got = Request(port, LM_W("GetConfigObjects"), &record, sizeof record);
  if (parallel && !got) soak.failures.Add("GetConfigObjects failed on " + name);
  if (parallel && got) CheckExact(record, soak.reference, soak.failures, "churn");
  if (!parallel && got) soak.failures.Add("GetConfigObjects served on a serial port");
  if (Request(port, LM_W("PrintTestPage")) != (parallel ? TRUE : FALSE))
    soak.failures.Add("PrintTestPage on " + name);
  BYTE deviceId[256];
  if (!Request(port, LM_W("GetDeviceID"), deviceId, sizeof deviceId))
    soak.failures.Add("GetDeviceID on " + name);
  if (!Document(port, own, round + 1000, false))
    soak.failures.Add("document after a request failed on " + name);
  ++soak.churned;
}

// Ports opened, used and closed again. A contended thread (one of two on
// the same port name) whose open was refused as busy tries again shortly,
// so that the two keep taking the port from each other; an uncontended one
// leaves its last port open for the table check.
void ChurnPort(Soak& soak, const WString& portName, bool contended, const WString& own,
               const WString& other) {
  HANDLE port = nullptr;
  for (DWORD round = 1;;) {
    const bool last = round == 40 || soak.deadline.Passed();
    port = Open(soak.portMonitor, portName, own);
    if (!port) {
      if (!contended || GetLastError() != ERROR_BUSY)
        soak.failures.Add("OpenPortEx failed for " + Narrow(portName));
      ++soak.busy;
      if (soak.deadline.Passed()) break;
      std::this_thread::sleep_for(std::chrono::microseconds(50));
      continue;
    }
    ChurnRound(soak, port, portName, ++round, own, other);
    if (last && !contended) break;
    Table().pfnClosePort(port);
    port = nullptr;
    if (last) break;
    if (contended) std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  if (port) {
    std::lock_guard<std::mutex> guard(soak.leftMutex);
    soak.leftOpen.insert(Narrow(portName));
    soak.leftHandles.push_back(port);
  }
}

// The threads: documents and requests on the shared port, and churn on
// five more. "LPT4:" and "lpt4:" are the same port to the monitor, so those
// two threads fight over it.
void RunThreads(Soak& soak) {
  std::vector<std::thread> threads;
  threads.emplace_back([&] { DocumentsOnTheSharedPort(soak); });
  threads.emplace_back([&] { RequestsOnTheSharedPort(soak); });
  const std::vector<WString> churnPorts = {LM_W("LPT2:"), LM_W("LPT3:"), LM_W("COM1:"),
                                           LM_W("LPT4:"), LM_W("lpt4:")};
  for (std::size_t t = 0; t < churnPorts.size(); ++t)
    threads.emplace_back([&, t] {
      ChurnPort(soak, churnPorts[t], t >= 3, t % 2 ? soak.nameA : soak.nameB,
                t % 2 ? soak.nameB : soak.nameA);
    });
  for (std::thread& thread : threads) thread.join();
}

std::multiset<std::string> Names(const std::vector<PortEntryView>& entries) {
  std::multiset<std::string> names;
  for (const PortEntryView& e : entries) names.insert(e.name);
  return names;
}

// The table holds what it held before, the shared port and the ports left
// open, each exactly once, none of them inside a document; once they are
// closed, what it held before.
void CheckPortTable(Soak& soak, const std::vector<PortEntryView>& tableBefore) {
  std::multiset<std::string> expected = Names(tableBefore);
  expected.insert("LPT1:");
  for (const std::string& name : soak.leftOpen) expected.insert(name);
  const std::vector<PortEntryView> tableAfter = WalkPortTable();
  for (const PortEntryView& e : tableAfter) EXPECT_EQ(e.flags & InDocument, 0u) << e.name;
  EXPECT_EQ(Names(tableAfter), expected);
  EXPECT_EQ(soak.leftOpen.size(), 3u);

  Table().pfnClosePort(soak.shared);
  for (HANDLE port : soak.leftHandles) Table().pfnClosePort(port);
  EXPECT_EQ(Names(WalkPortTable()), Names(tableBefore));
}

// Nothing leaked (printer handles, port-monitor ports), every job was
// reported to the spooler as finished with, and every set line the printer
// heard was whole and changed nothing.
void CheckNothingLeftBehind(const SeamScope& spooler, const SimPrinter& printer,
                            const sim::SimObjectMap& objectsBefore) {
  EXPECT_EQ(spooler.OpenPrinterHandles(), 0);
  EXPECT_EQ(printer.OpenPortCount(), 0);
  for (const SpoolerCall& call : spooler.Calls()) {
    if (call.op == "SetJob") {
      EXPECT_EQ(call.command, DWORD{JOB_CONTROL_CANCEL});
    }
  }
  for (const sim::SimSetRecord& set : printer.Sets()) EXPECT_TRUE(set.applied) << set.objectId;
  EXPECT_TRUE(printer.Objects() == objectsBefore);
  for (const std::string& page : printer.TestPages())
    EXPECT_TRUE(page == "DEMOPAGE" || page == "PSTYPEFACELIST") << page;
}

TEST(SoakMonitor, ThreadsDrivingDocumentsRequestsAndPortsLeaveNothingBehind) {
  Watchdog watchdog;
  SeamScope spooler;  // recording OpenPrinter/SetJob/ClosePrinter
  g_Seams.GetTickCount = &ThreadTicks;
  EnsureMonitorInitialised();

  SimPrinter printer;
  Soak soak;
  soak.portMonitor = printer.MonitorTable();
  const sim::SimObjectMap objectsBefore = printer.Objects();
  soak.nameA = UniquePrinterName();
  soak.nameB = UniquePrinterName();
  DriverDataKey storedA(soak.nameA), storedB(soak.nameB);
  StoreSettings(storedA, storedB);
  const std::vector<PortEntryView> tableBefore = WalkPortTable();
  const long keysBefore = OpenKeyCount();

  HANDLE port = Open(soak.portMonitor, LM_W("LPT1:"), soak.nameA);
  ASSERT_NE(port, nullptr);
  ASSERT_TRUE(Request(port, LM_W("GetConfigObjects"), &soak.reference, sizeof soak.reference));
  Table().pfnClosePort(port);
  ASSERT_EQ(soak.reference.CfgFlags, 0xDBFFFFu) << "the printer should answer every object";

  soak.shared = Open(soak.portMonitor, LM_W("LPT1:"), soak.nameA);
  ASSERT_NE(soak.shared, nullptr);
  RunThreads(soak);
  std::printf(
      "soak: %d documents on the shared port, %d requests beside them, %d churn rounds, "
      "%d opens refused as busy\n",
      soak.documents.load(), soak.requests.load(), soak.churned.load(), soak.busy.load());
  EXPECT_EQ(soak.failures.count.load(), 0) << "first: " << soak.failures.first;
  EXPECT_GT(soak.documents.load(), 0);
  EXPECT_GT(soak.requests.load(), 0);
  EXPECT_GT(soak.churned.load(), 0);

  CheckPortTable(soak, tableBefore);
  EXPECT_EQ(OpenKeyCount(), keysBefore);
  CheckNothingLeftBehind(spooler, printer, objectsBefore);
}

}  // namespace
}  // namespace langmon

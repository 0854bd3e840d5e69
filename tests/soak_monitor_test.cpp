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
  void Add(const std::string& what) {
    if (count.fetch_add(1) == 0) {
      std::lock_guard<std::mutex> guard(mutex);
      first = what;
    }
  }
};

// A configuration read on a port that nobody else touches must be exactly
// what the printer holds.
void CheckExact(const ConfigRecord& got, const ConfigRecord& reference, Failures& failures,
                const char* where) {
  if (std::memcmp(&got, &reference, sizeof got) != 0)
    failures.Add(std::string(where) + ": configuration differs from the printer's");
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
      failures.Add(std::string("wrong value for ") + setting.FieldName);
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

TEST(SoakMonitor, ThreadsDrivingDocumentsRequestsAndPortsLeaveNothingBehind) {
  Watchdog watchdog;
  SeamScope spooler;  // recording OpenPrinter/SetJob/ClosePrinter
  g_Seams.GetTickCount = &ThreadTicks;
  EnsureMonitorInitialised();

  SimPrinter printer;
  MONITOR portMonitor = printer.MonitorTable();
  const sim::SimObjectMap objectsBefore = printer.Objects();

  // Two printers with stored settings: short read time-outs, test pages,
  // and a set block that writes back what the printer already holds
  // (2 copies would change it; 1 copy and driver paper size 42 do not).
  const WString nameA = UniquePrinterName(), nameB = UniquePrinterName();
  DriverDataKey storedA(nameA), storedB(nameB);
  for (DriverDataKey* stored : {&storedA, &storedB}) {
    stored->SetDword(LM_W("dwTimeOut"), 1);
    stored->SetDword(LM_W("dwCfgFlags"), 0x1001);
    stored->SetDword(LM_W("dwCopies"), 1);
    stored->SetDword(LM_W("dwPaperSize"), 42);
  }
  storedA.SetDword(LM_W("dwTestPage"), 19);
  storedB.SetDword(LM_W("dwTestPage"), 21);

  const std::vector<PortEntryView> tableBefore = WalkPortTable();
  const long keysBefore = OpenKeyCount();

  // What a port that nobody else uses reads back.
  ConfigRecord reference{};
  {
    HANDLE port = Open(portMonitor, LM_W("LPT1:"), nameA);
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(Request(port, LM_W("GetConfigObjects"), &reference, sizeof reference));
    Table().pfnClosePort(port);
  }
  ASSERT_EQ(reference.CfgFlags, 0xDBFFFFu) << "the printer should answer every object";

  Failures failures;
  const Deadline deadline;
  std::mutex leftMutex;
  std::set<std::string> leftOpen;  // ports the churn threads leave open
  std::vector<HANDLE> leftHandles;

  // The shared port: documents on one thread, requests on another.
  HANDLE shared = Open(portMonitor, LM_W("LPT1:"), nameA);
  ASSERT_NE(shared, nullptr);
  std::atomic<bool> documentsDone{false};
  std::atomic<int> documents{0}, requests{0}, churned{0}, busy{0};

  std::vector<std::thread> threads;
  threads.emplace_back([&] {
    // At least 200 documents, and on until 100 requests have run beside them.
    for (DWORD job = 1; job <= 5000 && !deadline.Passed() && (job <= 200 || requests < 100);
         ++job) {
      // Only this thread starts documents here: the start must succeed.
      if (!Document(shared, job % 2 ? nameA : nameB, job, job % 8 == 0))
        failures.Add("document on the shared port failed");
      ++documents;
    }
    documentsDone = true;
  });
  threads.emplace_back([&] {
    BYTE deviceId[256];
    for (int i = 0; (!documentsDone || i < 10) && i < 2000; ++i) {
      SetLastError(0);
      switch (i % 5) {
        case 0: {
          ConfigRecord record;
          std::memset(&record, 0xEE, sizeof record);
          // An EndDocPort between the request setting PortActive and its
          // entry text makes the request fail; the record is then untouched.
          if (Request(shared, LM_W("GetConfigObjects"), &record, sizeof record)) {
            CheckConsistent(record, reference, failures);
          } else {
            ConfigRecord untouched;
            std::memset(&untouched, 0xEE, sizeof untouched);
            if (std::memcmp(&record, &untouched, sizeof record) != 0)
              failures.Add("a failed GetConfigObjects wrote the record");
          }
          break;
        }
        case 1:
          // May fail when EndDocPort makes the port inactive under it.
          Request(shared, LM_W("PrintTestPage"));
          break;
        case 2:
          if (!Request(shared, LM_W("GetDeviceID"), deviceId, sizeof deviceId))
            failures.Add("GetDeviceID failed on the shared port");
          break;
        case 3:
          if (Request(shared, LM_W("AnyName"), nullptr, 0, 0x220004))
            failures.Add("an unsupported control request succeeded");
          break;
        default:
          Request(shared, LM_W("SetConfigObjects"));
          break;
      }
      if (GetLastError() != ERROR_INVALID_PARAMETER) failures.Add("last error is not 87");
      ++requests;
    }
  });

  // Churn: ports opened, used and closed again. "LPT4:" and "lpt4:" are the
  // same port to the monitor, so those two threads fight over it.
  const std::vector<WString> churnPorts = {LM_W("LPT2:"), LM_W("LPT3:"), LM_W("COM1:"),
                                           LM_W("LPT4:"), LM_W("lpt4:")};
  for (std::size_t t = 0; t < churnPorts.size(); ++t) {
    threads.emplace_back([&, t] {
      const WString& portName = churnPorts[t];
      const bool parallel = portName != LM_W("COM1:");
      const bool contended = t >= 3;
      const WString& own = t % 2 ? nameA : nameB;
      const WString& other = t % 2 ? nameB : nameA;
      HANDLE port = nullptr;
      // A round counts once the port opened; a contended thread whose open
      // was refused as busy tries again shortly, so that the two threads
      // keep taking the port from each other.
      for (DWORD round = 1;;) {
        const bool last = round == 40 || deadline.Passed();
        port = Open(portMonitor, portName, own);
        if (!port) {
          if (!contended || GetLastError() != ERROR_BUSY)
            failures.Add("OpenPortEx failed for " + Narrow(portName));
          ++busy;
          if (deadline.Passed()) break;
          std::this_thread::sleep_for(std::chrono::microseconds(50));
          continue;
        }
        ++round;
        if (!Document(port, round % 3 ? own : other, round, round % 4 == 1))
          failures.Add("document failed on " + Narrow(portName));
        ConfigRecord record;
        std::memset(&record, 0xEE, sizeof record);
        const BOOL got = Request(port, LM_W("GetConfigObjects"), &record, sizeof record);
        if (parallel && !got) failures.Add("GetConfigObjects failed on " + Narrow(portName));
        if (parallel && got) CheckExact(record, reference, failures, "churn");
        if (!parallel && got) failures.Add("GetConfigObjects served on a serial port");
        if (Request(port, LM_W("PrintTestPage")) != (parallel ? TRUE : FALSE))
          failures.Add("PrintTestPage on " + Narrow(portName));
        BYTE deviceId[256];
        if (!Request(port, LM_W("GetDeviceID"), deviceId, sizeof deviceId))
          failures.Add("GetDeviceID on " + Narrow(portName));
        // A document right after a request ends the port monitor's document first.
        if (!Document(port, own, round + 1000, false))
          failures.Add("document after a request failed on " + Narrow(portName));
        ++churned;
        // The uncontended threads leave their last port open for the table check.
        if (last && !contended) break;
        Table().pfnClosePort(port);
        port = nullptr;
        if (last) break;
        // Let the other thread of a contended pair have its turn.
        if (contended) std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
      if (port) {
        std::lock_guard<std::mutex> guard(leftMutex);
        leftOpen.insert(Narrow(portName));
        leftHandles.push_back(port);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();

  std::printf(
      "soak: %d documents on the shared port, %d requests beside them, %d churn rounds, "
      "%d opens refused as busy\n",
      documents.load(), requests.load(), churned.load(), busy.load());
  EXPECT_EQ(failures.count.load(), 0) << "first: " << failures.first;
  EXPECT_GT(documents.load(), 0);
  EXPECT_GT(requests.load(), 0);
  EXPECT_GT(churned.load(), 0);

  // The table holds what it held before, the shared port and the ports left
  // open, each exactly once, none of them inside a document.
  std::multiset<std::string> expected;
  for (const PortEntryView& e : tableBefore) expected.insert(e.name);
  expected.insert("LPT1:");
  for (const std::string& name : leftOpen) expected.insert(name);
  const std::vector<PortEntryView> tableAfter = WalkPortTable();
  std::multiset<std::string> actual;
  for (const PortEntryView& e : tableAfter) {
    actual.insert(e.name);
    EXPECT_EQ(e.flags & InDocument, 0u) << e.name;
  }
  EXPECT_EQ(actual, expected);
  EXPECT_EQ(leftOpen.size(), 3u);

  Table().pfnClosePort(shared);
  for (HANDLE port : leftHandles) Table().pfnClosePort(port);
  std::multiset<std::string> before, after;
  for (const PortEntryView& e : tableBefore) before.insert(e.name);
  for (const PortEntryView& e : WalkPortTable()) after.insert(e.name);
  EXPECT_EQ(after, before);

  // Nothing leaked: printer handles, port-monitor ports, registry handles.
  EXPECT_EQ(spooler.OpenPrinterHandles(), 0);
  EXPECT_EQ(printer.OpenPortCount(), 0);
  EXPECT_EQ(OpenKeyCount(), keysBefore);
  // Every job was reported to the spooler as finished with.
  for (const SpoolerCall& call : spooler.Calls()) {
    if (call.op == "SetJob") {
      EXPECT_EQ(call.command, DWORD{JOB_CONTROL_CANCEL});
    }
  }

  // Every set line the printer heard was whole and changed nothing.
  for (const sim::SimSetRecord& set : printer.Sets()) EXPECT_TRUE(set.applied) << set.objectId;
  EXPECT_TRUE(printer.Objects() == objectsBefore);
  for (const std::string& page : printer.TestPages())
    EXPECT_TRUE(page == "DEMOPAGE" || page == "PSTYPEFACELIST") << page;
}

}  // namespace
}  // namespace langmon

// The configuration requests against the simulated printer: what it hears,
// what it answers, settings sent and read back, and requests that race the
// documents on the same port.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <ctime>
#include <iterator>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "config/config.h"
#include "driver_data_fixture.h"
#include "sim_printer.h"

namespace langmon {
namespace {

using namespace langmon::testing;
using sim::SimFaults;
using sim::SimPrinter;

ConfigRecord GetConfig(const MonitorPort& port) {
  ConfigRecord record;
  std::memset(&record, 0xEE, sizeof record);
  const long keysBefore = OpenKeyCount();
  EXPECT_TRUE(port.Request(LM_W("GetConfigObjects"), &record, sizeof record));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
  EXPECT_EQ(OpenKeyCount(), keysBefore);
  return record;
}

// What a fresh simulated printer reports, in the driver's encoding.
ConfigRecord SimDefaultRecord() {
  ConfigRecord r{};
  r.CfgFlags = 0xDBFFFF;
  r.Copies = 1;
  r.DarkCourier = 0;
  r.Density = 6;
  r.SaverMode = 1;
  r.FormLines = 60;
  r.FuserTempTray1 = 60;
  r.FuserTempTray2 = 60;
  r.FuserTempTray3 = 60;
  r.InstalledMem = 8388608;
  r.IObuffer = 3;
  r.IObufSize = 100;
  r.Lang = 23;
  r.Orientation = 39;
  r.PaperSize = 42;
  r.PostScript = 1;
  r.PSErrors = 1;
  r.Resolution = 10;
  r.ResourceSave = 3;
  r.ResSaveSizePCL = 400;
  r.ResSaveSizePS = 800;
  r.RePrint = 2;
  r.Smoothing = 1;
  r.Tray3Installed = 1;
  r.TrayLock = 2;
  r.WideA4 = 0;
  return r;
}

TEST(E2eSim, FullGetConfigTranscript) {
  SimPrinter printer;
  MONITOR table = printer.MonitorTable();
  const WString name = UniquePrinterName();
  DriverDataKey stored(name);
  stored.SetDword(LM_W("dwTimeOut"), 25);
  MonitorPort port(table, LM_W("LPT1:"), name);
  printer.ClearRecords();

  const DWORD before = static_cast<DWORD>(std::time(nullptr));
  const ConfigRecord record = GetConfig(port);
  EXPECT_EQ(RecordValues(record), RecordValues(SimDefaultRecord()));

  std::string expected = kEntry;
  const std::string written = printer.Written();
  const std::string echo1 = EchoLine(EchoToken(before)), echo2 = EchoLine(EchoToken(before + 1));
  expected += written.compare(kEntry.size(), echo1.size(), echo1) == 0 ? echo1 : echo2;
  for (const std::string& id : kFullOrder) expected += QueryLine(id);
  expected += kExit;
  EXPECT_EQ(written, expected);
  EXPECT_EQ(printer.EchoCount(), 1u);
  EXPECT_EQ(printer.PortOps(), std::vector<std::string>{"SetPortTimeOuts"});
  EXPECT_EQ(printer.LastTimeouts().ReadTotalTimeoutConstant, 25u);
}

struct SimRuleCase {
  const char* rule;
  std::vector<std::pair<std::string, DWORD>> numbers;  // objects changed
  std::vector<std::string> silent;                     // objects not answered
  std::vector<std::string> notAsked;
  std::vector<std::pair<DWORD ConfigRecord::*, DWORD>> fields;
  DWORD mask;
};

void PrintTo(const SimRuleCase& c, std::ostream* os) { *os << c.rule; }

class E2eSimRules : public ::testing::TestWithParam<SimRuleCase> {};

TEST_P(E2eSimRules, DependentStepsFollowThePrintersAnswers) {
  const SimRuleCase& c = GetParam();
  SeamScope scope(true);  // unanswered queries end after a few reads
  scope.step = 1000;
  SimPrinter printer;
  for (const auto& [id, value] : c.numbers) printer.SetNumber(id, ValueType::PaddedNumber, value);
  SimFaults faults;
  for (const std::string& id : c.silent) faults.silentObjects.insert(id);
  printer.SetFaults(faults);
  MONITOR table = printer.MonitorTable();
  MonitorPort port(table, LM_W("LPT1:"), UniquePrinterName());
  const ConfigRecord record = GetConfig(port);

  std::vector<std::string> asked = printer.Queries();
  EXPECT_EQ(asked, [&] {
    std::vector<std::string> ids = kFullOrder;
    for (const std::string& id : c.notAsked) std::erase(ids, id);
    return ids;
  }());
  EXPECT_EQ(record.CfgFlags, c.mask);
  for (const auto& [field, value] : c.fields) EXPECT_EQ(record.*field, value);
}

// The rules that need a printer that stays silent on one object (the
// scripted tests answer without a value record instead).
const SimRuleCase kSimRules[] = {
    {"tray 3 silent",
     {},
     {kTray3},
     {kFuser3},
     {{&ConfigRecord::Tray3Installed, 0}, {&ConfigRecord::FuserTempTray3, 0}},
     0xDBFFFF & ~0x80u},
    {"tray 3 fuser silent",
     {},
     {kFuser3},
     {},
     {{&ConfigRecord::Tray3Installed, 1}, {&ConfigRecord::FuserTempTray3, 0}},
     0xDBFFFF & ~0x80u},
    {"IObuffer 0 on the wire",
     {{kIObuffer, 0}},
     {},
     {kIObufSize},
     {{&ConfigRecord::IObuffer, 0}, {&ConfigRecord::IObufSize, 0}},
     0xDBFFFF & ~0x200u},
    {"PSErrors and ResSaveSizePCL silent: siblings still asked",
     {},
     {kPSErrors, kResSaveSizePCL},
     {},
     {{&ConfigRecord::ResourceSave, 3}, {&ConfigRecord::ResSaveSizePS, 800}},
     0xDBFFFF & ~0x12000u},
};

INSTANTIATE_TEST_SUITE_P(Rules, E2eSimRules, ::testing::ValuesIn(kSimRules));

TEST(E2eSim, SilentPrinterFallsBackToTheRegistry) {
  SeamScope scope(true);
  scope.step = 1000;
  SimPrinter printer;
  SimFaults faults;
  faults.silent = true;
  printer.SetFaults(faults);
  MONITOR table = printer.MonitorTable();
  const WString name = UniquePrinterName();
  DriverDataKey stored(name);
  stored.SetDword(LM_W("dwCfgFlags"), 2);
  stored.SetDword(LM_W("dwPaperSize"), 45);
  MonitorPort port(table, LM_W("LPT1:"), name);
  const ConfigRecord record = GetConfig(port);
  EXPECT_EQ(record.CfgFlags, 0x0FFFFFFFu);
  EXPECT_EQ(record.PaperSize, 45u);
  EXPECT_EQ(record.InstalledMem, 20480000u);
  EXPECT_TRUE(printer.Queries().empty());
}

// The driver's stored settings sent with "SetConfigObjects" come back from
// the printer unchanged for every setting whose two maps are inverse.
TEST(E2eSim, SetThenGetRoundTrip) {
  SimPrinter printer;
  MONITOR table = printer.MonitorTable();
  const WString name = UniquePrinterName();
  DriverDataKey stored(name);
  ConfigRecord wanted{};
  wanted.Copies = 4;
  wanted.DarkCourier = 1;
  wanted.Density = 8;
  wanted.SaverMode = 2;
  wanted.FormLines = 72;
  wanted.FuserTempTray1 = 61;
  wanted.FuserTempTray2 = 59;
  wanted.FuserTempTray3 = 60;
  wanted.IObuffer = 1;
  wanted.IObufSize = 300;
  wanted.Lang = 25;
  wanted.Orientation = 40;
  wanted.PaperSize = 50;
  wanted.PSErrors = 0;
  wanted.Resolution = 9;
  wanted.ResourceSave = 2;
  wanted.ResSaveSizePCL = 102400;
  wanted.ResSaveSizePS = 70000;
  wanted.RePrint = 0;
  wanted.Smoothing = 2;
  wanted.TrayLock = 3;
  wanted.WideA4 = 1;
  stored.SetDword(LM_W("dwCfgFlags"), 0xFFFFFFFF);
  for (const Setting& setting : kSettings)
    stored.SetDword(setting.ValueName, wanted.*setting.Field);

  MonitorPort port(table, LM_W("LPT1:"), name);
  EXPECT_TRUE(port.Request(LM_W("SetConfigObjects")));
  const std::vector<sim::SimSetRecord> sets = printer.Sets();
  ASSERT_EQ(sets.size(), kSendOrderCount);
  for (const sim::SimSetRecord& set : sets) EXPECT_TRUE(set.applied) << set.objectId;

  const ConfigRecord got = GetConfig(port);
  EXPECT_EQ(got.CfgFlags, 0xDBFFFFu);
  for (DWORD position : kSendOrder) {
    const Setting& setting = SettingAt(position);
    EXPECT_EQ(got.*setting.Field, wanted.*setting.Field) << setting.FieldName;
  }
  // Never sent: the printer's own values stand.
  EXPECT_EQ(got.InstalledMem, 8388608u);
  EXPECT_EQ(got.PostScript, 1u);
  EXPECT_EQ(got.TestPage, 0u);
  EXPECT_EQ(got.Tray3Installed, 1u);
}

TEST(E2eSim, TestPageAndDeviceId) {
  SimPrinter printer;
  MONITOR table = printer.MonitorTable();
  const WString name = UniquePrinterName();
  DriverDataKey stored(name);
  stored.SetDword(LM_W("dwTestPage"), 22);
  MonitorPort port(table, LM_W("LPT1:"), name);
  EXPECT_TRUE(port.Request(LM_W("PrintTestPage")));
  EXPECT_EQ(printer.TestPages(), std::vector<std::string>{"DEMOPAGE"});
  char id[512] = {};
  EXPECT_TRUE(port.Request(LM_W("GetDeviceId"), id, sizeof id));
  EXPECT_EQ(std::string(id + 2), printer.DeviceId());
}

// Requests on one thread while documents start and end on another, with the
// printer name changing from document to document: StartDocPort frees and
// replaces the name the requests build their key path from. Run under
// ThreadSanitizer this also checks the flag word and the name copy.
// Documents alternating between two printers on the port, `rounds` of them.
void AlternateDocuments(HANDLE port, WString a, WString b, int rounds) {
  BYTE data[] = "job data";
  for (int i = 0; i < rounds; ++i) {
    LPWSTR printerName = (i % 2) ? b.data() : a.data();
    if (MonitorTable()->Monitor.pfnStartDocPort(port, printerName, i + 1, 1, nullptr)) {
      DWORD written = 0;
      MonitorTable()->Monitor.pfnWritePort(port, data, sizeof data - 1, &written);
      MonitorTable()->Monitor.pfnEndDocPort(port);
    }
  }
}

// The n-th request of the round: test page, set, get in turn. A record
// that comes back is one of the two stored configurations (the fake never
// echoes).
void RequestInTurn(MonitorPort& port, int n) {
  ConfigRecord record{};
  switch (n % 3) {
    case 0:
      port.Request(LM_W("PrintTestPage"));
      break;
    case 1:
      port.Request(LM_W("SetConfigObjects"));
      break;
    default:
      std::memset(&record, 0xEE, sizeof record);
      if (port.Request(LM_W("GetConfigObjects"), &record, sizeof record)) {
        EXPECT_EQ(record.CfgFlags, 0x0FFFFFFFu);
        EXPECT_TRUE(record.Copies == 1 || record.Copies == 2) << record.Copies;
      }
      break;
  }
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
}

// One monitor serves eighteen parallel ports, LPT1: to LPT9: and LPT1 to
// LPT9 (a name with the colon and one without are two ports), each in front
// of a printer of its own. Eighteen configuration reads at once (run under
// ThreadSanitizer in the test command) must each come back whole and from
// their own printer, and leave no registry key open.
TEST(E2eSim, EveryServedPortReadsItsOwnPrinterAtOnce) {
  constexpr int kPorts = static_cast<int>(std::size(kServedPortNames));
  std::vector<std::unique_ptr<SimPrinter>> printers;
  std::vector<MONITOR> tables;
  std::vector<WString> names;
  for (int i = 0; i < kPorts; ++i) {
    printers.push_back(std::make_unique<SimPrinter>());
    printers.back()->SetNumber("050103030104", ValueType::PaddedNumber, DWORD(i + 1));  // copies
    tables.push_back(printers.back()->MonitorTable());
    names.push_back(UniquePrinterName());
  }
  std::vector<std::unique_ptr<MonitorPort>> ports;
  for (int i = 0; i < kPorts; ++i) {
    ports.push_back(std::make_unique<MonitorPort>(tables[i], kServedPortNames[i], names[i]));
  }
  const long keysBefore = OpenKeyCount();
  std::vector<ConfigRecord> records(kPorts);
  std::vector<BOOL> results(kPorts, FALSE);
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kPorts; ++i) {
    threads.emplace_back([&, i] {
      ++ready;
      while (ready < kPorts) std::this_thread::yield();
      results[i] = ports[i]->Request(LM_W("GetConfigObjects"), &records[i], sizeof records[i]);
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(OpenKeyCount(), keysBefore);
  for (int i = 0; i < kPorts; ++i) {
    SCOPED_TRACE(i + 1);
    EXPECT_TRUE(results[i]);
    ConfigRecord expected = SimDefaultRecord();
    expected.Copies = DWORD(i + 1);
    EXPECT_EQ(RecordValues(records[i]), RecordValues(expected));
    EXPECT_EQ(printers[i]->EchoCount(), 1u) << "each printer heard only its own port";
  }
}

TEST(E2eSim, RequestsRaceDocumentsOnTheSamePort) {
  SeamScope scope(true);
  scope.step = 2000;  // the probe goes unanswered: two reads per exchange
  FakePortMonitor fake;
  const WString nameA = UniquePrinterName(), nameB = UniquePrinterName();
  DriverDataKey storedA(nameA), storedB(nameB);
  storedA.SetDword(LM_W("dwTestPage"), 18);
  storedB.SetDword(LM_W("dwTestPage"), 21);
  storedA.SetDword(LM_W("dwCfgFlags"), 0x1);
  storedA.SetDword(LM_W("dwCopies"), 1);
  storedB.SetDword(LM_W("dwCfgFlags"), 0x1);
  storedB.SetDword(LM_W("dwCopies"), 2);
  MonitorPort port(fake, LM_W("LPT1:"), nameA);
  const long keysBefore = OpenKeyCount();

  std::atomic<bool> done{false};
  std::thread documents([&] {
    AlternateDocuments(port.handle(), nameA, nameB, 150);
    done = true;
  });
  for (int requests = 0; !done || requests < 3; ++requests) RequestInTurn(port, requests);
  documents.join();
  EXPECT_EQ(OpenKeyCount(), keysBefore);

  // Whatever interleaving happened, only whole, well-formed texts for one of
  // the two printers reached the port.
  const std::set<std::string> allowed = {
      "job data",
      kEntry,
      kExit,
      "@PJL SET TESTPAGE=PCLTYPELIST\r\n",
      "@PJL SET TESTPAGE=PSTYPEFACELIST\r\n",
      "@PJL DMCMD ASCIIHEX=\"040005010303010408020001\"\r\n",
      "@PJL DMCMD ASCIIHEX=\"040005010303010408020002\"\r\n",
  };
  for (const std::string& piece : WrittenPieces(fake))
    EXPECT_TRUE(allowed.count(piece) || piece.rfind("@PJL ECHO Getting Configuration", 0) == 0)
        << piece;
}

}  // namespace
}  // namespace langmon

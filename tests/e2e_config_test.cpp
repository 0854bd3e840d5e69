// "GetConfigObjects" and "SetConfigObjects" end to end through the monitor's
// table: the exact bytes on the wire, the record handed to the driver, and
// the registry read on the way.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "config/config.h"
#include "driver_data_fixture.h"

namespace langmon {
namespace {

using namespace langmon::testing;  // fixture helpers and object identifiers

// ---- GetConfigObjects, printer answering ----------------------------------------

TEST(E2eGetConfig, FullTranscriptAgainstAPrinterThatAnswersEverything) {
  SeamScope scope(true);
  scope.step = 500;
  FakePortMonitor fake;
  const WString printer = UniquePrinterName();
  DriverDataKey stored(printer);
  stored.SetDword(LM_W("dwTimeOut"), 40);
  // Stored values must not leak into a record read from the printer.
  stored.SetDword(LM_W("dwCfgFlags"), 1);
  stored.SetDword(LM_W("dwTestPage"), 19);
  MonitorPort port(fake, LM_W("LPT1:"), printer);

  const DWORD before = static_cast<DWORD>(std::time(nullptr));
  QueueEchoReply(fake);
  const std::map<std::string, DWORD> answers = FullPrinter();
  for (const std::string& id : kFullOrder) fake.QueueRead(NumberReply(id, answers.at(id)));

  ConfigRecord record;
  std::memset(&record, 0xEE, sizeof record);
  const long keysBefore = OpenKeyCount();
  SetLastError(0);
  ASSERT_TRUE(port.Request(LM_W("GetConfigObjects"), &record, sizeof record));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
  EXPECT_EQ(OpenKeyCount(), keysBefore);

  // Entry text, time-out record, probe, every query in step order, exit text.
  std::vector<std::string> ops;
  for (const std::string& op : fake.Ops())
    if (op != "ReadPort") ops.push_back(op);
  std::vector<std::string> expectedOps = {"OpenPort", "WritePort", "SetPortTimeOuts"};
  expectedOps.insert(expectedOps.end(), 1 + kFullOrder.size() + 1, "WritePort");
  EXPECT_EQ(ops, expectedOps);
  EXPECT_EQ(fake.lastTimeouts.ReadIntervalTimeout, 40u);
  EXPECT_EQ(fake.lastTimeouts.ReadTotalTimeoutConstant, 40u);

  const std::vector<std::string> pieces = WrittenPieces(fake);
  ASSERT_EQ(pieces.size(), kFullOrder.size() + 3);
  EXPECT_EQ(pieces.front(), kEntry);
  EXPECT_TRUE(pieces[1] == EchoLine(EchoToken(before)) ||
              pieces[1] == EchoLine(EchoToken(before + 1)))
      << pieces[1];
  for (std::size_t i = 0; i < kFullOrder.size(); ++i)
    EXPECT_EQ(pieces[2 + i], QueryLine(kFullOrder[i]));
  EXPECT_EQ(pieces.back(), kExit);

  EXPECT_EQ(RecordValues(record), RecordValues(FullPrinterRecord()));
  EXPECT_EQ(record.CfgFlags, 0xDBFFFFu);
}

// A printer that echoes the probe and then answers none of the queries
// yields a record of zeros: it was asked, so the stored settings are not
// used.
TEST(E2eGetConfig, PrinterThatOnlyEchoesGivesAllZeros) {
  FakePortMonitor fake;
  const WString printer = UniquePrinterName();
  DriverDataKey stored(printer);
  stored.SetDword(LM_W("dwCfgFlags"), 1);
  stored.SetDword(LM_W("dwCopies"), 4);
  QueueEchoReply(fake);
  const SilentRun run = GetConfigFromSilentPrinter(fake, printer);
  EXPECT_TRUE(run.result);
  EXPECT_EQ(RecordValues(run.record), std::vector<DWORD>(kConfigValueCount, 0));
  EXPECT_EQ(WrittenPieces(fake).size(), 2u + 18u + 1u) << "probe, 18 unconditional queries";
}

// ---- GetConfigObjects, printer silent: registry and defaults ----------------------------

TEST(E2eGetConfig, SilentPrinterGivesTheStoredSettings) {
  FakePortMonitor fake;
  const WString printer = UniquePrinterName();
  DriverDataKey stored(printer);
  stored.SetDword(LM_W("dwCfgFlags"), 0x1000);
  std::vector<DWORD> expected = {0x0FFFFFFF};
  DWORD value = 11;
  for (const Setting& setting : kSettings) {
    stored.SetDword(setting.ValueName, value);
    expected.push_back(value);
    value = value * 3 + 1;
  }
  const SilentRun run = GetConfigFromSilentPrinter(fake, printer);
  EXPECT_TRUE(run.result);
  EXPECT_EQ(RecordValues(run.record), expected);
}

TEST(E2eGetConfig, SilentPrinterWithoutStoredSettingsGivesTheDefaults) {
  const std::vector<DWORD> defaults = {0x0FFFFFFF, 1,      1,      6,  1,  60, 60, 60, 60,
                                       2097152,    3,      10,     23, 39, 42, 0,  1,  11,
                                       3,          102400, 102400, 2,  1,  17, 0,  2,  1};
  {
    FakePortMonitor fake;
    const SilentRun run = GetConfigFromSilentPrinter(fake, UniquePrinterName());
    EXPECT_TRUE(run.result);
    EXPECT_EQ(RecordValues(run.record), defaults) << "no key at all";
  }
  {
    FakePortMonitor fake;
    const WString printer = UniquePrinterName();
    DriverDataKey stored(printer);
    stored.SetDword(LM_W("dwCfgFlags"), 0);
    stored.SetDword(LM_W("dwInstalledMem"), 4096);
    const SilentRun run = GetConfigFromSilentPrinter(fake, printer);
    EXPECT_EQ(RecordValues(run.record), defaults) << "dwCfgFlags 0";
  }
}

TEST(E2eGetConfig, MissingValuesTakeFallbacksNotDefaults) {
  FakePortMonitor fake;
  const WString printer = UniquePrinterName();
  DriverDataKey stored(printer);
  stored.SetDword(LM_W("dwCfgFlags"), 0x800000);
  stored.SetDword(LM_W("dwCopies"), 2);
  const SilentRun run = GetConfigFromSilentPrinter(fake, printer);
  EXPECT_EQ(run.record.CfgFlags, 0x0FFFFFFFu);
  EXPECT_EQ(run.record.Copies, 2u);
  EXPECT_EQ(run.record.InstalledMem, 20480000u);
  EXPECT_EQ(run.record.ResSaveSizePCL, 100u);
  EXPECT_EQ(run.record.ResSaveSizePS, 100u);
  EXPECT_EQ(run.record.TestPage, 17u);
}

// ---- SetConfigObjects ------------------------------------------------------------------------

std::string SetLine(const std::string& objectId, const std::string& wordAndValue) {
  return "@PJL DMCMD ASCIIHEX=\"0400" + objectId + wordAndValue + "\"\r\n";
}

struct SetRun {
  BOOL result;
  std::vector<std::string> pieces;
};

// Stores the values under a fresh printer, sends "SetConfigObjects" and
// returns what reached the port.
SetRun SendStored(const std::vector<std::pair<WString, DWORD>>& values, DWORD shortWriteBy = 0,
                  bool withKey = true) {
  FakePortMonitor fake;
  const WString printer = UniquePrinterName();
  std::unique_ptr<DriverDataKey> stored;
  if (withKey) {
    stored = std::make_unique<DriverDataKey>(printer);
    for (const auto& [name, value] : values) stored->SetDword(name, value);
  }
  MonitorPort port(fake, LM_W("LPT1:"), printer);
  fake.shortWriteBy = shortWriteBy;
  const long keysBefore = OpenKeyCount();
  SetLastError(0);
  SetRun run;
  run.result = port.Request(LM_W("SetConfigObjects"));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
  EXPECT_EQ(OpenKeyCount(), keysBefore);
  fake.shortWriteBy = 0;
  for (const FakeCall& call : fake.Calls())
    if (call.op == "WritePort") run.pieces.push_back(call.data);
  EXPECT_EQ(fake.Ops().size(), run.pieces.size() + 1) << "nothing is read back";
  return run;
}

struct SetCase {
  const char* what;
  std::vector<std::pair<WString, DWORD>> values;
  std::string block;  // empty: nothing but the entry and exit texts
};

void PrintTo(const SetCase& c, std::ostream* os) { *os << c.what; }

class E2eSetConfig : public ::testing::TestWithParam<SetCase> {};

TEST_P(E2eSetConfig, SendsTheSelectedLinesInOneWrite) {
  const SetCase& c = GetParam();
  const SetRun run = SendStored(c.values);
  std::vector<std::string> expected = {kEntry};
  if (!c.block.empty()) expected.push_back(c.block);
  expected.push_back(kExit);
  EXPECT_EQ(run.pieces, expected);
  EXPECT_EQ(run.result, c.block.empty() ? FALSE : TRUE);
}

const SetCase kSetCases[] = {
    {"paper size 42 goes out as 2",
     {{LM_W("dwCfgFlags"), 0x1000}, {LM_W("dwPaperSize"), 42}},
     "@PJL DMCMD ASCIIHEX=\"040005010303010d040102\"\r\n"},
    {"form lines follow paper size",
     {{LM_W("dwCfgFlags"), 0x1010}, {LM_W("dwPaperSize"), 41}, {LM_W("dwFormLines"), 60}},
     SetLine("05010303010d", "040101") + SetLine("05010303010b", "0802003C")},
    {"SaverMode follows resolution",
     {{LM_W("dwCfgFlags"), 0x4008}, {LM_W("dwSaverMode"), 1}, {LM_W("dwResolution"), 11}},
     SetLine("050103030108", "08030004B0") + SetLine("050104010607", "08020064")},
    {"fuser 61 goes out as -1 with type 9",
     {{LM_W("dwCfgFlags"), 0x20}, {LM_W("dwFuserTempTray1"), 61}},
     SetLine("070104010303010d", "2402FFFF")},
    {"fuser 59 and 60 go out as 1 and 0 with type 2, 62 unchanged",
     {{LM_W("dwCfgFlags"), 0xE0},
      {LM_W("dwFuserTempTray1"), 59},
      {LM_W("dwFuserTempTray2"), 60},
      {LM_W("dwFuserTempTray3"), 62}},
     SetLine("070104010303010d", "08020001") + SetLine("070104010303020d", "08020000") +
         SetLine("070104010303030d", "0802003E")},
    {"language 10 wraps below zero",
     {{LM_W("dwCfgFlags"), 0x400}, {LM_W("dwLang"), 10}},
     SetLine("06020501010201", "0804FFFFFFF4")},
    {"orientation, smoothing, density and paper outside their maps",
     {{LM_W("dwCfgFlags"), 0x101804},
      {LM_W("dwOrientation"), 40},
      {LM_W("dwSmoothing"), 0},
      {LM_W("dwDensity"), 9},
      {LM_W("dwPaperSize"), 56}},
     SetLine("050104010105", "08020009") + SetLine("07020f0101070101", "040104") +
         SetLine("05010303010d", "040138") + SetLine("050104010605", "040102")},
    {"a selected value that is missing is left out",
     {{LM_W("dwCfgFlags"), 0x3}, {LM_W("dwDarkCourier"), 1}},
     SetLine("050103030126", "040101")},
    {"only bits that name no setting: nothing is sent",
     {{LM_W("dwCfgFlags"), 0xFF240000}, {LM_W("dwCopies"), 1}},
     ""},
    {"dwCfgFlags 0: nothing is sent", {{LM_W("dwCfgFlags"), 0}, {LM_W("dwCopies"), 1}}, ""},
    {"no dwCfgFlags: nothing is sent", {{LM_W("dwCopies"), 1}}, ""},
    {"no selected value readable: nothing is sent", {{LM_W("dwCfgFlags"), 0x1}}, ""},
};

INSTANTIATE_TEST_SUITE_P(Blocks, E2eSetConfig, ::testing::ValuesIn(kSetCases));

TEST(E2eSetConfigAll, EveryBitSetSendsTwentyTwoLinesInOneWrite) {
  std::vector<std::pair<WString, DWORD>> values = {{LM_W("dwCfgFlags"), 0xFFFFFFFF},
                                                   {LM_W("dwCopies"), 2},
                                                   {LM_W("dwDarkCourier"), 1},
                                                   {LM_W("dwDensity"), 7},
                                                   {LM_W("dwSaverMode"), 1},
                                                   {LM_W("dwFormLines"), 60},
                                                   {LM_W("dwFuserTempTray1"), 61},
                                                   {LM_W("dwFuserTempTray2"), 59},
                                                   {LM_W("dwFuserTempTray3"), 60},
                                                   {LM_W("dwInstalledMem"), 8388608},
                                                   {LM_W("dwIObuffer"), 3},
                                                   {LM_W("dwIObufSize"), 300},
                                                   {LM_W("dwLang"), 23},
                                                   {LM_W("dwOrientation"), 40},
                                                   {LM_W("dwPaperSize"), 55},
                                                   {LM_W("dwPostScript"), 1},
                                                   {LM_W("dwPSErrors"), 0},
                                                   {LM_W("dwResolution"), 10},
                                                   {LM_W("dwResourceSave"), 3},
                                                   {LM_W("dwResSaveSizePCL"), 102400},
                                                   {LM_W("dwResSaveSizePS"), 100},
                                                   {LM_W("dwRePrint"), 2},
                                                   {LM_W("dwSmoothing"), 0},
                                                   {LM_W("dwTestPage"), 19},
                                                   {LM_W("dwTray3Installed"), 1},
                                                   {LM_W("dwTrayLock"), 2},
                                                   {LM_W("dwWideA4"), 1}};
  const std::vector<std::string> lines = {
      SetLine("050103030104", "08020002"),     SetLine("050103030126", "040101"),
      SetLine("050104010105", "08020004"),     SetLine("070104010303010d", "2402FFFF"),
      SetLine("070104010303020d", "08020001"), SetLine("070104010303030d", "08020000"),
      SetLine("050102010105", "040103"),       SetLine("050102010106", "080300012C"),
      SetLine("06020501010201", "08020001"),   SetLine("07020f0101070101", "040104"),
      SetLine("05010303010d", "040165"),       SetLine("05010303010b", "0802003C"),
      SetLine("05010303040b", "040100"),       SetLine("050103030108", "0803000258"),
      SetLine("050104010607", "08020064"),     SetLine("050103030106", "040103"),
      SetLine("050103030302", "080400019000"), SetLine("050103030402", "08020064"),
      SetLine("050103030124", "040102"),       SetLine("050104010605", "040102"),
      SetLine("06010401030106", "200102"),     SetLine("050103030125", "040101")};
  std::string block;
  for (const std::string& line : lines) block += line;

  const SetRun run = SendStored(values);
  EXPECT_TRUE(run.result);
  ASSERT_EQ(run.pieces.size(), 3u) << "entry text, one block, exit text";
  EXPECT_EQ(run.pieces[0], kEntry);
  EXPECT_EQ(run.pieces[1], block);
  EXPECT_EQ(run.pieces[2], kExit);
}

// The port monitor takes every write but one byte of the set block.
BOOL(WINAPI* g_fakeWritePort)(HANDLE, LPBYTE, DWORD, LPDWORD) = nullptr;

BOOL WINAPI WriteBlocksShort(HANDLE port, LPBYTE data, DWORD count, LPDWORD written) {
  const BOOL ok = g_fakeWritePort(port, data, count, written);
  if (count > 15 && written && *written == count) *written = count - 1;
  return ok;
}

TEST(E2eSetConfigAll, ShortBlockWriteFailsTheRequest) {
  FakePortMonitor fake;
  g_fakeWritePort = fake.table.pfnWritePort;
  fake.table.pfnWritePort = &WriteBlocksShort;
  const WString printer = UniquePrinterName();
  DriverDataKey stored(printer);
  stored.SetDword(LM_W("dwCfgFlags"), 0x1);
  stored.SetDword(LM_W("dwCopies"), 1);
  MonitorPort port(fake, LM_W("LPT1:"), printer);
  EXPECT_FALSE(port.Request(LM_W("SetConfigObjects")));
  EXPECT_EQ(WrittenPieces(fake),
            (std::vector<std::string>{kEntry, SetLine("050103030104", "08020001"), kExit}));
}

TEST(E2eSetConfigAll, NoKeyMeansNothingIsSent) {
  const SetRun run = SendStored({}, 0, false);
  EXPECT_FALSE(run.result);
  EXPECT_EQ(run.pieces, (std::vector<std::string>{kEntry, kExit}));
}

// ---- printer names without a usable key ----------------------------------------------------

TEST(E2eKeyPath, NullOrOverlongPrinterNameActsAsAKeyThatDoesNotOpen) {
  WString tooLong = UniquePrinterName();
  tooLong.resize(190, WCHAR('y'));
  DriverDataKey stored(tooLong);
  stored.SetDword(LM_W("dwCfgFlags"), 1);
  stored.SetDword(LM_W("dwCopies"), 9);
  stored.SetDword(LM_W("dwTestPage"), 21);
  const WString* const printers[] = {nullptr, &tooLong};
  for (const WString* printer : printers) {
    SCOPED_TRACE(printer ? "190 characters" : "null");
    FakePortMonitor fake;
    MonitorPort port(fake, LM_W("LPT1:"), printer);
    EXPECT_FALSE(port.Request(LM_W("SetConfigObjects")));
    EXPECT_FALSE(port.Request(LM_W("PrintTestPage")));
    EXPECT_EQ(WrittenPieces(fake), (std::vector<std::string>{kEntry, kExit}));
  }
}

}  // namespace
}  // namespace langmon

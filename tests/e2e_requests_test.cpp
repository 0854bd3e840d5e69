// GetPrinterDataFromPort through the monitor's table: what is forwarded to
// the port monitor, what is served on which ports, the PJL framing, the
// port's time-outs and the last error.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "config/config.h"
#include "driver_data_fixture.h"
#include "port/port_ops.h"

namespace langmon {
namespace {

using testing::DriverDataKey;
using testing::FakeCall;
using testing::FakePortMonitor;
using testing::GetConfigFromSilentPrinter;
using testing::kEntry;
using testing::kExit;
using testing::MonitorPort;
using testing::OpenKeyCount;
using testing::SeamScope;
using testing::SilentRun;
using testing::UniquePrinterName;
using testing::WString;

BOOL RawRequest(HANDLE port, DWORD controlId, LPWSTR name, LPWSTR in, DWORD cbIn, LPWSTR out,
                DWORD cbOut, LPDWORD returned) {
  return MonitorTable()->Monitor.pfnGetPrinterDataFromPort(port, controlId, name, in, cbIn, out,
                                                           cbOut, returned);
}

std::vector<FakeCall> CallsNamed(const FakePortMonitor& fake, const std::string& op) {
  std::vector<FakeCall> calls;
  for (const FakeCall& call : fake.Calls())
    if (call.op == op) calls.push_back(call);
  return calls;
}

// ---- forwarded requests ------------------------------------------------------------

TEST(RequestsForward, ControlRequestsReachThePortMonitorUnchangedOnEveryPort) {
  for (LPCWSTR portName : {LM_W("LPT1:"), LM_W("COM2:"), LM_W("FILE:"), LM_W("\\\\srv\\q")}) {
    FakePortMonitor fake;
    fake.printerData = "ABCD";
    MonitorPort port(fake, portName, UniquePrinterName());
    WCHAR name[] = LM_W("AnyName");
    WCHAR in[4] = {1, 2, 3, 4};
    WCHAR out[8] = {};
    DWORD returned = 0;
    SetLastError(0);
    EXPECT_TRUE(
        RawRequest(port.handle(), 0x220004, name, in, sizeof in, out, sizeof out, &returned));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
    EXPECT_EQ(returned, 4u);
    EXPECT_EQ(std::memcmp(out, "ABCD", 4), 0);
    const std::vector<FakeCall> calls = CallsNamed(fake, "GetPrinterDataFromPort");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].number, 0x220004u);
    EXPECT_EQ(calls[0].name, WString(LM_W("AnyName")));
    EXPECT_NE(LoadFlags(port.entry()) & PortActive, 0u) << "a forwarded request sets it too";
    EXPECT_TRUE(fake.Written().empty());
  }
}

TEST(RequestsForward, GetDeviceIdInAnyCaseGoesOutAsTheDeviceIdControlCode) {
  struct Case {
    LPCWSTR port;
    LPCWSTR name;
  };
  for (const Case c :
       {Case{LM_W("LPT1:"), LM_W("GetDeviceID")}, Case{LM_W("COM1:"), LM_W("getdeviceid")},
        Case{LM_W("FILE:"), LM_W("GETDEVICEID")}}) {
    FakePortMonitor fake;
    MonitorPort port(fake, c.port, UniquePrinterName());
    BYTE out[64] = {};
    EXPECT_TRUE(port.Request(c.name, out, sizeof out));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
    const std::vector<FakeCall> calls = CallsNamed(fake, "GetPrinterDataFromPort");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].number, DWORD{IOCTL_PAR_QUERY_DEVICE_ID});
    EXPECT_EQ(calls[0].name, WString(c.name)) << "the value name is passed along";
  }
}

TEST(RequestsForward, FailuresAndAMissingSlotGiveFalseWithLastError87) {
  FakePortMonitor fake;
  fake.failGetPrinterData = true;
  fake.failError = ERROR_GEN_FAILURE;
  MonitorPort failing(fake, LM_W("LPT1:"), UniquePrinterName());
  EXPECT_FALSE(failing.Request(LM_W("GetDeviceID")));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER}) << "replaces the port monitor's";

  FakePortMonitor bare;
  bare.table.pfnGetPrinterDataFromPort = nullptr;
  MonitorPort port(bare, LM_W("LPT2:"), UniquePrinterName());
  SetLastError(0);
  EXPECT_FALSE(port.Request(LM_W("GetDeviceID")));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
  WCHAR name[] = LM_W("x");
  DWORD returned = 0;
  EXPECT_FALSE(RawRequest(port.handle(), 7, name, nullptr, 0, nullptr, 0, &returned));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
}

// ---- served requests: which ports, which names ---------------------------------------

TEST(RequestsServed, OnlyParallelPortsServeTheMonitorsOwnRequests) {
  for (LPCWSTR portName : {LM_W("COM1:"), LM_W("FILE:"), LM_W("LPT10:"), LM_W("NUL")}) {
    FakePortMonitor fake;
    const WString printer = UniquePrinterName();
    DriverDataKey stored(printer);
    stored.SetDword(LM_W("dwCfgFlags"), 0xFFFFFFFF);
    stored.SetDword(LM_W("dwTestPage"), 19);
    MonitorPort port(fake, portName, printer);
    ConfigRecord record{};
    for (LPCWSTR name :
         {LM_W("GetConfigObjects"), LM_W("SetConfigObjects"), LM_W("PrintTestPage")}) {
      SetLastError(0);
      EXPECT_FALSE(port.Request(name, &record, sizeof record));
      EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
    }
    EXPECT_EQ(fake.Ops(), std::vector<std::string>{"OpenPort"});
    EXPECT_TRUE(fake.Written().empty());
    EXPECT_NE(LoadFlags(port.entry()) & PortActive, 0u);
  }
}

TEST(RequestsServed, UnknownOrMissingValueNamesAreRefusedWithoutAWord) {
  FakePortMonitor fake;
  MonitorPort port(fake, LM_W("LPT1:"), UniquePrinterName());
  EXPECT_FALSE(port.Request(LM_W("GetConfigObject")));
  EXPECT_FALSE(port.Request(LM_W("")));
  DWORD returned = 0;
  EXPECT_FALSE(RawRequest(port.handle(), 0, nullptr, nullptr, 0, nullptr, 0, &returned));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
  EXPECT_TRUE(fake.Written().empty());
  EXPECT_TRUE(CallsNamed(fake, "GetPrinterDataFromPort").empty());
}

// The record is written whole into the driver's buffer, so a buffer that
// cannot hold it is refused before anything reaches the printer.
TEST(RequestsServed, GetConfigObjectsRefusesABufferTooSmallForTheRecord) {
  FakePortMonitor fake;
  MonitorPort port(fake, LM_W("LPT1:"), UniquePrinterName());
  BYTE buffer[kConfigRecordSize + 4];
  std::memset(buffer, 0xAB, sizeof buffer);
  EXPECT_FALSE(port.Request(LM_W("GetConfigObjects"), buffer, kConfigRecordSize - 1));
  EXPECT_FALSE(port.Request(LM_W("GetConfigObjects"), nullptr, kConfigRecordSize));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
  for (BYTE b : buffer) EXPECT_EQ(b, 0xAB);
  EXPECT_TRUE(fake.Written().empty());
}

// ---- framing and time-outs -------------------------------------------------------------

TEST(RequestsFraming, GetConfigObjectsIsFramedByEntryAndExitTexts) {
  FakePortMonitor fake;
  const SilentRun run = GetConfigFromSilentPrinter(fake, UniquePrinterName(), LM_W("LPT1:"),
                                                   LM_W("getCONFIGobjects"));
  EXPECT_TRUE(run.result) << "TRUE whether or not the printer answers";
  const std::vector<std::string> pieces = testing::WrittenPieces(fake);
  ASSERT_EQ(pieces.size(), 3u);
  EXPECT_EQ(pieces[0], kEntry);
  EXPECT_EQ(pieces[0].size(), 15u);
  EXPECT_EQ(pieces[1].rfind("@PJL ECHO Getting Configuration", 0), 0u);
  EXPECT_EQ(pieces[2], kExit);
  EXPECT_EQ(pieces[2].size(), 9u);
  // The order of the port monitor calls: entry, time-outs, probe, reads, exit.
  std::vector<std::string> ops;
  for (const std::string& op : fake.Ops())
    if (op != "ReadPort") ops.push_back(op);
  EXPECT_EQ(ops, (std::vector<std::string>{"OpenPort", "WritePort", "SetPortTimeOuts", "WritePort",
                                           "WritePort", "ClosePort"}));
}

TEST(RequestsFraming, TimeOutRecordComesFromDwTimeOut) {
  struct Case {
    const char* what;
    bool key;
    DWORD type;
    std::string data;
    DWORD expected;
  };
  const Case cases[] = {
      {"250 ms", true, REG_DWORD, std::string("\xfa\x00\x00\x00", 4), 250},
      {"0 counts as unset", true, REG_DWORD, std::string(4, '\0'), 10},
      {"missing value", true, REG_NONE, "", 10},
      {"not a DWORD", true, REG_BINARY, std::string("\xfa\x00\x00\x00", 4), 10},
      {"no key", false, REG_NONE, "", 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const WString printer = UniquePrinterName();
    std::unique_ptr<DriverDataKey> stored;
    if (c.key) {
      stored = std::make_unique<DriverDataKey>(printer);
      if (c.type != REG_NONE) stored->SetRaw(LM_W("dwTimeOut"), c.type, c.data);
    }
    FakePortMonitor fake;
    GetConfigFromSilentPrinter(fake, printer);
    ASSERT_EQ(CallsNamed(fake, "SetPortTimeOuts").size(), 1u);
    const COMMTIMEOUTS t = fake.lastTimeouts;
    EXPECT_EQ(t.ReadIntervalTimeout, c.expected);
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, c.expected);
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 0u);
    EXPECT_EQ(fake.lastTimeoutsReserved, 0u) << "the reserved argument must be 0";
  }
}

TEST(RequestsFraming, PortMonitorWithoutSetPortTimeOutsStillGetsTheRequest) {
  FakePortMonitor fake;
  fake.table.pfnSetPortTimeOuts = nullptr;
  const SilentRun run = GetConfigFromSilentPrinter(fake, UniquePrinterName());
  EXPECT_TRUE(run.result);
  EXPECT_EQ(run.record.CfgFlags, 0x0FFFFFFFu);
  EXPECT_EQ(testing::WrittenPieces(fake).size(), 3u);
}

TEST(RequestsFraming, ShortEntryTextFailsTheRequestButTheExitTextFollows) {
  for (LPCWSTR name : {LM_W("GetConfigObjects"), LM_W("SetConfigObjects")}) {
    FakePortMonitor fake;
    fake.shortWriteBy = 1;
    const WString printer = UniquePrinterName();
    DriverDataKey stored(printer);
    stored.SetDword(LM_W("dwCfgFlags"), 1);
    stored.SetDword(LM_W("dwCopies"), 1);
    const SilentRun run = GetConfigFromSilentPrinter(fake, printer, LM_W("LPT1:"), name);
    EXPECT_FALSE(run.result);
    const std::vector<FakeCall> writes = CallsNamed(fake, "WritePort");
    ASSERT_EQ(writes.size(), 2u) << "no probe and no set block after a failed entry text";
    EXPECT_EQ(writes[0].number, 15u);
    EXPECT_EQ(writes[1].number, 9u);
    EXPECT_TRUE(CallsNamed(fake, "SetPortTimeOuts").empty());
  }
}

TEST(RequestsFraming, FailedEntryWriteFailsTheRequestAndStillTriesTheExitText) {
  FakePortMonitor fake;
  fake.failWritePort = true;
  const SilentRun run = GetConfigFromSilentPrinter(fake, UniquePrinterName());
  EXPECT_FALSE(run.result);
  const std::vector<FakeCall> writes = CallsNamed(fake, "WritePort");
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[1].number, 9u);
}

TEST(RequestsFraming, RequestsGoOutDuringADocumentToo) {
  SeamScope scope;
  FakePortMonitor fake;
  const WString printer = UniquePrinterName();
  DriverDataKey stored(printer);
  stored.SetDword(LM_W("dwTestPage"), 18);
  MonitorPort port(fake, LM_W("LPT1:"), printer);
  WCHAR printerCopy[256];
  std::memcpy(printerCopy, printer.c_str(), (printer.size() + 1) * sizeof(WCHAR));
  ASSERT_TRUE(MonitorTable()->Monitor.pfnStartDocPort(port.handle(), printerCopy, 7, 1, nullptr));
  fake.ClearCalls();
  EXPECT_TRUE(port.Request(LM_W("PrintTestPage")));
  EXPECT_EQ(fake.Written(), "@PJL SET TESTPAGE=PCLTYPELIST\r\n");
  EXPECT_NE(LoadFlags(port.entry()) & InDocument, 0u);
  MonitorTable()->Monitor.pfnEndDocPort(port.handle());
}

}  // namespace
}  // namespace langmon

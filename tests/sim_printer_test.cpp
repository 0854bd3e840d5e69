// The simulated printer: what it answers on the back channel, how it applies
// set lines and how its fault knobs shape the replies. A fault here would
// make the monitor's own tests pass or fail for the wrong reason.
#include "sim_printer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "config/settings.h"

namespace langmon::sim {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::string kEntry = "\x1b%-12345X@PJL \n";

std::string Query(const std::string& id) { return "@PJL DMINFO ASCIIHEX=\"0000" + id + "\"\r\n"; }

std::string SetLine(const std::string& payload) {
  return "@PJL DMCMD ASCIIHEX=\"" + payload + "\"\r\n";
}

// The full reply a printer gives to a DMINFO query that it can answer.
std::string Answer(const std::string& id, const std::string& tlAndDigits) {
  return "@PJL DMINFO ASCIIHEX=\"0000" + id + "\"\r\n\"800000" + id + tlAndDigits + "\"\r\n\f";
}

TEST(SimRecord, EncodesEachValueTypeWithTheMonitorsLengthRules) {
  struct Case {
    SimObject object;
    std::string expected;  // type/length word and digits
  };
  const std::vector<Case> cases = {
      {{ValueType::Number, 0, {}}, "040100"},
      {{ValueType::Number, 254, {}}, "0401fe"},
      {{ValueType::Number, 255, {}}, "040200ff"},
      {{ValueType::Number, 65535, {}}, "040300ffff"},
      {{ValueType::Number, 0xFFFFFF, {}}, "040400ffffff"},
      {{ValueType::PaddedNumber, 2, {}}, "08020002"},
      {{ValueType::PaddedNumber, 600, {}}, "0803000258"},
      {{ValueType::PaddedNumber, 0xFFFFFFFF, {}}, "0804ffffffff"},
      {{ValueType::Number32, 2, {}}, "0c0400000002"},
      {{ValueType::Byte, 2, {}}, "180102"},
      {{ValueType::Empty, 5, {}}, "1c00ffff"},
      {{ValueType::AltNumber, 2, {}}, "200102"},
      {{ValueType::String, 0, "AB"}, "00024142"},
      {{ValueType::String, 0, ""}, "0000ffff"},
      {{ValueType::PrefixedString, 0, "AB"}, "100401154142"},
      {{ValueType::AltString, 0, "z"}, "14017a"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EncodeRecord("050103030104", c.object), "800000050103030104" + c.expected)
        << "type " << static_cast<DWORD>(c.object.type) << " value " << c.object.number;
  }
}

TEST(SimPrinter, AnswersDminfoWithTheQueryLineThenTheRecordThenFormFeed) {
  SimPrinter printer;
  printer.Write(kEntry + Query("050103030108"));
  EXPECT_EQ(printer.ReadAll(), Answer("050103030108", "0803000258"));
  ASSERT_EQ(printer.Queries().size(), 1u);
  EXPECT_EQ(printer.Queries()[0], "050103030108");
}

TEST(SimPrinter, KeepsTheLetterCaseOfTheQueriedIdentifierInItsRecord) {
  SimPrinter printer;
  printer.Write(kEntry + Query("05010303010B"));
  EXPECT_EQ(printer.ReadAll(), Answer("05010303010B", "0802003c"));
}

TEST(SimPrinter, EchoesTheEchoTextFollowedByFormFeed) {
  SimPrinter printer;
  printer.Write(kEntry + "@PJL ECHO Getting Configuration815\r\n");
  EXPECT_EQ(printer.ReadAll(), "@PJL ECHO Getting Configuration815\r\n\f");
  EXPECT_EQ(printer.EchoCount(), 1u);
}

TEST(SimPrinter, ParsesLinesSplitAcrossWritesAndLoneLineFeeds) {
  SimPrinter printer;
  const std::string input = kEntry + "@PJL ECHO one\n" + Query("050103030104");
  for (char c : input) printer.Write(&c, 1);
  EXPECT_EQ(printer.ReadAll(), "@PJL ECHO one\r\n\f" + Answer("050103030104", "08020001"));
}

TEST(SimPrinter, DefaultObjectsAnswerEveryQueryOfAFullConfigurationRead) {
  // The values that decide the dependent steps: I/O buffer not 0, PostScript
  // 6, resource save not 1, resolution 600, tray-3 presence answered.
  SimPrinter printer;
  EXPECT_NE(printer.Number("050102010105"), 0u);
  EXPECT_EQ(printer.Number("07020f0101020105"), 6u);
  EXPECT_NE(printer.Number("050103030106"), 1u);
  EXPECT_EQ(printer.Number("050103030108"), 600u);
  for (const ReadStep& step : kPrinterReadSteps) {
    const std::string id = SettingAt(step.Position).ObjectId;
    printer.Write(Query(id));
    const std::string reply = printer.ReadAll();
    EXPECT_NE(reply.find("\"800000" + id), std::string::npos) << id;
  }
}

TEST(SimPrinter, SetLinesAreAppliedAndReadBack) {
  struct Case {
    std::string payload;  // DMCMD payload as the monitor writes it
    std::string id;
    std::string readBack;  // type/length word and digits of the later answer
  };
  const std::vector<Case> cases = {
      {"040005010303010408020002", "050103030104", "08020002"},
      {"0400050103030126040101", "050103030126", "040101"},
      {"040006010401030106200101", "06010401030106", "200101"},
      // Uppercase digits are read as hex.
      {"04000501030301080803000258", "050103030108", "0803000258"},
      {"0400050103030104080300FFFF", "050103030104", "08040000ffff"},
      // Type 9: the low 16 bits or the whole 32 bits of a negative number;
      // kept as -1 and answered as 4 bytes.
      {"0400070104010303010d2402FFFF", "070104010303010d", "0804ffffffff"},
      {"0400070104010303020d2402FFFFFFFF", "070104010303020d", "0804ffffffff"},
      {"0400070104010303030d2402FFFE", "070104010303030d", "0804fffffffe"},
  };
  for (const Case& c : cases) {
    SimPrinter printer;
    printer.Write(kEntry + SetLine(c.payload));
    EXPECT_EQ(printer.ReadAll(), "") << "a set line is never answered";
    ASSERT_EQ(printer.Sets().size(), 1u);
    EXPECT_TRUE(printer.Sets()[0].applied) << c.payload;
    printer.Write(Query(c.id));
    EXPECT_EQ(printer.ReadAll(), Answer(c.id, c.readBack)) << c.payload;
  }
}

TEST(SimPrinter, RefusesSetLinesForUnknownObjectsOrMalformedValues) {
  const std::vector<std::string> payloads = {
      "0400050103030199040101",        // unknown object: not created
      "04000501030301040802002",       // odd digit count
      "040005010303010408020x02",      // not hex
      "0400050103030104080200020000",  // more digits than the length says
      "000005010303010408020002",      // wrong request code
      "0400ff01",                      // identifier shorter than announced
  };
  for (const std::string& payload : payloads) {
    SimPrinter printer;
    const SimObjectMap before = printer.Objects();
    printer.Write(kEntry + SetLine(payload));
    ASSERT_EQ(printer.Sets().size(), 1u) << payload;
    EXPECT_FALSE(printer.Sets()[0].applied) << payload;
    EXPECT_EQ(printer.Objects(), before) << payload;
  }
}

TEST(SimPrinter, UnknownObjectIsAnsweredWithoutRecordOrNotAtAll) {
  SimPrinter printer;
  printer.Write(kEntry + Query("0501030301ee"));
  EXPECT_EQ(printer.ReadAll(), "@PJL DMINFO ASCIIHEX=\"00000501030301ee\"\r\n\f");
  SimFaults faults;
  faults.unknown = UnknownObjectReply::Silent;
  printer.SetFaults(faults);
  printer.Write(Query("0501030301ee"));
  EXPECT_EQ(printer.ReadAll(), "");
}

TEST(SimPrinter, RecordsTestPagesAndCountsOtherInputAsJobBytes) {
  SimPrinter printer;
  const std::string job = "\x1b%-12345X@PJL JOB NAME=\"x\"\r\n@PJL ENTER LANGUAGE=PCL\r\n" +
                          std::string(
                              "\x1b"
                              "E page @PJL ECHO not a command\n") +
                          "\x1b%-12345X";
  printer.Write(kEntry + "@PJL SET TESTPAGE = CONFIG PAGE\r\n\x1b%-12345X");
  printer.Write(job);
  EXPECT_EQ(printer.TestPages(), std::vector<std::string>{"CONFIG PAGE"});
  EXPECT_EQ(printer.EchoCount(), 0u) << "PJL inside print data is data";
  // "@PJL \n" (6) + JOB line (19) + ENTER line (25) + the print data (32).
  EXPECT_EQ(printer.JobBytes(), 6u + 19 + 25 + 32);
  EXPECT_EQ(printer.Written(), kEntry + "@PJL SET TESTPAGE = CONFIG PAGE\r\n\x1b%-12345X" + job);
  EXPECT_EQ(printer.ReadAll(), "");
}

TEST(SimPrinter, UelSplitAcrossWritesReturnsToPjlCommands) {
  SimPrinter printer;
  printer.Write(std::string("binary data \x1b%-123"));
  printer.Write(std::string("45X@PJL ECHO back\r\n"));
  EXPECT_EQ(printer.ReadAll(), "@PJL ECHO back\r\n\f");
  EXPECT_EQ(printer.JobBytes(), 12u);
}

TEST(SimFaultKnobs, ReplyDelayHoldsOutputBack) {
  SimPrinter printer;
  SimFaults faults;
  // Long enough that the early reads come well before it, even on a loaded
  // machine.
  faults.replyDelayMs = 1000;
  printer.SetFaults(faults);
  const auto start = Clock::now();
  printer.Write(kEntry + "@PJL ECHO late\r\n");
  char buffer[64];
  EXPECT_EQ(printer.Read(buffer, sizeof buffer, 0ms), 0u);
  EXPECT_EQ(printer.Read(buffer, sizeof buffer, 20ms), 0u);
  // The loop that serves TCP clients sets its timer from ReadyAt().
  EXPECT_GE(printer.Channel().ReadyAt(), start + 1000ms);
  EXPECT_EQ(printer.Read(buffer, sizeof buffer, 30000ms), 17u);
  EXPECT_GE(Clock::now() - start, 1000ms);
  EXPECT_EQ(printer.Channel().ReadyAt(), Clock::time_point::max()) << "nothing queued";
}

TEST(SimFaultKnobs, SplitSizesCutEveryReplyIntoSeparateReads) {
  SimPrinter printer;
  SimFaults faults;
  faults.splitSizes = {5, 3};
  printer.SetFaults(faults);
  printer.Write(kEntry + "@PJL ECHO abc\r\n@PJL ECHO de\r\n");
  std::vector<std::size_t> sizes;
  std::string all;
  char buffer[64];
  while (std::size_t n = printer.Read(buffer, sizeof buffer, 0ms)) {
    sizes.push_back(n);
    all.append(buffer, n);
  }
  EXPECT_EQ(all, "@PJL ECHO abc\r\n\f@PJL ECHO de\r\n\f");
  EXPECT_EQ(sizes, (std::vector<std::size_t>{5, 3, 3, 3, 2, 5, 3, 3, 3, 1}));
}

TEST(SimFaultKnobs, NoiseAndStaleReplyPrecedeEveryReply) {
  SimPrinter printer;
  SimFaults faults;
  faults.noise = "xx";
  faults.staleReply = kStaleReply;
  printer.SetFaults(faults);
  printer.Write(kEntry + "@PJL ECHO a\r\n");
  EXPECT_EQ(printer.ReadAll(), "xx" + std::string(kStaleReply) + "@PJL ECHO a\r\n\f");
  EXPECT_EQ(printer.RepliesSent(), 1u);
}

TEST(SimFaultKnobs, SilenceForObjectsEntirelyAndAfterNReplies) {
  SimPrinter printer;
  SimFaults faults;
  faults.silentObjects = {"05010303010D"};
  printer.SetFaults(faults);
  printer.Write(kEntry + Query("05010303010d") + Query("050103030104"));
  EXPECT_EQ(printer.ReadAll(), Answer("050103030104", "08020001"));

  faults = SimFaults{};
  faults.silent = true;
  printer.SetFaults(faults);
  printer.Write("@PJL ECHO x\r\n");
  EXPECT_EQ(printer.ReadAll(), "");

  printer.ClearRecords();
  faults = SimFaults{};
  faults.silentAfterReplies = 2;
  printer.SetFaults(faults);
  printer.Write("@PJL ECHO 1\r\n@PJL ECHO 2\r\n@PJL ECHO 3\r\n");
  EXPECT_EQ(printer.ReadAll(), "@PJL ECHO 1\r\n\f@PJL ECHO 2\r\n\f");
  EXPECT_EQ(printer.EchoCount(), 3u);
}

TEST(SimChannels, ShareObjectsButKeepTheirOwnOutput) {
  SimPrinter printer;
  auto a = printer.OpenChannel();
  auto b = printer.OpenChannel();
  a->Write(kEntry + SetLine("040005010303010408020005"));
  b->Write(kEntry + Query("050103030104"));
  char buffer[256];
  EXPECT_EQ(a->Read(buffer, sizeof buffer, 0ms), 0u);
  const std::size_t n = b->Read(buffer, sizeof buffer, 0ms);
  EXPECT_EQ(std::string(buffer, n), Answer("050103030104", "08020005"));
  EXPECT_EQ(b->Replies(), 1u);
}

// ---- as a port monitor ----------------------------------------------------

TEST(SimPortMonitor, CarriesBytesBothWaysAndRecordsOperations) {
  SimPrinter printer;
  MONITOR table = printer.MonitorTable();
  ASSERT_NE(table.pfnOpenPort, nullptr);
  EXPECT_EQ(table.pfnOpenPortEx, nullptr);
  WCHAR name[] = LM_W("LPT1:");
  HANDLE port = nullptr;
  ASSERT_TRUE(table.pfnOpenPort(name, &port));
  EXPECT_EQ(printer.OpenPortCount(), 1);
  std::string text = kEntry + "@PJL ECHO port\r\n";
  DWORD written = 0;
  ASSERT_TRUE(table.pfnWritePort(port, reinterpret_cast<LPBYTE>(text.data()),
                                 static_cast<DWORD>(text.size()), &written));
  EXPECT_EQ(written, text.size());
  BYTE buffer[64];
  DWORD read = 0;
  ASSERT_TRUE(table.pfnReadPort(port, buffer, sizeof buffer, &read));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), read), "@PJL ECHO port\r\n\f");
  EXPECT_TRUE(table.pfnEndDocPort(port));
  EXPECT_TRUE(table.pfnClosePort(port));
  EXPECT_EQ(printer.OpenPortCount(), 0);
  EXPECT_EQ(printer.PortOps(), (std::vector<std::string>{"OpenPort", "EndDocPort", "ClosePort"}));
  EXPECT_EQ(printer.Written(), text);
}

TEST(SimPortMonitor, ReadPortWaitsForTheReadTimeOutThenReturnsNothing) {
  SimPrinter printer;
  MONITOR table = printer.MonitorTable();
  WCHAR name[] = LM_W("LPT1:");
  HANDLE port = nullptr;
  ASSERT_TRUE(table.pfnOpenPort(name, &port));
  COMMTIMEOUTS timeouts{};
  timeouts.ReadTotalTimeoutConstant = 80;
  ASSERT_TRUE(table.pfnSetPortTimeOuts(port, &timeouts, 0));
  EXPECT_EQ(printer.LastTimeouts().ReadTotalTimeoutConstant, 80u);
  BYTE buffer[16];
  DWORD read = 99;
  const auto start = Clock::now();
  EXPECT_TRUE(table.pfnReadPort(port, buffer, sizeof buffer, &read));
  EXPECT_EQ(read, 0u);
  EXPECT_GE(Clock::now() - start, 75ms);
  table.pfnClosePort(port);
}

TEST(SimPortMonitor, DeviceIdCarriesAnIeee1284LengthPrefix) {
  SimPrinter printer;
  printer.SetDeviceId("MFG:Sim;MDL:Test;");
  MONITOR table = printer.MonitorTable();
  WCHAR name[] = LM_W("LPT1:");
  HANDLE port = nullptr;
  ASSERT_TRUE(table.pfnOpenPort(name, &port));
  WCHAR out[32] = {};
  DWORD returned = 0;
  ASSERT_TRUE(table.pfnGetPrinterDataFromPort(port, IOCTL_PAR_QUERY_DEVICE_ID, nullptr, nullptr, 0,
                                              out, sizeof out, &returned));
  EXPECT_EQ(returned, 19u);
  const auto* bytes = reinterpret_cast<const unsigned char*>(out);
  EXPECT_EQ(bytes[0], 0);
  EXPECT_EQ(bytes[1], 19);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes + 2), 17), "MFG:Sim;MDL:Test;");

  SetLastError(0);
  EXPECT_FALSE(table.pfnGetPrinterDataFromPort(port, IOCTL_PAR_QUERY_DEVICE_ID, nullptr, nullptr, 0,
                                               out, 10, &returned));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(returned, 19u);
  SetLastError(0);
  EXPECT_FALSE(table.pfnGetPrinterDataFromPort(port, 0x220000, nullptr, nullptr, 0, out, sizeof out,
                                               &returned));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  table.pfnClosePort(port);
}

TEST(SimPortMonitor, TablesOfTwoPrintersOpenPortsOnTheirOwnPrinter) {
  SimPrinter first;
  SimPrinter second;
  MONITOR a = first.MonitorTable();
  MONITOR b = second.MonitorTable();
  ASSERT_NE(a.pfnOpenPort, b.pfnOpenPort);
  WCHAR name[] = LM_W("LPT1:");
  HANDLE pa = nullptr;
  HANDLE pb = nullptr;
  ASSERT_TRUE(a.pfnOpenPort(name, &pa));
  ASSERT_TRUE(b.pfnOpenPort(name, &pb));
  std::string text = "@PJL ECHO b\r\n";
  DWORD written = 0;
  b.pfnWritePort(pb, reinterpret_cast<LPBYTE>(text.data()), static_cast<DWORD>(text.size()),
                 &written);
  EXPECT_EQ(first.Written(), "");
  EXPECT_EQ(second.Written(), text);
  a.pfnClosePort(pa);
  b.pfnClosePort(pb);
}

TEST(SimPortMonitor, PortOutlivingItsPrinterFailsInsteadOfTouchingFreedMemory) {
  MONITOR table{};
  HANDLE port = nullptr;
  {
    SimPrinter printer;
    table = printer.MonitorTable();
    WCHAR name[] = LM_W("LPT1:");
    ASSERT_TRUE(table.pfnOpenPort(name, &port));
  }
  BYTE buffer[4] = {'a', 'b', 'c', 'd'};
  DWORD count = 0;
  SetLastError(0);
  EXPECT_FALSE(table.pfnWritePort(port, buffer, 4, &count));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(table.pfnReadPort(port, buffer, 4, &count));
  EXPECT_TRUE(table.pfnClosePort(port));
  // The slot is free again: OpenPort on the old table reaches no printer.
  WCHAR name[] = LM_W("LPT1:");
  EXPECT_FALSE(table.pfnOpenPort(name, &port));
}

}  // namespace
}  // namespace langmon::sim

// Helpers for the configuration and request tests: a printer's driver-data
// key made in the real registry calls of the platform (and deleted again),
// and the PJL texts a printer would send back.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "config/settings.h"
#include "fake_port_monitor.h"
#include "monitor/monitor.h"
#include "monitor_fixture.h"
#include "pjl/pjl_internal.h"
#include "platform/platform_testing.h"

namespace langmon::testing {

inline WString Widen(const std::string& text) { return WString(text.begin(), text.end()); }

// A printer name no other test uses: the test's own name and a counter.
inline WString UniquePrinterName() {
  static std::atomic<int> counter{0};
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = "langmon test ";
  if (info) name += std::string(info->test_suite_name()) + "." + info->name();
  name += " #" + std::to_string(counter.fetch_add(1));
  // Parameterised test names carry '/', which a printer name may hold but
  // which makes the key path harder to read in a failure message.
  for (char& c : name)
    if (c == '/' || c == '\\') c = '-';
  return Widen(name);
}

inline WString PrintersKeyPath() {
  return WString(LM_W("System\\CurrentControlSet\\Control\\Print\\Printers\\"));
}

// The printer's key and its PrinterDriverData subkey exist for the life of
// the object; the printer's whole key is deleted afterwards.
class DriverDataKey {
 public:
  explicit DriverDataKey(const WString& printerName) : printer_(printerName) {
    const WString path = PrintersKeyPath() + printer_ + LM_W("\\PrinterDriverData");
    DWORD disposition = 0;
    const LONG status =
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &key_, &disposition);
    EXPECT_EQ(status, ERROR_SUCCESS) << "cannot create the driver-data key";
    if (status != ERROR_SUCCESS) key_ = nullptr;
#if !defined(_WIN32)
    // The monitor only reads the driver's settings: the key grants it no
    // more, so an open that asks for write access fails as it would where
    // the key's security allows reading only. This handle keeps its rights.
    if (key_) LmSetRegistryKeyReadOnly(key_, TRUE);
#endif
  }
  ~DriverDataKey() {
    if (key_) RegCloseKey(key_);
    const WString printerKey = PrintersKeyPath() + printer_;
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, printerKey.c_str());
  }
  DriverDataKey(const DriverDataKey&) = delete;
  DriverDataKey& operator=(const DriverDataKey&) = delete;

  void SetDword(const WString& name, DWORD value) {
    const BYTE bytes[4] = {BYTE(value), BYTE(value >> 8), BYTE(value >> 16), BYTE(value >> 24)};
    SetRaw(name, REG_DWORD, std::string(reinterpret_cast<const char*>(bytes), 4));
  }
  void SetRaw(const WString& name, DWORD type, const std::string& data) {
    ASSERT_NE(key_, nullptr);
    ASSERT_EQ(
        RegSetValueExW(key_, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                       static_cast<DWORD>(data.size())),
        ERROR_SUCCESS);
  }

  const WString& printer() const { return printer_; }

 private:
  WString printer_;
  HKEY key_ = nullptr;
};

// Registry handles open right now; -1 where the platform cannot tell.
inline long OpenKeyCount() {
#if !defined(_WIN32)
  return LmOpenRegistryKeyCount();
#else
  return -1;
#endif
}

// A port opened through the monitor's own table for the life of the object.
// A null printer name opens the port without one.
class MonitorPort {
 public:
  MonitorPort(MONITOR& table, const WString& port, const WString* printer) {
    EnsureMonitorInitialised();
    WString portCopy = port;
    WString printerCopy = printer ? *printer : WString();
    HANDLE handle = nullptr;
    if (MonitorTable()->Monitor.pfnOpenPortEx(
            portCopy.data(), printer ? printerCopy.data() : nullptr, &handle, &table))
      handle_ = handle;
    EXPECT_NE(handle_, nullptr) << "cannot open the port";
  }
  MonitorPort(FakePortMonitor& fake, const WString& port, const WString* printer)
      : MonitorPort(fake.table, port, printer) {}
  MonitorPort(FakePortMonitor& fake, const WString& port, const WString& printer)
      : MonitorPort(fake.table, port, &printer) {}
  MonitorPort(MONITOR& table, const WString& port, const WString& printer)
      : MonitorPort(table, port, &printer) {}
  ~MonitorPort() {
    if (handle_) MonitorTable()->Monitor.pfnClosePort(handle_);
  }
  MonitorPort(const MonitorPort&) = delete;
  MonitorPort& operator=(const MonitorPort&) = delete;

  HANDLE handle() const { return handle_; }
  PortEntry* entry() const { return static_cast<PortEntry*>(handle_); }

  // The monitor's GetPrinterDataFromPort for a value name (ControlID 0).
  BOOL Request(const WString& valueName, void* out = nullptr, DWORD cbOut = 0) const {
    WString name = valueName;
    DWORD returned = 0xDDDDDDDD;
    return MonitorTable()->Monitor.pfnGetPrinterDataFromPort(
        handle_, 0, name.data(), nullptr, 0, static_cast<LPWSTR>(out), cbOut, &returned);
  }

 private:
  HANDLE handle_ = nullptr;
};

// Runs a request (by default "GetConfigObjects") on a printer that never
// answers; the virtual clock ends each exchange after a few reads. Checks
// the last error and that no registry handle is left open.
struct SilentRun {
  BOOL result;
  ConfigRecord record;
};

inline SilentRun GetConfigFromSilentPrinter(FakePortMonitor& fake, const WString& printer,
                                            LPCWSTR port = LM_W("LPT1:"),
                                            LPCWSTR name = LM_W("GetConfigObjects")) {
  SeamScope scope(true);
  scope.step = 1000;
  MonitorPort opened(fake, port, printer);
  SilentRun run{};
  std::memset(&run.record, 0xEE, sizeof run.record);
  const long keysBefore = OpenKeyCount();
  SetLastError(0);
  run.result = opened.Request(name, &run.record, sizeof run.record);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
  EXPECT_EQ(OpenKeyCount(), keysBefore);
  return run;
}

// ---- PJL texts ----------------------------------------------------------------

inline std::string QueryLine(const std::string& objectId) {
  return "@PJL DMINFO ASCIIHEX=\"0000" + objectId + "\"\r\n";
}

inline std::string Hex8(DWORD value) {
  char digits[9];
  std::snprintf(digits, sizeof digits, "%08x", static_cast<unsigned>(value));
  return digits;
}

// A printer's answer to the DMINFO query for objectId carrying the given
// value record digits (type/length word and value), e.g. "0c04" + Hex8(v).
inline std::string DminfoReply(const std::string& objectId, const std::string& record) {
  return "@PJL DMINFO ASCIIHEX=\"0000" + objectId + "\"\r\n\"800000" + objectId + record +
         "\"\r\n\x0c";
}

// The answer carrying a 32-bit number (type 3).
inline std::string NumberReply(const std::string& objectId, DWORD value) {
  return DminfoReply(objectId, "0c04" + Hex8(value));
}

// An answer that repeats the query but carries no value record.
inline std::string EmptyReply(const std::string& objectId) {
  return "@PJL DMINFO ASCIIHEX=\"0000" + objectId + "\"\r\n\x0c";
}

inline std::string EchoLine(DWORD token) {
  return "@PJL ECHO Getting Configuration" + std::to_string(token) + "\r\n";
}

// Queues the printer's echo of the probe. The token comes from the clock's
// second, so the echo for the next second is queued as well in case the
// request starts just after a second ends; the one that does not match is
// skipped as a stale reply.
inline void QueueEchoReply(FakePortMonitor& fake) {
  const DWORD now = static_cast<DWORD>(std::time(nullptr));
  fake.QueueRead(EchoLine(EchoToken(now)) + "\x0c");
  if (EchoToken(now + 1) != EchoToken(now)) fake.QueueRead(EchoLine(EchoToken(now + 1)) + "\x0c");
}

// Splits what was written into the PJL lines (each with its line end) and the
// other texts; the entry text counts as one piece.
inline std::vector<std::string> WrittenPieces(const FakePortMonitor& fake) {
  std::vector<std::string> pieces;
  for (const FakeCall& call : fake.Calls())
    if (call.op == "WritePort") pieces.push_back(call.data);
  return pieces;
}

inline const std::string kEntry = std::string("\x1b%-12345X@PJL \n");
inline const std::string kExit = std::string("\x1b%-12345X");

// Object identifiers in the order the printer is asked.
inline const char* const kCopies = "050103030104";
inline const char* const kDarkCourier = "050103030126";
inline const char* const kDensity = "050104010105";
inline const char* const kFormLines = "05010303010b";
inline const char* const kFuser1 = "070104010303010d";
inline const char* const kFuser2 = "070104010303020d";
inline const char* const kTray3 = "07020802010d0103";
inline const char* const kFuser3 = "070104010303030d";
inline const char* const kInstalledMem = "06030203010501";
inline const char* const kIObuffer = "050102010105";
inline const char* const kIObufSize = "050102010106";
inline const char* const kLang = "06020501010201";
inline const char* const kOrientation = "07020f0101070101";
inline const char* const kPaperSize = "05010303010d";
inline const char* const kPostScript = "07020f0101020105";
inline const char* const kPSErrors = "05010303040b";
inline const char* const kResourceSave = "050103030106";
inline const char* const kResSaveSizePCL = "050103030302";
inline const char* const kResSaveSizePS = "050103030402";
inline const char* const kResolution = "050103030108";
inline const char* const kSaverMode = "050104010607";
inline const char* const kRePrint = "050103030124";
inline const char* const kSmoothing = "050104010605";
inline const char* const kTrayLock = "06010401030106";
inline const char* const kWideA4 = "050103030125";

inline const std::vector<std::string> kFullOrder = {
    kCopies,    kDarkCourier,  kDensity,        kFormLines,     kFuser1,
    kFuser2,    kTray3,        kFuser3,         kInstalledMem,  kIObuffer,
    kIObufSize, kLang,         kOrientation,    kPaperSize,     kPostScript,
    kPSErrors,  kResourceSave, kResSaveSizePCL, kResSaveSizePS, kResolution,
    kSaverMode, kRePrint,      kSmoothing,      kTrayLock,      kWideA4};

// What a printer that answers everything holds, in its own encoding. The
// values make every dependent step run.
inline std::map<std::string, DWORD> FullPrinter() {
  return {{kCopies, 3},          {kDarkCourier, 0},     {kDensity, 2},
          {kFormLines, 66},      {kFuser1, 1},          {kFuser2, 0},
          {kTray3, 0},           {kFuser3, 0xFFFFFFFF}, {kInstalledMem, 0x800000},
          {kIObuffer, 3},        {kIObufSize, 20},      {kLang, 1},
          {kOrientation, 3},     {kPaperSize, 26},      {kPostScript, 6},
          {kPSErrors, 1},        {kResourceSave, 3},    {kResSaveSizePCL, 200},
          {kResSaveSizePS, 300}, {kResolution, 600},    {kSaverMode, 0},
          {kRePrint, 1},         {kSmoothing, 2},       {kTrayLock, 1},
          {kWideA4, 0}};
}

// The configuration that a printer answering everything above reports.
inline ConfigRecord FullPrinterRecord() {
  ConfigRecord r{};
  r.CfgFlags = 0xDBFFFF;
  r.Copies = 3;
  r.DarkCourier = 0;
  r.Density = 5;
  r.SaverMode = 2;
  r.FormLines = 66;
  r.FuserTempTray1 = 59;
  r.FuserTempTray2 = 60;
  r.FuserTempTray3 = 61;
  r.InstalledMem = 0x800000;
  r.IObuffer = 3;
  r.IObufSize = 20;
  r.Lang = 23;
  r.Orientation = 39;
  r.PaperSize = 46;
  r.PostScript = 1;
  r.PSErrors = 1;
  r.Resolution = 10;
  r.ResourceSave = 3;
  r.ResSaveSizePCL = 200;
  r.ResSaveSizePS = 300;
  r.RePrint = 1;
  r.Smoothing = 2;
  r.TestPage = 0;
  r.Tray3Installed = 1;
  r.TrayLock = 1;
  r.WideA4 = 0;
  return r;
}

inline std::vector<DWORD> RecordValues(const ConfigRecord& record) {
  std::vector<DWORD> values(sizeof record / sizeof(DWORD));
  std::memcpy(values.data(), &record, sizeof record);
  return values;
}

}  // namespace langmon::testing

// Helpers for the configuration and request tests: a printer's driver-data
// key made in the real registry calls of the platform (and deleted again),
// and the PJL texts a printer would send back.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "fake_port_monitor.h"
#include "monitor/monitor.h"
#include "monitor_fixture.h"
#include "pjl/pjl.h"

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
  MonitorPort(FakePortMonitor& fake, const WString& port, const WString* printer) {
    EnsureMonitorInitialised();
    WString portCopy = port;
    WString printerCopy = printer ? *printer : WString();
    HANDLE handle = nullptr;
    if (MonitorTable()->Monitor.pfnOpenPortEx(
            portCopy.data(), printer ? printerCopy.data() : nullptr, &handle, &fake.table))
      handle_ = handle;
    EXPECT_NE(handle_, nullptr) << "cannot open the port";
  }
  MonitorPort(FakePortMonitor& fake, const WString& port, const WString& printer)
      : MonitorPort(fake, port, &printer) {}
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

}  // namespace langmon::testing

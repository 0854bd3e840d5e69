// GetConfigFromRegistry: the stored settings, their fallbacks and the
// built-in defaults, and the printer names that give no usable key.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "config/config.h"
#include "driver_data_fixture.h"

namespace langmon {
namespace {

using testing::DriverDataKey;
using testing::FakePortMonitor;
using testing::MonitorPort;
using testing::OpenKeyCount;
using testing::UniquePrinterName;
using testing::WString;

std::vector<DWORD> Values(const ConfigRecord& record) {
  std::vector<DWORD> values(kConfigValueCount);
  std::memcpy(values.data(), &record, sizeof record);
  return values;
}

const std::vector<DWORD> kBuiltInDefaults = {0x0FFFFFFF, 1,      1,      6,  1,  60, 60, 60, 60,
                                             2097152,    3,      10,     23, 39, 42, 0,  1,  11,
                                             3,          102400, 102400, 2,  1,  17, 0,  2,  1};

const std::vector<DWORD> kFallbacks = {0x0FFFFFFF, 1,   1,   6,  1,  60, 60, 60, 60,
                                       20480000,   3,   10,  23, 39, 42, 0,  1,  11,
                                       3,          100, 100, 2,  1,  17, 0,  2,  1};

// Runs GetConfigFromRegistry on a port for the printer and checks that no
// registry handle is left open. The record starts out filled with junk, so
// every value must be written.
std::vector<DWORD> ConfigFor(const WString* printer) {
  FakePortMonitor fake;
  MonitorPort port(fake, LM_W("LPT1:"), printer);
  const long keysBefore = OpenKeyCount();
  ConfigRecord record;
  std::memset(&record, 0xEE, sizeof record);
  GetConfigFromRegistry(port.entry(), &record);
  EXPECT_EQ(OpenKeyCount(), keysBefore);
  EXPECT_TRUE(fake.Written().empty()) << "the registry path never talks to the printer";
  return Values(record);
}

std::vector<DWORD> ConfigFor(const WString& printer) { return ConfigFor(&printer); }

TEST(ConfigFromRegistry, NoKeyGivesTheBuiltInDefaults) {
  EXPECT_EQ(ConfigFor(UniquePrinterName()), kBuiltInDefaults);
}

TEST(ConfigFromRegistry, NoUsableCfgFlagsGivesTheDefaultsAndIgnoresTheValues) {
  struct Case {
    const char* what;
    DWORD type;
    std::string data;  // empty type REG_NONE: no "dwCfgFlags" at all
  };
  const Case cases[] = {
      {"missing", REG_NONE, ""},
      {"zero", REG_DWORD, std::string("\0\0\0\0", 4)},
      {"short", REG_DWORD, std::string("\x01\x00", 2)},
      {"binary", REG_BINARY, std::string("\x01\x00\x00\x00", 4)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DriverDataKey stored(UniquePrinterName());
    if (c.type != REG_NONE) stored.SetRaw(LM_W("dwCfgFlags"), c.type, c.data);
    stored.SetDword(LM_W("dwCopies"), 9);
    stored.SetDword(LM_W("dwPaperSize"), 44);
    EXPECT_EQ(ConfigFor(stored.printer()), kBuiltInDefaults);
  }
}

TEST(ConfigFromRegistry, StoredValuesAreReadUnmappedWhateverTheFlagsSay) {
  DriverDataKey stored(UniquePrinterName());
  stored.SetDword(LM_W("dwCfgFlags"), 1);  // one bit: still all 26 values are read
  std::vector<DWORD> expected = {0x0FFFFFFF};
  DWORD value = 1000;
  for (const Setting& setting : kSettings) {
    stored.SetDword(setting.ValueName, value);
    expected.push_back(value);
    value += 7;
  }
  EXPECT_EQ(ConfigFor(stored.printer()), expected);
}

#if !defined(_WIN32)
// The driver's key grants the monitor reading only (the fixture marks it so):
// the settings are read all the same, because the monitor asks for KEY_READ
// and nothing more. Asking for more is refused, as the first lines check.
TEST(ConfigFromRegistry, DriverDataKeyThatGrantsOnlyReadingIsRead) {
  DriverDataKey stored(UniquePrinterName());
  stored.SetDword(LM_W("dwCfgFlags"), 1);
  stored.SetDword(LM_W("dwCopies"), 7);
  const WString path = testing::PrintersKeyPath() + stored.printer() + LM_W("\\PrinterDriverData");
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS, &key),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(
      RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key),
      ERROR_ACCESS_DENIED);
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
  const DWORD one = 1;
  EXPECT_EQ(RegSetValueExW(key, LM_W("dwCopies"), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one),
                           sizeof one),
            ERROR_ACCESS_DENIED)
      << "a handle opened for reading cannot write";
  RegCloseKey(key);
  EXPECT_EQ(ConfigFor(stored.printer())[1], 7u);
}
#endif

TEST(ConfigFromRegistry, DriverEncodingIsKeptAsStored) {
  DriverDataKey stored(UniquePrinterName());
  stored.SetDword(LM_W("dwCfgFlags"), 0xFFFFFFFF);
  stored.SetDword(LM_W("dwPaperSize"), 42);  // a printer map would not apply here
  stored.SetDword(LM_W("dwTestPage"), 19);
  stored.SetDword(LM_W("dwResolution"), 1200);
  stored.SetDword(LM_W("dwLang"), 1);
  const std::vector<DWORD> values = ConfigFor(stored.printer());
  EXPECT_EQ(values[0], 0x0FFFFFFFu);  // the mask, not the stored flags
  EXPECT_EQ(values[14], 42u);
  EXPECT_EQ(values[23], 19u);
  EXPECT_EQ(values[17], 1200u);
  EXPECT_EQ(values[12], 1u);
}

TEST(ConfigFromRegistry, UnreadableValuesTakeTheirFallbacks) {
  DriverDataKey stored(UniquePrinterName());
  stored.SetDword(LM_W("dwCfgFlags"), 0x1000);
  // Every value is missing except three that cannot be read as a DWORD.
  stored.SetRaw(LM_W("dwCopies"), REG_BINARY, std::string("\x05\x00\x00\x00", 4));
  stored.SetRaw(LM_W("dwDensity"), REG_DWORD, std::string("\x05\x00", 2));
  stored.SetRaw(LM_W("dwLang"), REG_BINARY, std::string(8, '\x01'));
  // and one that can, right after an unreadable one.
  stored.SetDword(LM_W("dwSaverMode"), 2);
  std::vector<DWORD> expected = kFallbacks;
  expected[4] = 2;
  EXPECT_EQ(ConfigFor(stored.printer()), expected);
}

TEST(ConfigFromRegistry, FallbackAndDefaultDifferForMemoryAndResourceSizes) {
  DriverDataKey stored(UniquePrinterName());
  stored.SetDword(LM_W("dwCfgFlags"), 4);
  for (const Setting& setting : kSettings) stored.SetDword(setting.ValueName, setting.Default);
  stored.SetRaw(LM_W("dwInstalledMem"), REG_SZ, std::string("2\0", 2));
  stored.SetRaw(LM_W("dwResSaveSizePS"), REG_NONE, std::string());
  std::vector<DWORD> expected = kBuiltInDefaults;
  expected[9] = 20480000;
  expected[20] = 100;
  EXPECT_EQ(ConfigFor(stored.printer()), expected);
}

// Printer names that give no usable key path are answered as a printer
// whose key cannot be opened: the built-in defaults, and nothing overruns.
TEST(ConfigFromRegistry, NamesWithoutAUsableKeyPathGiveTheDefaults) {
  EXPECT_EQ(ConfigFor(nullptr), kBuiltInDefaults);

  // A stored configuration under a name one character too long is not read,
  // while the longest name that fits is.
  for (const std::size_t length : {std::size_t{189}, std::size_t{190}}) {
    SCOPED_TRACE(length);
    WString name = UniquePrinterName();
    name.resize(length, WCHAR('x'));
    DriverDataKey stored(name);
    stored.SetDword(LM_W("dwCfgFlags"), 1);
    stored.SetDword(LM_W("dwCopies"), 5);
    const std::vector<DWORD> values = ConfigFor(name);
    if (length == 189) {
      EXPECT_EQ(values[1], 5u);
      EXPECT_EQ(values[9], 20480000u);
    } else {
      EXPECT_EQ(values, kBuiltInDefaults);
    }
  }
}

}  // namespace
}  // namespace langmon

#include "config_report.h"

#include <gtest/gtest.h>

#include "platform/platform_testing.h"
#include "reg_file.h"
#include "text_encoding.h"

namespace langmon::host {
namespace {

TEST(ConfigReport, SourceFollowsTheMaskAndTheStoredFlags) {
  const struct {
    DWORD mask;
    bool stored;
    ConfigSource source;
  } cases[] = {
      {0x00DBFFFF, false, ConfigSource::Printer},
      {0x00DBFFFF, true, ConfigSource::Printer},  // answered: stored values unused
      {0x00000000, true, ConfigSource::Printer},  // answered the probe, then nothing
      {0x0FFFFFFF, true, ConfigSource::StoredSettings},
      {0x0FFFFFFF, false, ConfigSource::Defaults},
      {0x01000000, false, ConfigSource::Defaults},
  };
  for (const auto& c : cases) {
    ConfigRecord record{};
    record.CfgFlags = c.mask;
    EXPECT_EQ(ClassifyRecord(record, c.stored), c.source) << std::hex << c.mask;
  }
  EXPECT_STREQ(SourceName(ConfigSource::StoredSettings), "stored-settings");
}

void Store(const std::u16string& printer, const char16_t* name, DWORD type, const void* data,
           DWORD size) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, DriverDataKeyPath(printer).c_str(), 0, nullptr,
                            REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
  RegCloseKey(key);
}

TEST(ConfigReport, StoredSettingsNeedANonZeroDwordCfgFlags) {
  const long keys = LmOpenRegistryKeyCount();
  const DWORD zero = 0, one = 1;
  const struct {
    const char16_t* printer;
    DWORD type;
    const void* data;
    DWORD size;
    bool stored;
  } cases[] = {
      {u"report-none", REG_NONE, nullptr, 0, false}, {u"report-zero", REG_DWORD, &zero, 4, false},
      {u"report-one", REG_DWORD, &one, 4, true},     {u"report-string", REG_SZ, u"1", 4, false},
      {u"report-short", REG_DWORD, &one, 2, false},
  };
  for (const auto& c : cases) {
    if (c.data) Store(c.printer, u"dwCfgFlags", c.type, c.data, c.size);
    EXPECT_EQ(HasStoredSettings(c.printer), c.stored) << Utf16ToUtf8(c.printer);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, (u"System\\CurrentControlSet\\Control\\Print\\Printers\\" +
                                        std::u16string(c.printer))
                                           .c_str());
  }
  // A name too long for the key path never has stored settings.
  EXPECT_FALSE(HasStoredSettings(std::u16string(300, u'p')));
  EXPECT_EQ(LmOpenRegistryKeyCount(), keys);
}

TEST(ConfigReport, TableAndJsonShowValuesBitsAndPresence) {
  ConfigRecord record{};
  record.CfgFlags = 0x1 | 0x1000;
  record.Copies = 2;
  record.PaperSize = 42;
  record.InstalledMem = 8388608;
  const ConfigContext context{"Laser", "LPT1:", "sim:"};
  const std::string table = FormatConfigTable(record, ConfigSource::Printer, context);
  EXPECT_NE(table.find("Source:   the printer (2 of 22 settings with a presence bit answered)"),
            std::string::npos)
      << table;
  EXPECT_NE(table.find("CfgFlags: 0x00001001\n"), std::string::npos);
  EXPECT_NE(table.find("  1  Copies          dwCopies                    2  0x000001  yes\n"),
            std::string::npos)
      << table;
  EXPECT_NE(table.find("  3  Density         dwDensity                   0  0x000004  no\n"),
            std::string::npos);
  EXPECT_NE(table.find("  9  InstalledMem    dwInstalledMem        8388608  -         -\n"),
            std::string::npos);

  const auto json = ConfigJson(record, ConfigSource::Printer, context);
  EXPECT_EQ(json["cfgFlagsHex"], "0x00001001");
  EXPECT_EQ(json["settings"][0]["present"], true);
  EXPECT_EQ(json["settings"][2]["present"], false);
  EXPECT_TRUE(json["settings"][8]["bit"].is_null());
  EXPECT_TRUE(json["settings"][8]["present"].is_null());
  EXPECT_EQ(json["settings"][8]["value"], 8388608);
  EXPECT_EQ(json["settings"][25]["registryValue"], "dwWideA4");
}

}  // namespace
}  // namespace langmon::host

#include "setting_values.h"

#include <gtest/gtest.h>

namespace langmon::host {
namespace {

// What the value maps in config/settings.h say each setting takes, and the
// values just outside.
TEST(SettingValues, AcceptedValuesAreTheOnesTheMapsCarryThere) {
  const struct {
    const char* name;
    const char* described;
    std::vector<DWORD> refused;
  } cases[] = {
      {"Copies", "0 to 4294967295", {}},
      {"Density", "4 to 8", {0, 3, 9}},
      {"SaverMode", "1, 2", {0, 3, 100}},
      {"FuserTempTray2", "59 to 61", {0, 1, 58, 62, 0xFFFFFFFF}},
      {"Lang", "0 to 4294967295", {}},
      {"Orientation", "39, 40", {3, 4, 38, 41}},
      {"PaperSize", "41 to 55", {1, 40, 56}},
      {"Resolution", "9 to 11", {8, 12, 300, 600, 1200}},
      {"Smoothing", "1, 2", {0, 3}},
      {"InstalledMem", "not sent: read from the printer only", {0, 1}},
      {"TestPage", "not sent: the page langmon testpage asks for", {17}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Setting* s = FindSetting(c.name);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(DescribeAccepted(*s), c.described);
    for (DWORD v : c.refused) EXPECT_FALSE(Accepts(*s, v)) << v;
  }
}

// Whatever a setting accepts, a printer that took it reads back as the
// same value: what set sends can be verified.
TEST(SettingValues, EveryAcceptedValueReadsBackAsItself) {
  int sendable = 0;
  for (const Setting& s : kSettings) {
    const AcceptedValues accepted = AcceptedBy(s);
    sendable += accepted.sendable;
    EXPECT_EQ(accepted.sendable, s.PresenceBit != kNoPresenceBit) << s.FieldName;
    for (const ValueRange& r : accepted.ranges)
      for (DWORD v : {r.first, r.last, r.first + (r.last - r.first) / 2})
        EXPECT_EQ(ReadBackValue(s, v), v) << s.FieldName << " " << v;
  }
  EXPECT_EQ(sendable, 22);
}

TEST(SettingValues, NamesAndValuesAsAPersonWritesThem) {
  EXPECT_EQ(FindSetting("copies"), &kSettings[0]);
  EXPECT_EQ(FindSetting("DWCOPIES"), &kSettings[0]);
  EXPECT_EQ(FindSetting("WideA4"), &kSettings[25]);
  for (const char* unknown : {"", "Copie", "dwCfgFlags", "dwTimeOut"})
    EXPECT_EQ(FindSetting(unknown), nullptr) << unknown;

  const struct {
    const char* text;
    std::optional<DWORD> value;
  } values[] = {
      {"0", 0},           {"12", 12}, {"0x1F", 31},  {"0X1f", 31}, {"4294967295", 0xFFFFFFFF},
      {"4294967296", {}}, {"-1", {}}, {"", {}},      {"0x", {}},   {"1e3", {}},
      {" 1", {}},         {"+1", {}}, {"12abc", {}},
  };
  for (const auto& v : values) EXPECT_EQ(ParseSettingValue(v.text), v.value) << v.text;
}

}  // namespace
}  // namespace langmon::host

// The settings table, its value maps, the walk orders and the driver-data
// key path and value reading.
#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "config/config.h"
#include "driver_data_fixture.h"
#include "pjl/pjl.h"

namespace langmon {
namespace {

using testing::DriverDataKey;
using testing::UniquePrinterName;
using testing::Widen;
using testing::WString;

std::string Narrow(LPCWSTR text) {
  std::string out;
  for (; text && *text; ++text) out.push_back(static_cast<char>(*text));
  return out;
}

TEST(ConfigSettings, EachRowNamesItsOwnRecordValue) {
  for (const Setting& setting : kSettings) {
    ConfigRecord record{};
    record.*setting.Field = 0xA5A5A5A5u;
    DWORD values[kConfigValueCount];
    std::memcpy(values, &record, sizeof record);
    for (std::size_t i = 0; i < kConfigValueCount; ++i)
      EXPECT_EQ(values[i], i == setting.Position ? 0xA5A5A5A5u : 0u)
          << setting.FieldName << " value " << i;
    EXPECT_EQ("dw" + std::string(setting.FieldName), Narrow(setting.ValueName));
  }
}

struct MapCase {
  const char* name;
  ValueMap map;
  DWORD in;
  DWORD out;
};

void PrintTo(const MapCase& c, std::ostream* os) { *os << c.name << "(" << c.in << ")"; }

class ConfigMaps : public ::testing::TestWithParam<MapCase> {};

TEST_P(ConfigMaps, MapsOneValue) {
  const MapCase& c = GetParam();
  EXPECT_EQ(c.map(c.in), c.out) << c.name << "(" << c.in << ")";
}

const MapCase kMapCases[] = {
    {"DensityToDriver", DensityToDriver, 1, 4},
    {"DensityToDriver", DensityToDriver, 5, 8},
    {"DensityToDriver", DensityToDriver, 0, 0},
    {"DensityToDriver", DensityToDriver, 6, 6},
    {"DensityToPrinter", DensityToPrinter, 4, 1},
    {"DensityToPrinter", DensityToPrinter, 8, 5},
    {"DensityToPrinter", DensityToPrinter, 9, 9},
    {"SaverModeToDriver", SaverModeToDriver, 0, 2},
    {"SaverModeToDriver", SaverModeToDriver, 100, 1},
    {"SaverModeToDriver", SaverModeToDriver, 2, 1},
    {"SaverModeToPrinter", SaverModeToPrinter, 2, 0},
    {"SaverModeToPrinter", SaverModeToPrinter, 1, 100},
    {"SaverModeToPrinter", SaverModeToPrinter, 0, 100},
    {"FuserTempToDriver", FuserTempToDriver, 1, 59},
    {"FuserTempToDriver", FuserTempToDriver, 0, 60},
    {"FuserTempToDriver", FuserTempToDriver, 0xFFFFFFFF, 61},
    {"FuserTempToDriver", FuserTempToDriver, 5, 5},
    {"FuserTempToPrinter", FuserTempToPrinter, 59, 1},
    {"FuserTempToPrinter", FuserTempToPrinter, 60, 0},
    {"FuserTempToPrinter", FuserTempToPrinter, 61, 0xFFFFFFFF},
    {"FuserTempToPrinter", FuserTempToPrinter, 62, 62},
    {"LangToDriver", LangToDriver, 1, 23},
    {"LangToDriver", LangToDriver, 0xFFFFFFF0, 6},
    {"LangToPrinter", LangToPrinter, 23, 1},
    {"LangToPrinter", LangToPrinter, 10, 0xFFFFFFF4},
    {"OrientationToDriver", OrientationToDriver, 3, 39},
    {"OrientationToDriver", OrientationToDriver, 4, 40},
    {"OrientationToDriver", OrientationToDriver, 0, 40},
    {"OrientationToPrinter", OrientationToPrinter, 39, 3},
    {"OrientationToPrinter", OrientationToPrinter, 40, 4},
    {"OrientationToPrinter", OrientationToPrinter, 0, 4},
    {"PaperSizeToDriver", PaperSizeToDriver, 4, 4},
    {"PaperSizeToPrinter", PaperSizeToPrinter, 56, 56},
    {"PaperSizeToPrinter", PaperSizeToPrinter, 40, 40},
    {"PostScriptToDriver", PostScriptToDriver, 6, 1},
    {"PostScriptToDriver", PostScriptToDriver, 2, 2},
    {"PostScriptToDriver", PostScriptToDriver, 0, 0},
    {"ResolutionToDriver", ResolutionToDriver, 300, 9},
    {"ResolutionToDriver", ResolutionToDriver, 600, 10},
    {"ResolutionToDriver", ResolutionToDriver, 1200, 11},
    {"ResolutionToDriver", ResolutionToDriver, 0, 11},
    {"ResolutionToPrinter", ResolutionToPrinter, 9, 300},
    {"ResolutionToPrinter", ResolutionToPrinter, 10, 600},
    {"ResolutionToPrinter", ResolutionToPrinter, 11, 1200},
    {"ResolutionToPrinter", ResolutionToPrinter, 0, 1200},
    {"SmoothingToPrinter", SmoothingToPrinter, 1, 1},
    {"SmoothingToPrinter", SmoothingToPrinter, 0, 2},
    {"SmoothingToPrinter", SmoothingToPrinter, 2, 2},
    {"Tray3PresenceToDriver", Tray3PresenceToDriver, 0, 1},
    {"Tray3PresenceToDriver", Tray3PresenceToDriver, 77, 1},
};

INSTANTIATE_TEST_SUITE_P(Table, ConfigMaps, ::testing::ValuesIn(kMapCases));

TEST(ConfigSettings, PaperSizeMapGoesBothWaysForAllFifteenPairs) {
  const DWORD printer[] = {1, 2, 3, 10, 25, 26, 45, 71, 72, 80, 81, 90, 91, 100, 101};
  for (DWORD i = 0; i < 15; ++i) {
    EXPECT_EQ(PaperSizeToDriver(printer[i]), 41 + i);
    EXPECT_EQ(PaperSizeToPrinter(41 + i), printer[i]);
  }
}

TEST(ConfigSettings, FuserTemperaturesSwitchSendTypeBySign) {
  const Setting& fuser = SettingAt(6);
  EXPECT_EQ(SendTypeFor(fuser, FuserTempToPrinter(61)), ValueType::NegativeNumber);
  EXPECT_EQ(SendTypeFor(fuser, FuserTempToPrinter(60)), ValueType::PaddedNumber);
  EXPECT_EQ(SendTypeFor(fuser, FuserTempToPrinter(59)), ValueType::PaddedNumber);
  EXPECT_EQ(SendTypeFor(fuser, 0x80000000u), ValueType::NegativeNumber);
  EXPECT_EQ(SendTypeFor(fuser, 0x7FFFFFFFu), ValueType::PaddedNumber);
  // Other settings keep their own type whatever the value.
  EXPECT_EQ(SendTypeFor(SettingAt(12), 0xFFFFFFF4u), ValueType::PaddedNumber);
  EXPECT_EQ(SendTypeFor(SettingAt(25), 0xFFFFFFFFu), ValueType::AltNumber);
}

// ---- key path ------------------------------------------------------------------

TEST(ConfigKeyPath, FormsThePrintersDriverDataPath) {
  WCHAR path[kKeyPathCapacity];
  ASSERT_TRUE(BuildDriverDataKeyPath(LM_W("Laser 4"), path, kKeyPathCapacity));
  EXPECT_EQ(WString(path),
            WString(LM_W("System\\CurrentControlSet\\Control\\Print\\Printers\\Laser 4\\"
                         "PrinterDriverData")));
}

TEST(ConfigKeyPath, LongestNameFitsAndOneMoreDoesNot) {
  struct Case {
    std::size_t nameLength;
    bool fits;
  };
  for (const Case c : {Case{1, true}, Case{189, true}, Case{190, false}, Case{300, false}}) {
    const WString name(c.nameLength, WCHAR('n'));
    WCHAR path[kKeyPathCapacity + 8];
    for (WCHAR& ch : path) ch = WCHAR('#');
    EXPECT_EQ(BuildDriverDataKeyPath(name.c_str(), path, kKeyPathCapacity), c.fits ? TRUE : FALSE)
        << c.nameLength;
    if (c.fits) {
      EXPECT_EQ(WString(path).size(), 66 + c.nameLength);
    } else {
      EXPECT_EQ(path[0], 0);
    }
    // Nothing is ever written past the buffer's capacity.
    for (std::size_t i = kKeyPathCapacity; i < kKeyPathCapacity + 8; ++i)
      EXPECT_EQ(path[i], WCHAR('#'));
  }
}

TEST(ConfigKeyPath, NullOrEmptyNameGivesNoPath) {
  WCHAR path[kKeyPathCapacity] = {WCHAR('x')};
  EXPECT_FALSE(BuildDriverDataKeyPath(nullptr, path, kKeyPathCapacity));
  EXPECT_EQ(path[0], 0);
  path[0] = WCHAR('x');
  EXPECT_FALSE(BuildDriverDataKeyPath(LM_W(""), path, kKeyPathCapacity));
  EXPECT_EQ(path[0], 0);
}

// ---- reading one stored value -----------------------------------------------------

TEST(ConfigRegistryValue, OnlyFourByteDwordsAreReadable) {
  DriverDataKey stored(UniquePrinterName());
  stored.SetDword(LM_W("dwGood"), 0x12345678);
  stored.SetRaw(LM_W("dwShort"), REG_DWORD, std::string("\x07\x00", 2));
  stored.SetRaw(LM_W("dwEmpty"), REG_DWORD, std::string());
  stored.SetRaw(LM_W("dwBinary"), REG_BINARY, std::string("\x05\x00\x00\x00", 4));
  stored.SetRaw(LM_W("dwText"), REG_SZ, std::string("4\0\0\0", 4));
  stored.SetRaw(LM_W("dwLong"), REG_BINARY, std::string("\x01\x00\x00\x00\x00\x00\x00\x00", 8));
  stored.SetRaw(LM_W("dwQword"), REG_QWORD, std::string("\x02\x00\x00\x00\x00\x00\x00\x00", 8));

  const WString path = testing::PrintersKeyPath() + stored.printer() + LM_W("\\PrinterDriverData");
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
  DWORD value = 0;
  EXPECT_TRUE(ReadDriverDword(key, LM_W("dwGood"), &value));
  EXPECT_EQ(value, 0x12345678u);
  for (LPCWSTR name : {LM_W("dwShort"), LM_W("dwEmpty"), LM_W("dwBinary"), LM_W("dwText"),
                       LM_W("dwLong"), LM_W("dwQword"), LM_W("dwMissing")}) {
    value = 0xCAFEu;
    EXPECT_FALSE(ReadDriverDword(key, name, &value)) << Narrow(name);
    EXPECT_EQ(value, 0xCAFEu) << Narrow(name);
  }
  RegCloseKey(key);
}

}  // namespace
}  // namespace langmon

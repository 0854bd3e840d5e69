// The settings table, its value maps, the walk orders and the driver-data
// key path and value reading.
#include <gtest/gtest.h>

#include <cstring>
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

// Presence bits, send types, defaults and fallbacks are what the driver and
// the printer rely on; each row is checked against the published layout.
TEST(ConfigSettings, RowsCarryTheirBitsTypesAndDefaults) {
  struct Row {
    const char* field;
    const char* objectId;
    DWORD bit;
    DWORD sendType;
    DWORD defaultValue;
    DWORD fallback;
  };
  const Row rows[kSettingCount] = {
      {"Copies", "050103030104", 0x1, 2, 1, 1},
      {"DarkCourier", "050103030126", 0x2, 1, 1, 1},
      {"Density", "050104010105", 0x4, 2, 6, 6},
      {"SaverMode", "050104010607", 0x8, 2, 1, 1},
      {"FormLines", "05010303010b", 0x10, 2, 60, 60},
      {"FuserTempTray1", "070104010303010d", 0x20, kSendTypeBySign, 60, 60},
      {"FuserTempTray2", "070104010303020d", 0x40, kSendTypeBySign, 60, 60},
      {"FuserTempTray3", "070104010303030d", 0x80, kSendTypeBySign, 60, 60},
      {"InstalledMem", "06030203010501", 0, kNotSent, 2097152, 20480000},
      {"IObuffer", "050102010105", 0x100, 1, 3, 3},
      {"IObufSize", "050102010106", 0x200, 2, 10, 10},
      {"Lang", "06020501010201", 0x400, 2, 23, 23},
      {"Orientation", "07020f0101070101", 0x800, 1, 39, 39},
      {"PaperSize", "05010303010d", 0x1000, 1, 42, 42},
      {"PostScript", "07020f0101020105", 0, kNotSent, 0, 0},
      {"PSErrors", "05010303040b", 0x2000, 1, 1, 1},
      {"Resolution", "050103030108", 0x4000, 2, 11, 11},
      {"ResourceSave", "050103030106", 0x8000, 1, 3, 3},
      {"ResSaveSizePCL", "050103030302", 0x10000, 2, 102400, 100},
      {"ResSaveSizePS", "050103030402", 0x20000, 2, 102400, 100},
      {"RePrint", "050103030124", 0x80000, 1, 2, 2},
      {"Smoothing", "050104010605", 0x100000, 1, 1, 1},
      {"TestPage", nullptr, 0, kNotSent, 17, 17},
      {"Tray3Installed", "07020802010d0103", 0, kNotSent, 0, 0},
      {"TrayLock", "06010401030106", 0x400000, 8, 2, 2},
      {"WideA4", "050103030125", 0x800000, 1, 1, 1},
  };
  for (std::size_t i = 0; i < kSettingCount; ++i) {
    const Setting& s = kSettings[i];
    SCOPED_TRACE(rows[i].field);
    EXPECT_STREQ(s.FieldName, rows[i].field);
    if (rows[i].objectId)
      EXPECT_STREQ(s.ObjectId, rows[i].objectId);
    else
      EXPECT_EQ(s.ObjectId, nullptr);
    EXPECT_EQ(s.PresenceBit, rows[i].bit);
    EXPECT_EQ(s.SendType, rows[i].sendType);
    EXPECT_EQ(s.Default, rows[i].defaultValue);
    EXPECT_EQ(s.Fallback, rows[i].fallback);
    EXPECT_EQ(s.ToPrinter == nullptr, rows[i].sendType == kNotSent);
  }
  EXPECT_EQ(KnownPresenceBits(), 0xDBFFFFu);
}

struct MapCase {
  const char* name;
  ValueMap map;
  DWORD in;
  DWORD out;
};

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
  EXPECT_EQ(SendTypeFor(fuser, FuserTempToPrinter(61)), DWORD{NegativeNumber});
  EXPECT_EQ(SendTypeFor(fuser, FuserTempToPrinter(60)), DWORD{PaddedNumber});
  EXPECT_EQ(SendTypeFor(fuser, FuserTempToPrinter(59)), DWORD{PaddedNumber});
  EXPECT_EQ(SendTypeFor(fuser, 0x80000000u), DWORD{NegativeNumber});
  EXPECT_EQ(SendTypeFor(fuser, 0x7FFFFFFFu), DWORD{PaddedNumber});
  // Other settings keep their own type whatever the value.
  EXPECT_EQ(SendTypeFor(SettingAt(12), 0xFFFFFFF4u), DWORD{PaddedNumber});
  EXPECT_EQ(SendTypeFor(SettingAt(25), 0xFFFFFFFFu), DWORD{AltNumber});
}

TEST(ConfigSettings, PrinterReadStepsAskInTheFixedOrder) {
  const char* expected[] = {
      "Copies",         "DarkCourier",    "Density",        "FormLines",     "FuserTempTray1",
      "FuserTempTray2", "Tray3Installed", "FuserTempTray3", "InstalledMem",  "IObuffer",
      "IObufSize",      "Lang",           "Orientation",    "PaperSize",     "PostScript",
      "PSErrors",       "ResourceSave",   "ResSaveSizePCL", "ResSaveSizePS", "Resolution",
      "SaverMode",      "RePrint",        "Smoothing",      "TrayLock",      "WideA4"};
  ASSERT_EQ(std::size(expected), kPrinterReadStepCount);
  for (std::size_t i = 0; i < kPrinterReadStepCount; ++i)
    EXPECT_STREQ(SettingAt(kPrinterReadSteps[i].Position).FieldName, expected[i]) << i;
  // Eighteen steps always run, seven depend on an earlier answer.
  std::size_t unconditional = 0;
  for (const ReadStep& step : kPrinterReadSteps)
    if (step.Parent == kUnconditional) ++unconditional;
  EXPECT_EQ(unconditional, 18u);
}

TEST(ConfigSettings, RegistryAndSendOrdersAreData) {
  std::vector<std::string> registry;
  for (DWORD position : kRegistryReadOrder)
    registry.push_back(Narrow(SettingAt(position).ValueName));
  const std::vector<std::string> recordOrder = {
      "dwCopies",       "dwDarkCourier",    "dwDensity",        "dwSaverMode",
      "dwFormLines",    "dwFuserTempTray1", "dwFuserTempTray2", "dwFuserTempTray3",
      "dwInstalledMem", "dwIObuffer",       "dwIObufSize",      "dwLang",
      "dwOrientation",  "dwPaperSize",      "dwPostScript",     "dwPSErrors",
      "dwResolution",   "dwResourceSave",   "dwResSaveSizePCL", "dwResSaveSizePS",
      "dwRePrint",      "dwSmoothing",      "dwTestPage",       "dwTray3Installed",
      "dwTrayLock",     "dwWideA4"};
  EXPECT_EQ(registry, recordOrder);

  std::vector<DWORD> bits;
  for (DWORD position : kSendOrder) bits.push_back(SettingAt(position).PresenceBit);
  const std::vector<DWORD> sendBits = {
      0x1,  0x2,    0x4,    0x20, 0x40,   0x80,    0x100,   0x200,   0x400,    0x800,    0x1000,
      0x10, 0x2000, 0x4000, 0x8,  0x8000, 0x10000, 0x20000, 0x80000, 0x100000, 0x400000, 0x800000};
  EXPECT_EQ(bits, sendBits);
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

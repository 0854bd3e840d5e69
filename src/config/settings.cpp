#include "config/settings.h"

namespace langmon {

using enum ValueType;

// ---- value maps -----------------------------------------------------------

namespace {

struct CodePair {
  DWORD Printer;
  DWORD Driver;
};

constexpr CodePair kDensityPairs[] = {{1, 4}, {2, 5}, {3, 6}, {4, 7}, {5, 8}};

constexpr CodePair kFuserPairs[] = {{1, 59}, {0, 60}, {0xFFFFFFFF, 61}};

constexpr CodePair kPaperSizePairs[] = {
    {1, 41},  {2, 42},  {3, 43},  {10, 44}, {25, 45}, {26, 46},  {45, 47},  {71, 48},
    {72, 49}, {80, 50}, {81, 51}, {90, 52}, {91, 53}, {100, 54}, {101, 55},
};

template <std::size_t N>
DWORD PrinterToDriver(const CodePair (&pairs)[N], DWORD value) {
  for (const CodePair& pair : pairs)
    if (pair.Printer == value) return pair.Driver;
  return value;
}

template <std::size_t N>
DWORD DriverToPrinter(const CodePair (&pairs)[N], DWORD value) {
  for (const CodePair& pair : pairs)
    if (pair.Driver == value) return pair.Printer;
  return value;
}

constexpr DWORD kLangOffset = 22;

}  // namespace

DWORD AsIs(DWORD value) { return value; }
DWORD DensityToDriver(DWORD value) { return PrinterToDriver(kDensityPairs, value); }
DWORD DensityToPrinter(DWORD value) { return DriverToPrinter(kDensityPairs, value); }
DWORD SaverModeToDriver(DWORD value) { return value == 0 ? 2 : 1; }
DWORD SaverModeToPrinter(DWORD value) { return value == 2 ? 0 : 100; }
DWORD FuserTempToDriver(DWORD value) { return PrinterToDriver(kFuserPairs, value); }
DWORD FuserTempToPrinter(DWORD value) { return DriverToPrinter(kFuserPairs, value); }
DWORD LangToDriver(DWORD value) { return value + kLangOffset; }
DWORD LangToPrinter(DWORD value) { return value - kLangOffset; }
DWORD OrientationToDriver(DWORD value) { return value == 3 ? 39 : 40; }
DWORD OrientationToPrinter(DWORD value) { return value == 39 ? 3 : 4; }
DWORD PaperSizeToDriver(DWORD value) { return PrinterToDriver(kPaperSizePairs, value); }
DWORD PaperSizeToPrinter(DWORD value) { return DriverToPrinter(kPaperSizePairs, value); }
DWORD PostScriptToDriver(DWORD value) { return value == 6 ? 1 : value; }

DWORD ResolutionToDriver(DWORD value) {
  switch (value) {
    case 300:
      return 9;
    case 600:
      return 10;
    default:
      return 11;
  }
}

DWORD ResolutionToPrinter(DWORD value) {
  switch (value) {
    case 9:
      return 300;
    case 10:
      return 600;
    default:
      return 1200;
  }
}

DWORD SmoothingToPrinter(DWORD value) { return value == 1 ? 1 : 2; }
DWORD Tray3PresenceToDriver(DWORD) { return 1; }

// ---- the settings table ---------------------------------------------------

// clang-format off
constexpr Setting kSettings[kSettingCount] = {
//  pos field                          name              registry value                 object identifier    bit       send type        default   fallback  printer->driver        driver->printer
  {  1, &ConfigRecord::Copies,         "Copies",         LM_W("dwCopies"),              "050103030104",      0x1,      PaddedNumber,    1,        1,        AsIs,                  AsIs},
  {  2, &ConfigRecord::DarkCourier,    "DarkCourier",    LM_W("dwDarkCourier"),         "050103030126",      0x2,      Number,          1,        1,        AsIs,                  AsIs},
  {  3, &ConfigRecord::Density,        "Density",        LM_W("dwDensity"),             "050104010105",      0x4,      PaddedNumber,    6,        6,        DensityToDriver,       DensityToPrinter},
  {  4, &ConfigRecord::SaverMode,      "SaverMode",      LM_W("dwSaverMode"),           "050104010607",      0x8,      PaddedNumber,    1,        1,        SaverModeToDriver,     SaverModeToPrinter},
  {  5, &ConfigRecord::FormLines,      "FormLines",      LM_W("dwFormLines"),           "05010303010b",      0x10,     PaddedNumber,    60,       60,       AsIs,                  AsIs},
  {  6, &ConfigRecord::FuserTempTray1, "FuserTempTray1", LM_W("dwFuserTempTray1"),      "070104010303010d",  0x20,     kSendTypeBySign, 60,       60,       FuserTempToDriver,     FuserTempToPrinter},
  {  7, &ConfigRecord::FuserTempTray2, "FuserTempTray2", LM_W("dwFuserTempTray2"),      "070104010303020d",  0x40,     kSendTypeBySign, 60,       60,       FuserTempToDriver,     FuserTempToPrinter},
  {  8, &ConfigRecord::FuserTempTray3, "FuserTempTray3", LM_W("dwFuserTempTray3"),      "070104010303030d",  0x80,     kSendTypeBySign, 60,       60,       FuserTempToDriver,     FuserTempToPrinter},
  {  9, &ConfigRecord::InstalledMem,   "InstalledMem",   LM_W("dwInstalledMem"),        "06030203010501",    kNoPresenceBit, kNotSent, 0x200000, 20480000, AsIs,                nullptr},
  { 10, &ConfigRecord::IObuffer,       "IObuffer",       LM_W("dwIObuffer"),            "050102010105",      0x100,    Number,          3,        3,        AsIs,                  AsIs},
  { 11, &ConfigRecord::IObufSize,      "IObufSize",      LM_W("dwIObufSize"),           "050102010106",      0x200,    PaddedNumber,    10,       10,       AsIs,                  AsIs},
  { 12, &ConfigRecord::Lang,           "Lang",           LM_W("dwLang"),                "06020501010201",    0x400,    PaddedNumber,    23,       23,       LangToDriver,          LangToPrinter},
  { 13, &ConfigRecord::Orientation,    "Orientation",    LM_W("dwOrientation"),         "07020f0101070101",  0x800,    Number,          39,       39,       OrientationToDriver,   OrientationToPrinter},
  { 14, &ConfigRecord::PaperSize,      "PaperSize",      LM_W("dwPaperSize"),           "05010303010d",      0x1000,   Number,          42,       42,       PaperSizeToDriver,     PaperSizeToPrinter},
  { 15, &ConfigRecord::PostScript,     "PostScript",     LM_W("dwPostScript"),          "07020f0101020105",  kNoPresenceBit, kNotSent, 0,      0,        PostScriptToDriver,    nullptr},
  { 16, &ConfigRecord::PSErrors,       "PSErrors",       LM_W("dwPSErrors"),            "05010303040b",      0x2000,   Number,          1,        1,        AsIs,                  AsIs},
  { 17, &ConfigRecord::Resolution,     "Resolution",     LM_W("dwResolution"),          "050103030108",      0x4000,   PaddedNumber,    11,       11,       ResolutionToDriver,    ResolutionToPrinter},
  { 18, &ConfigRecord::ResourceSave,   "ResourceSave",   LM_W("dwResourceSave"),        "050103030106",      0x8000,   Number,          3,        3,        AsIs,                  AsIs},
  { 19, &ConfigRecord::ResSaveSizePCL, "ResSaveSizePCL", LM_W("dwResSaveSizePCL"),      "050103030302",      0x10000,  PaddedNumber,    102400,   100,      AsIs,                  AsIs},
  { 20, &ConfigRecord::ResSaveSizePS,  "ResSaveSizePS",  LM_W("dwResSaveSizePS"),       "050103030402",      0x20000,  PaddedNumber,    102400,   100,      AsIs,                  AsIs},
  { 21, &ConfigRecord::RePrint,        "RePrint",        LM_W("dwRePrint"),             "050103030124",      0x80000,  Number,          2,        2,        AsIs,                  AsIs},
  { 22, &ConfigRecord::Smoothing,      "Smoothing",      LM_W("dwSmoothing"),           "050104010605",      0x100000, Number,          1,        1,        AsIs,                  SmoothingToPrinter},
  { 23, &ConfigRecord::TestPage,       "TestPage",       LM_W("dwTestPage"),            nullptr,             kNoPresenceBit, kNotSent, 17,     17,       nullptr,               nullptr},
  { 24, &ConfigRecord::Tray3Installed, "Tray3Installed", LM_W("dwTray3Installed"),      "07020802010d0103",  kNoPresenceBit, kNotSent, 0,      0,        Tray3PresenceToDriver, nullptr},
  { 25, &ConfigRecord::TrayLock,       "TrayLock",       LM_W("dwTrayLock"),            "06010401030106",    0x400000, AltNumber,       2,        2,        AsIs,                  AsIs},
  { 26, &ConfigRecord::WideA4,         "WideA4",         LM_W("dwWideA4"),              "050103030125",      0x800000, Number,          1,        1,        AsIs,                  AsIs},
};

// Dependent steps follow their parent; Parent is the index of that parent.
//                                             label  position parent  gated  skip when
constexpr ReadStep kPrinterReadSteps[kPrinterReadStepCount] = {
  /*  0 */ {"1",   1,  kUnconditional, false, 0},   // Copies
  /*  1 */ {"2",   2,  kUnconditional, false, 0},   // DarkCourier
  /*  2 */ {"3",   3,  kUnconditional, false, 0},   // Density
  /*  3 */ {"4",   5,  kUnconditional, false, 0},   // FormLines
  /*  4 */ {"5",   6,  kUnconditional, false, 0},   // FuserTempTray1
  /*  5 */ {"6",   7,  kUnconditional, false, 0},   // FuserTempTray2
  /*  6 */ {"7",   24, kUnconditional, false, 0},   // tray-3 presence object
  /*  7 */ {"7a",  8,  6,              false, 0},   // FuserTempTray3 when tray 3 answered
  /*  8 */ {"8",   9,  kUnconditional, false, 0},   // InstalledMem
  /*  9 */ {"9",   10, kUnconditional, false, 0},   // IObuffer
  /* 10 */ {"9a",  11, 9,              true,  0},   // IObufSize unless IObuffer is 0
  /* 11 */ {"10",  12, kUnconditional, false, 0},   // Lang
  /* 12 */ {"11",  13, kUnconditional, false, 0},   // Orientation
  /* 13 */ {"12",  14, kUnconditional, false, 0},   // PaperSize
  /* 14 */ {"13",  15, kUnconditional, false, 0},   // PostScript
  /* 15 */ {"13a", 16, 14,             true,  0},   // PSErrors unless PostScript is 0
  /* 16 */ {"13b", 18, 14,             true,  0},   // ResourceSave unless PostScript is 0
  /* 17 */ {"13c", 19, 16,             true,  1},   // ResSaveSizePCL unless ResourceSave is 1
  /* 18 */ {"13d", 20, 16,             true,  1},   // ResSaveSizePS unless ResourceSave is 1
  /* 19 */ {"14",  17, kUnconditional, false, 0},   // Resolution
  /* 20 */ {"14a", 4,  19,             true,  11},  // SaverMode unless Resolution is 11
  /* 21 */ {"15",  21, kUnconditional, false, 0},   // RePrint
  /* 22 */ {"16",  22, kUnconditional, false, 0},   // Smoothing
  /* 23 */ {"17",  25, kUnconditional, false, 0},   // TrayLock
  /* 24 */ {"18",  26, kUnconditional, false, 0},   // WideA4
};

constexpr DWORD kRegistryReadOrder[kSettingCount] = {
    1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13,
    14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26,
};

constexpr DWORD kSendOrder[kSendOrderCount] = {
    1,   // Copies
    2,   // DarkCourier
    3,   // Density
    6,   // FuserTempTray1
    7,   // FuserTempTray2
    8,   // FuserTempTray3
    10,  // IObuffer
    11,  // IObufSize
    12,  // Lang
    13,  // Orientation
    14,  // PaperSize
    5,   // FormLines, after paper size
    16,  // PSErrors
    17,  // Resolution
    4,   // SaverMode, after resolution
    18,  // ResourceSave
    19,  // ResSaveSizePCL
    20,  // ResSaveSizePS
    21,  // RePrint
    22,  // Smoothing
    25,  // TrayLock
    26,  // WideA4
};
// clang-format on

// The tables hold together: rows in record order, dependent steps after
// their parents, every sendable setting sent exactly once.
namespace {

constexpr bool RowsInRecordOrder() {
  for (std::size_t i = 0; i < kSettingCount; ++i)
    if (kSettings[i].Position != i + 1) return false;
  return true;
}

constexpr bool StepsFollowParents() {
  for (std::size_t i = 0; i < kPrinterReadStepCount; ++i) {
    const ReadStep& step = kPrinterReadSteps[i];
    if (step.Position < 1 || step.Position > kSettingCount) return false;
    if (kSettings[step.Position - 1].ObjectId == nullptr) return false;
    if (step.Parent != kUnconditional && (step.Parent < 0 || std::size_t(step.Parent) >= i))
      return false;
  }
  return true;
}

constexpr bool SendOrderComplete() {
  std::size_t sendable = 0;
  for (const Setting& setting : kSettings) {
    const bool hasBit = setting.PresenceBit != kNoPresenceBit;
    if (hasBit != (setting.SendType != kNotSent)) return false;
    if (!hasBit) continue;
    ++sendable;
    std::size_t seen = 0;
    for (DWORD position : kSendOrder)
      if (position == setting.Position) ++seen;
    if (seen != 1) return false;
  }
  return sendable == kSendOrderCount;
}

static_assert(RowsInRecordOrder());
static_assert(StepsFollowParents());
static_assert(SendOrderComplete());

}  // namespace

const Setting& SettingAt(DWORD position) { return kSettings[position - 1]; }

ValueType SendTypeFor(const Setting& setting, DWORD printerValue) {
  if (setting.SendType == kSendTypeBySign)
    return static_cast<std::int32_t>(printerValue) < 0 ? NegativeNumber : PaddedNumber;
  return setting.SendType;
}

}  // namespace langmon

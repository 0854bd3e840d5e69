// The printer configuration: the ConfigRecord handed to the driver, the one
// constant settings table that ties each setting to its registry value,
// device-management object, presence bit, send type, defaults and value maps,
// and the orders in which the three users of the table walk it.
#pragma once

#include <cstddef>

#include "monitor/monitor.h"
#include "pjl/pjl.h"

namespace langmon {

// The record written into the driver's output buffer for "GetConfigObjects".
// Its layout is shared with the driver: 27 little-endian DWORDs, value n at
// byte offset 4 * n, value 0 the mask of presence bits.
struct ConfigRecord {
  DWORD CfgFlags;
  DWORD Copies;
  DWORD DarkCourier;
  DWORD Density;
  DWORD SaverMode;
  DWORD FormLines;
  DWORD FuserTempTray1;
  DWORD FuserTempTray2;
  DWORD FuserTempTray3;
  DWORD InstalledMem;
  DWORD IObuffer;
  DWORD IObufSize;
  DWORD Lang;
  DWORD Orientation;
  DWORD PaperSize;
  DWORD PostScript;
  DWORD PSErrors;
  DWORD Resolution;
  DWORD ResourceSave;
  DWORD ResSaveSizePCL;
  DWORD ResSaveSizePS;
  DWORD RePrint;
  DWORD Smoothing;
  DWORD TestPage;
  DWORD Tray3Installed;
  DWORD TrayLock;
  DWORD WideA4;
};

constexpr std::size_t kConfigValueCount = 27;
constexpr std::size_t kConfigRecordSize = 108;
constexpr std::size_t kSettingCount = 26;

static_assert(sizeof(DWORD) == 4);
static_assert(sizeof(ConfigRecord) == kConfigRecordSize);
static_assert(sizeof(ConfigRecord) == kConfigValueCount * sizeof(DWORD));
static_assert(offsetof(ConfigRecord, CfgFlags) == 0);
static_assert(offsetof(ConfigRecord, Copies) == 4 * 1);
static_assert(offsetof(ConfigRecord, DarkCourier) == 4 * 2);
static_assert(offsetof(ConfigRecord, Density) == 4 * 3);
static_assert(offsetof(ConfigRecord, SaverMode) == 4 * 4);
static_assert(offsetof(ConfigRecord, FormLines) == 4 * 5);
static_assert(offsetof(ConfigRecord, FuserTempTray1) == 4 * 6);
static_assert(offsetof(ConfigRecord, FuserTempTray2) == 4 * 7);
static_assert(offsetof(ConfigRecord, FuserTempTray3) == 4 * 8);
static_assert(offsetof(ConfigRecord, InstalledMem) == 4 * 9);
static_assert(offsetof(ConfigRecord, IObuffer) == 4 * 10);
static_assert(offsetof(ConfigRecord, IObufSize) == 4 * 11);
static_assert(offsetof(ConfigRecord, Lang) == 4 * 12);
static_assert(offsetof(ConfigRecord, Orientation) == 4 * 13);
static_assert(offsetof(ConfigRecord, PaperSize) == 4 * 14);
static_assert(offsetof(ConfigRecord, PostScript) == 4 * 15);
static_assert(offsetof(ConfigRecord, PSErrors) == 4 * 16);
static_assert(offsetof(ConfigRecord, Resolution) == 4 * 17);
static_assert(offsetof(ConfigRecord, ResourceSave) == 4 * 18);
static_assert(offsetof(ConfigRecord, ResSaveSizePCL) == 4 * 19);
static_assert(offsetof(ConfigRecord, ResSaveSizePS) == 4 * 20);
static_assert(offsetof(ConfigRecord, RePrint) == 4 * 21);
static_assert(offsetof(ConfigRecord, Smoothing) == 4 * 22);
static_assert(offsetof(ConfigRecord, TestPage) == 4 * 23);
static_assert(offsetof(ConfigRecord, Tray3Installed) == 4 * 24);
static_assert(offsetof(ConfigRecord, TrayLock) == 4 * 25);
static_assert(offsetof(ConfigRecord, WideA4) == 4 * 26);

// A record filled from the registry or from the built-in defaults carries
// this mask, whatever "dwCfgFlags" holds.
constexpr DWORD kStoredConfigMask = 0x0FFFFFFF;

// ---- value maps -----------------------------------------------------------
// Pure functions of one 32-bit value. "ToDriver" maps a decoded printer answer
// into the driver's encoding, "ToPrinter" a stored driver value into the
// printer's. Values a map does not list pass unchanged unless said otherwise.

using ValueMap = DWORD (*)(DWORD);

DWORD AsIs(DWORD value);
DWORD DensityToDriver(DWORD value);       // 1..5 -> 4..8
DWORD DensityToPrinter(DWORD value);      // 4..8 -> 1..5
DWORD SaverModeToDriver(DWORD value);     // 0 -> 2, any other -> 1
DWORD SaverModeToPrinter(DWORD value);    // 2 -> 0, any other -> 100
DWORD FuserTempToDriver(DWORD value);     // 1 -> 59, 0 -> 60, -1 -> 61
DWORD FuserTempToPrinter(DWORD value);    // 59 -> 1, 60 -> 0, 61 -> -1
DWORD LangToDriver(DWORD value);          // plus 22, wrapping
DWORD LangToPrinter(DWORD value);         // minus 22, wrapping
DWORD OrientationToDriver(DWORD value);   // 3 -> 39, any other -> 40
DWORD OrientationToPrinter(DWORD value);  // 39 -> 3, any other -> 4
DWORD PaperSizeToDriver(DWORD value);     // 15 printer codes -> 41..55
DWORD PaperSizeToPrinter(DWORD value);    // 41..55 -> the 15 printer codes
DWORD PostScriptToDriver(DWORD value);    // 6 -> 1
DWORD ResolutionToDriver(DWORD value);    // 300 -> 9, 600 -> 10, any other -> 11
DWORD ResolutionToPrinter(DWORD value);   // 9 -> 300, 10 -> 600, any other -> 1200
DWORD SmoothingToPrinter(DWORD value);    // 1 -> 1, any other -> 2
// The tray-3 presence object: answering it at all means the tray is there.
DWORD Tray3PresenceToDriver(DWORD value);

// ---- the settings table ---------------------------------------------------

// Send types of the table: a value type of the set line, or one of these two
// codes outside the wire's range.
constexpr ValueType kNotSent = static_cast<ValueType>(0xFFFFFFFF);
// The fuser temperatures go out as NegativeNumber when the printer value is
// negative as a signed 32-bit number, else as PaddedNumber.
constexpr ValueType kSendTypeBySign = static_cast<ValueType>(0xFFFFFFFE);

constexpr DWORD kNoPresenceBit = 0;

struct Setting {
  DWORD Position;              // value index in the ConfigRecord (1..26)
  DWORD ConfigRecord::*Field;  // the same value as a member
  const char* FieldName;       // the member's name
  LPCWSTR ValueName;           // registry value under PrinterDriverData
  const char* ObjectId;        // device-management object; null when never asked
  DWORD PresenceBit;           // kNoPresenceBit when the setting has none
  ValueType SendType;          // value type, kSendTypeBySign or kNotSent
  DWORD Default;               // built-in default (no configuration stored)
  DWORD Fallback;              // configuration stored, this value unreadable
  ValueMap ToDriver;           // printer answer -> record; null when never asked
  ValueMap ToPrinter;          // registry value -> set line; null when never sent
};

// The 26 settings in record order: kSettings[i].Position == i + 1.
extern const Setting kSettings[kSettingCount];

// The row for a record position (1..26).
const Setting& SettingAt(DWORD position);

// The value type a setting goes out with, for its value already mapped into
// the printer's encoding.
ValueType SendTypeFor(const Setting& setting, DWORD printerValue);

// ---- the three walks over the table -----------------------------------------

// Reading from the printer: one DMINFO query per step, in table order. A step
// with a parent runs only when its parent step was answered and, when Gated,
// the parent's value in the record (after its map) is not SkipWhen. The
// dependent steps of a step follow it directly.
constexpr int kUnconditional = -1;

struct ReadStep {
  const char* Label;  // "7", "7a", ...
  DWORD Position;     // the setting asked (record position)
  int Parent;         // index into kPrinterReadSteps, or kUnconditional
  bool Gated;         // also test the parent's value
  DWORD SkipWhen;     // the parent value that stops this step
};

constexpr std::size_t kPrinterReadStepCount = 25;
extern const ReadStep kPrinterReadSteps[kPrinterReadStepCount];

// Reading from the registry: the record order, "dwCopies" to "dwWideA4".
extern const DWORD kRegistryReadOrder[kSettingCount];

// Sending to the printer: the order of the set lines in the block. The bits'
// order, except that form lines follow paper size and SaverMode follows
// resolution. Settings without a presence bit never appear.
constexpr std::size_t kSendOrderCount = 22;
extern const DWORD kSendOrder[kSendOrderCount];

}  // namespace langmon

// The three ways the settings are used: read from a printer that answers,
// read from the driver's stored values (or the built-in defaults), and sent
// to the printer. Also the driver-data registry key they all read.
#pragma once

#include "config/settings.h"

namespace langmon {

// ---- the driver-data key ----------------------------------------------------

// The key path is the prefix, the printer name and the suffix, relative to
// HKEY_LOCAL_MACHINE, formed in a buffer of this many WCHARs, terminator
// included.
inline constexpr WCHAR kDriverDataKeyPrefix[] =
    LM_W("System\\CurrentControlSet\\Control\\Print\\Printers\\");
inline constexpr WCHAR kDriverDataKeySuffix[] = LM_W("\\PrinterDriverData");
constexpr std::size_t kKeyPathCapacity = 256;
// The longest printer name whose key path fits: 255 - 66.
constexpr std::size_t kMaxPrinterNameLength = 189;

// Forms the key path for a printer name into `path` (capacity WCHARs).
// FALSE, with an empty path, when the name is null or empty or the path
// would not fit.
BOOL BuildDriverDataKeyPath(LPCWSTR printerName, WCHAR* path, std::size_t capacity);

// Opens the entry's driver-data key under HKEY_LOCAL_MACHINE with KEY_READ.
// The printer name is copied under the monitor lock first. FALSE when the
// entry has no printer name, the name is too long for the key path, or the
// key does not open; the caller closes a key it got with RegCloseKey.
BOOL OpenDriverDataKey(const PortEntry* entry, HKEY* key);

// Reads one setting as the driver stores it: a REG_DWORD of exactly 4 bytes.
// Anything else (missing, another type, shorter or longer data) is
// unreadable: FALSE and *value untouched.
BOOL ReadDriverDword(HKEY key, LPCWSTR valueName, DWORD* value);

// Values of the driver-data key besides the 26 settings of the table.
inline constexpr LPCWSTR kCfgFlagsValueName = LM_W("dwCfgFlags");
inline constexpr LPCWSTR kTimeOutValueName = LM_W("dwTimeOut");
// Also the TestPage row of the table; read on its own for "PrintTestPage".
inline constexpr LPCWSTR kTestPageValueName = LM_W("dwTestPage");

// ---- the three operations ---------------------------------------------------

// Fills the record from a printer that answers (DMINFO queries in step order).
void GetConfigFromPrinter(PortEntry* entry, ConfigRecord* record);
// Fills the record from the stored settings, or from the built-in defaults.
void GetConfigFromRegistry(PortEntry* entry, ConfigRecord* record);
// Sends the stored settings that "dwCfgFlags" selects as one block of set
// lines; TRUE when a non-empty block was written whole.
BOOL SendConfigToPrinter(PortEntry* entry);

// Size of the set block.
constexpr std::size_t kSetBlockSize = 5120;

}  // namespace langmon

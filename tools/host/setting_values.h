// What each setting accepts from a person who sets it by hand, read off the
// monitor's settings table and its value maps (config/settings.h) rather than
// written down a second time.
//
// A setting without a presence bit is never sent. A setting whose maps leave
// every value as it is takes any 32-bit number. Otherwise the maps are tried
// on the driver values 0 to kProbedValues - 1, which hold every code they
// list:
//   - a map that leaves most values unchanged lists codes: the setting takes
//     the values it translates and that read back as themselves (Density
//     4 to 8, PaperSize 41 to 55, the fuser temperatures 59 to 61);
//   - a map that rewrites most values takes those that read back as
//     themselves after going to the printer and back (SaverMode 1 and 2,
//     Resolution 9 to 11), or any number when all of them do (Lang).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/settings.h"

namespace langmon::host {

constexpr DWORD kProbedValues = 4096;

struct ValueRange {
  DWORD first;
  DWORD last;
};

struct AcceptedValues {
  bool sendable = false;           // false: no presence bit, never sent
  std::vector<ValueRange> ranges;  // ascending; empty when not sendable
};

AcceptedValues AcceptedBy(const Setting& setting);
bool Accepts(const Setting& setting, DWORD value);
// "4 to 8", "1, 2", "39, 40", "0 to 4294967295"; for a setting that is never
// sent, why not.
std::string DescribeAccepted(const Setting& setting);

// The setting named by its field name ("Copies") or its registry value
// ("dwCopies"), in any letter case; null when none is.
const Setting* FindSetting(std::string_view name);

// A value as a person writes it: decimal, or hexadecimal after "0x", 0 to
// 4294967295.
std::optional<DWORD> ParseSettingValue(std::string_view text);

// What the driver reads back from a printer that took the stored value:
// the value sent (ToPrinter) and answered again (ToDriver).
DWORD ReadBackValue(const Setting& setting, DWORD stored);

}  // namespace langmon::host

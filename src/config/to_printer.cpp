// The stored settings that "dwCfgFlags" selects, sent to the printer as one
// block of DMCMD set lines in the send order.
#include <cstring>

#include "config/config.h"
#include "pjl/pjl.h"
#include "port/port_ops.h"

namespace langmon {

namespace {

// A set line carrying a number is at most 40 characters plus its object
// identifier; the longest identifier in the table has 16 digits.
constexpr std::size_t kMaxSetLineLength = 40 + 16;
static_assert(kSendOrderCount * kMaxSetLineLength + 1 <= kSetBlockSize,
              "every line that can be sent fits the set block");

}  // namespace

BOOL SendConfigToPrinter(PortEntry* entry) {
  HKEY key = nullptr;
  if (!OpenDriverDataKey(entry, &key)) return FALSE;
  DWORD cfgFlags = 0;
  if (!ReadDriverDword(key, kCfgFlagsValueName, &cfgFlags)) cfgFlags = 0;

  BOOL result = FALSE;
  if (cfgFlags != 0) {
    char block[kSetBlockSize];
    block[0] = '\0';
    for (DWORD position : kSendOrder) {
      const Setting& setting = SettingAt(position);
      if ((cfgFlags & setting.PresenceBit) == 0) continue;
      DWORD stored = 0;
      if (!ReadDriverDword(key, setting.ValueName, &stored)) continue;
      const DWORD value = setting.ToPrinter(stored);
      AppendSetLine(block, setting.ObjectId, SendTypeFor(setting, value), PjlValue{value, nullptr});
    }
    const DWORD length = static_cast<DWORD>(std::strlen(block));
    if (length != 0) result = WriteWhole(entry, block, length, WriteCheck::CountOnly);
  }
  RegCloseKey(key);
  return result;
}

}  // namespace langmon

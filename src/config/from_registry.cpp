// The configuration as the driver stored it, or the built-in defaults when
// it stored none. Registry values are already in the driver's encoding.
#include "config/config.h"

namespace langmon {

namespace {

void FillDefaults(ConfigRecord* record) {
  record->CfgFlags = kStoredConfigMask;
  for (const Setting& setting : kSettings) record->*setting.Field = setting.Default;
}

}  // namespace

void GetConfigFromRegistry(PortEntry* entry, ConfigRecord* record) {
  HKEY key = nullptr;
  if (!OpenDriverDataKey(entry, &key)) {
    FillDefaults(record);
    return;
  }
  DWORD cfgFlags = 0;
  if (!ReadDriverDword(key, kCfgFlagsValueName, &cfgFlags)) cfgFlags = 0;
  if (cfgFlags == 0) {
    RegCloseKey(key);
    FillDefaults(record);
    return;
  }
  // A stored configuration: every setting is read, whatever bits are set.
  record->CfgFlags = kStoredConfigMask;
  for (DWORD position : kRegistryReadOrder) {
    const Setting& setting = SettingAt(position);
    DWORD value = 0;
    record->*setting.Field =
        ReadDriverDword(key, setting.ValueName, &value) ? value : setting.Fallback;
  }
  RegCloseKey(key);
}

}  // namespace langmon

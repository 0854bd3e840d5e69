#include "config_report.h"

#include <fmt/format.h>

#include <bit>

#include "config/config.h"
#include "text_encoding.h"

namespace langmon::host {

bool HasStoredSettings(const std::u16string& printer) {
  WCHAR path[kKeyPathCapacity];
  if (!BuildDriverDataKeyPath(printer.c_str(), path, kKeyPathCapacity)) return false;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  DWORD flags = 0;
  const bool stored = ReadDriverDword(key, kCfgFlagsValueName, &flags) && flags != 0;
  RegCloseKey(key);
  return stored;
}

ConfigSource ClassifyRecord(const ConfigRecord& record, bool storedSettings) {
  if ((record.CfgFlags & kNotFromPrinterBits) == 0) return ConfigSource::Printer;
  return storedSettings ? ConfigSource::StoredSettings : ConfigSource::Defaults;
}

const char* SourceName(ConfigSource source) {
  switch (source) {
    case ConfigSource::Printer:
      return "printer";
    case ConfigSource::StoredSettings:
      return "stored-settings";
    case ConfigSource::Defaults:
      return "defaults";
  }
  return "?";
}

DWORD RecordValue(const ConfigRecord& record, DWORD position) {
  return record.*(SettingAt(position).Field);
}

namespace {

// Every presence bit that names a setting.
DWORD SettingBits() {
  DWORD bits = 0;
  for (const Setting& s : kSettings) bits |= s.PresenceBit;
  return bits;
}

std::string SourceLine(const ConfigRecord& record, ConfigSource source) {
  switch (source) {
    case ConfigSource::Printer:
      return fmt::format("the printer ({} of {} settings with a presence bit answered)",
                         std::popcount(record.CfgFlags & SettingBits()),
                         std::popcount(SettingBits()));
    case ConfigSource::StoredSettings:
      return "stored settings (the printer did not answer; values from its PrinterDriverData "
             "key)";
    case ConfigSource::Defaults:
      return "built-in defaults (the printer did not answer and no settings are stored)";
  }
  return "?";
}

}  // namespace

std::string FormatConfigTable(const ConfigRecord& record, ConfigSource source,
                              const ConfigContext& context) {
  std::string out = fmt::format("Configuration of printer \"{}\" on port {} ({})\n",
                                context.printer, context.port, context.device);
  out += fmt::format("Source:   {}\n", SourceLine(record, source));
  out += fmt::format("CfgFlags: 0x{:08X}\n\n", record.CfgFlags);
  out += fmt::format("{:>3}  {:<15} {:<18} {:>10}  {:<8}  {}\n", "#", "Setting", "Registry value",
                     "Value", "Bit", "Present");
  for (const Setting& s : kSettings) {
    const std::string registryName = Utf16ToUtf8(s.ValueName);
    const bool hasBit = s.PresenceBit != kNoPresenceBit;
    out += fmt::format("{:>3}  {:<15} {:<18} {:>10}  {:<8}  {}\n", s.Position, s.FieldName,
                       registryName, RecordValue(record, s.Position),
                       hasBit ? fmt::format("0x{:06X}", s.PresenceBit) : "-",
                       hasBit ? ((record.CfgFlags & s.PresenceBit) ? "yes" : "no") : "-");
  }
  return out;
}

nlohmann::ordered_json ConfigJson(const ConfigRecord& record, ConfigSource source,
                                  const ConfigContext& context) {
  nlohmann::ordered_json out;
  out["printer"] = context.printer;
  out["port"] = context.port;
  out["device"] = context.device;
  out["source"] = SourceName(source);
  out["cfgFlags"] = record.CfgFlags;
  out["cfgFlagsHex"] = fmt::format("0x{:08X}", record.CfgFlags);
  nlohmann::ordered_json settings = nlohmann::ordered_json::array();
  for (const Setting& s : kSettings) {
    nlohmann::ordered_json row;
    const bool hasBit = s.PresenceBit != kNoPresenceBit;
    row["position"] = s.Position;
    row["name"] = s.FieldName;
    row["registryValue"] = Utf16ToUtf8(s.ValueName);
    row["value"] = RecordValue(record, s.Position);
    row["bit"] = hasBit ? nlohmann::ordered_json(s.PresenceBit) : nlohmann::ordered_json();
    row["present"] = hasBit ? nlohmann::ordered_json((record.CfgFlags & s.PresenceBit) != 0)
                            : nlohmann::ordered_json();
    settings.push_back(std::move(row));
  }
  out["settings"] = std::move(settings);
  return out;
}

}  // namespace langmon::host

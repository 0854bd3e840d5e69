#include "config_report.h"

#include <fmt/format.h>

#include "config/config.h"
#include "text_encoding.h"

namespace langmon::host {

std::optional<DWORD> StoredValue(const std::u16string& printer, LPCWSTR valueName) {
  WCHAR path[kKeyPathCapacity];
  if (!BuildDriverDataKeyPath(printer.c_str(), path, kKeyPathCapacity)) return std::nullopt;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
    return std::nullopt;
  DWORD value = 0;
  const bool read = ReadDriverDword(key, valueName, &value);
  RegCloseKey(key);
  return read ? std::optional<DWORD>(value) : std::nullopt;
}

bool HasStoredSettings(const std::u16string& printer) {
  return StoredValue(printer, kCfgFlagsValueName).value_or(0) != 0;
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

bool HasBit(const Setting& s) { return s.PresenceBit != kNoPresenceBit; }

// The read step that asks a setting, or null when no step does.
const ReadStep* StepFor(const Setting& setting) {
  for (const ReadStep& step : kPrinterReadSteps)
    if (step.Position == setting.Position) return &step;
  return nullptr;
}

bool StepAnswered(const ConfigRecord& record, const ReadStep& step) {
  const Setting& s = SettingAt(step.Position);
  if (HasBit(s)) return (record.CfgFlags & s.PresenceBit) != 0;
  return RecordValue(record, s.Position) != 0;
}

// Whether the monitor's walk over the read steps asked the step, judged
// from the record it produced.
bool StepAsked(const ConfigRecord& record, const ReadStep& step) {
  if (step.Parent == kUnconditional) return true;
  const ReadStep& parent = kPrinterReadSteps[step.Parent];
  if (!StepAsked(record, parent) || !StepAnswered(record, parent)) return false;
  return !step.Gated || RecordValue(record, parent.Position) != step.SkipWhen;
}

}  // namespace

Answer AnswerOf(const ConfigRecord& record, ConfigSource source, const Setting& setting) {
  const ReadStep* step = StepFor(setting);
  if (step == nullptr) return Answer::NotAsked;
  if (source != ConfigSource::Printer) return Answer::NotAnswered;
  if (!StepAsked(record, *step)) return Answer::NotAsked;
  if (StepAnswered(record, *step)) return Answer::Answered;
  if (HasBit(setting) || setting.ToDriver(0) != 0) return Answer::NotAnswered;
  return Answer::Unknown;
}

std::optional<DWORD> GivenValue(const ConfigRecord& record, ConfigSource source,
                                const Setting& setting) {
  const Answer a = AnswerOf(record, source, setting);
  if (source == ConfigSource::Printer && (a == Answer::NotAnswered || a == Answer::NotAsked))
    return std::nullopt;
  return RecordValue(record, setting.Position);
}

std::vector<const Setting*> Unanswered(const ConfigRecord& record, ConfigSource source) {
  std::vector<const Setting*> missing;
  for (const Setting& s : kSettings)
    if (HasBit(s) && AnswerOf(record, source, s) == Answer::NotAnswered) missing.push_back(&s);
  return missing;
}

bool IsCompleteRead(const ConfigRecord& record, ConfigSource source) {
  return source == ConfigSource::Printer && Unanswered(record, source).empty();
}

namespace {

std::string SourceLine(const ConfigRecord& record, ConfigSource source) {
  switch (source) {
    case ConfigSource::Printer: {
      int withBit = 0, answered = 0, notAsked = 0;
      for (const Setting& s : kSettings) {
        if (!HasBit(s)) continue;
        ++withBit;
        const Answer a = AnswerOf(record, source, s);
        answered += a == Answer::Answered;
        notAsked += a == Answer::NotAsked;
      }
      const int notAnswered = withBit - answered - notAsked;
      std::string line = fmt::format("the printer ({} of {} settings with a presence bit answered",
                                     answered, withBit);
      if (notAnswered) line += fmt::format(", {} not answered", notAnswered);
      if (notAsked) line += fmt::format(", {} not asked", notAsked);
      return line + ")";
    }
    case ConfigSource::StoredSettings:
      return "stored settings (the printer did not answer; values from its PrinterDriverData "
             "key)";
    case ConfigSource::Defaults:
      return "built-in defaults (the printer did not answer and no settings are stored)";
  }
  return "?";
}

const char* AnswerWord(Answer answer) {
  switch (answer) {
    case Answer::Answered:
      return "yes";
    case Answer::NotAnswered:
      return "no";
    case Answer::NotAsked:
      return "not asked";
    case Answer::Unknown:
      return "unknown";
  }
  return "?";
}

// The value as the table shows it: a printer record's value that the
// printer did not give is "-", not the 0 the monitor left there.
std::string ShownValue(const ConfigRecord& record, ConfigSource source, const Setting& s) {
  const std::optional<DWORD> value = GivenValue(record, source, s);
  return value ? fmt::format("{}", *value) : "-";
}

}  // namespace

std::string FormatConfigTable(const ConfigRecord& record, ConfigSource source,
                              const ConfigContext& context) {
  std::string out = fmt::format("Configuration of printer \"{}\" on port {} ({})\n",
                                context.printer, context.port, context.device);
  out += fmt::format("Source:   {}\n", SourceLine(record, source));
  out += fmt::format("CfgFlags: 0x{:08X}\n\n", record.CfgFlags);
  out += fmt::format("{:>3}  {:<15} {:<18} {:>10}  {:<8}  {}\n", "#", "Setting", "Registry value",
                     "Value", "Bit", "Answered");
  for (const Setting& s : kSettings) {
    out += fmt::format("{:>3}  {:<15} {:<18} {:>10}  {:<8}  {}\n", s.Position, s.FieldName,
                       Utf16ToUtf8(s.ValueName), ShownValue(record, source, s),
                       HasBit(s) ? fmt::format("0x{:06X}", s.PresenceBit) : "-",
                       AnswerWord(AnswerOf(record, source, s)));
  }
  return out;
}

nlohmann::ordered_json ConfigJson(const ConfigRecord& record, ConfigSource source,
                                  const ConfigContext& context) {
  using Json = nlohmann::ordered_json;
  Json out;
  out["printer"] = context.printer;
  out["port"] = context.port;
  out["device"] = context.device;
  out["source"] = SourceName(source);
  out["complete"] = IsCompleteRead(record, source);
  out["cfgFlags"] = record.CfgFlags;
  out["cfgFlagsHex"] = fmt::format("0x{:08X}", record.CfgFlags);
  Json settings = Json::array();
  for (const Setting& s : kSettings) {
    const Answer a = AnswerOf(record, source, s);
    Json row;
    row["position"] = s.Position;
    row["name"] = s.FieldName;
    row["registryValue"] = Utf16ToUtf8(s.ValueName);
    const std::optional<DWORD> given = GivenValue(record, source, s);
    row["value"] = given ? Json(*given) : Json();
    row["driverValue"] = RecordValue(record, s.Position);
    row["bit"] = HasBit(s) ? Json(s.PresenceBit) : Json();
    row["present"] = HasBit(s) ? Json((record.CfgFlags & s.PresenceBit) != 0) : Json();
    row["answered"] = a == Answer::Answered      ? Json(true)
                      : a == Answer::NotAnswered ? Json(false)
                                                 : Json();
    settings.push_back(std::move(row));
  }
  out["settings"] = std::move(settings);
  return out;
}

}  // namespace langmon::host

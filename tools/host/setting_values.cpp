#include "setting_values.h"

#include <fmt/format.h>

#include <charconv>
#include <limits>

#include "ascii.h"
#include "text_encoding.h"

namespace langmon::host {

namespace {

bool RoundTrips(const Setting& s, DWORD value) { return ReadBackValue(s, value) == value; }

// The probed values a setting takes, as ranges.
std::vector<ValueRange> ProbedRanges(const Setting& s, bool translatedOnly) {
  std::vector<ValueRange> ranges;
  for (DWORD v = 0; v < kProbedValues; ++v) {
    if (translatedOnly && s.ToPrinter(v) == v) continue;
    if (!RoundTrips(s, v)) continue;
    if (!ranges.empty() && ranges.back().last + 1 == v)
      ranges.back().last = v;
    else
      ranges.push_back({v, v});
  }
  return ranges;
}

constexpr ValueRange kEveryNumber{0, std::numeric_limits<DWORD>::max()};

}  // namespace

DWORD ReadBackValue(const Setting& setting, DWORD stored) {
  if (setting.ToPrinter == nullptr || setting.ToDriver == nullptr) return stored;
  return setting.ToDriver(setting.ToPrinter(stored));
}

AcceptedValues AcceptedBy(const Setting& s) {
  AcceptedValues accepted;
  if (s.PresenceBit == kNoPresenceBit || s.ToPrinter == nullptr) return accepted;
  accepted.sendable = true;
  DWORD changed = 0;
  for (DWORD v = 0; v < kProbedValues; ++v) changed += s.ToPrinter(v) != v;
  if (changed == 0) {
    accepted.ranges = {kEveryNumber};
    return accepted;
  }
  const bool listsCodes = changed < kProbedValues / 2;
  accepted.ranges = ProbedRanges(s, listsCodes);
  if (!listsCodes && accepted.ranges.size() == 1 && accepted.ranges[0].first == 0 &&
      accepted.ranges[0].last == kProbedValues - 1)
    accepted.ranges = {kEveryNumber};
  return accepted;
}

bool Accepts(const Setting& setting, DWORD value) {
  for (const ValueRange& r : AcceptedBy(setting).ranges)
    if (value >= r.first && value <= r.last) return true;
  return false;
}

std::string DescribeAccepted(const Setting& setting) {
  const AcceptedValues accepted = AcceptedBy(setting);
  if (!accepted.sendable)
    return setting.ObjectId ? "not sent: read from the printer only"
                            : "not sent: the page langmon testpage asks for";
  std::string text;
  for (const ValueRange& r : accepted.ranges) {
    if (!text.empty()) text += ", ";
    if (r.first == r.last)
      text += fmt::format("{}", r.first);
    else if (r.last == r.first + 1)
      text += fmt::format("{}, {}", r.first, r.last);
    else
      text += fmt::format("{} to {}", r.first, r.last);
  }
  return text;
}

const Setting* FindSetting(std::string_view name) {
  for (const Setting& s : kSettings)
    if (sim::EqualNoCase(name, s.FieldName) || sim::EqualNoCase(name, Utf16ToUtf8(s.ValueName)))
      return &s;
  return nullptr;
}

std::optional<DWORD> ParseSettingValue(std::string_view text) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  if (text.empty()) return std::nullopt;
  DWORD value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace langmon::host

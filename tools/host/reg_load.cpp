#include <algorithm>
#include <iterator>
#include <utility>

#include "ascii.h"
#include "config/config.h"
#include "plumbing.h"
#include "reg_file.h"
#include "text_encoding.h"

namespace langmon::host {

using sim::EqualNoCase;

std::u16string DriverDataKeyPath(const std::u16string& printer) {
  WCHAR path[kKeyPathCapacity];
  if (!BuildDriverDataKeyPath(printer.c_str(), path, kKeyPathCapacity)) return {};
  return path;
}

std::string PrinterNameProblem(std::string_view printer) {
  if (printer.empty()) return "the printer name is empty";
  const std::size_t length = Utf8ToUtf16(printer).size();
  if (length <= kMaxPrinterNameLength) return {};
  return "the printer name " + QuoteShortened(printer) + " is longer than the " +
         std::to_string(kMaxPrinterNameLength) + " characters the driver-data key path can hold";
}

bool CreateDriverDataKey(const std::u16string& printer, HKEY& key, std::string& error) {
  key = nullptr;
  const std::u16string path = DriverDataKeyPath(printer);
  if (path.empty()) {
    error = PrinterNameProblem(Utf16ToUtf8(printer));
    return false;
  }
  const LONG rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr,
                                  REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key, nullptr);
  if (rc != ERROR_SUCCESS) {
    key = nullptr;
    error = "cannot create the printer's registry key (" +
            ports::Win32ErrorText(static_cast<DWORD>(rc)) + ")";
    return false;
  }
  return true;
}

namespace {

// What the file leaves out of `wanted`'s settings, in line order: its own
// left-out content of that printer and of other keys, and the driver-data
// keys of other printers (whose values are never listed one by one).
std::vector<LeftOut> LeftOutFor(const RegFile& file, const std::string& wanted) {
  std::vector<LeftOut> own, otherPrinters;
  for (const LeftOut& item : file.leftOut)
    if (item.printer.empty() || EqualNoCase(item.printer, wanted)) own.push_back(item);
  for (const RegKeyLine& key : file.printerKeys)
    if (!EqualNoCase(key.printer, wanted))
      otherPrinters.push_back(
          {key.line, LeftOutKind::OtherPrinter, key.printer,
           "settings for printer " + QuoteShortened(key.printer) + " left out"});
  std::vector<LeftOut> merged;
  merged.reserve(own.size() + otherPrinters.size());
  std::merge(own.begin(), own.end(), otherPrinters.begin(), otherPrinters.end(),
             std::back_inserter(merged),
             [](const LeftOut& a, const LeftOut& b) { return a.line < b.line; });
  return merged;
}

}  // namespace

int LoadPrinterSettings(const RegFile& file, const std::u16string& printer,
                        std::vector<LeftOut>& leftOut, std::string& error,
                        const std::string& from) {
  const std::string wanted = from.empty() ? Utf16ToUtf8(printer) : from;
  leftOut = LeftOutFor(file, wanted);
  HKEY key = nullptr;
  int written = 0;
  for (const RegDword& v : file.values) {
    if (!EqualNoCase(v.printer, wanted)) continue;
    if (!key && !CreateDriverDataKey(printer, key, error)) return -1;
    const std::u16string name = Utf8ToUtf16(v.name);
    const DWORD data = v.value;
    const LONG rc = RegSetValueExW(key, name.c_str(), 0, REG_DWORD,
                                   reinterpret_cast<const BYTE*>(&data), sizeof data);
    if (rc != ERROR_SUCCESS) {
      RegCloseKey(key);
      error = "cannot store " + QuoteShortened(v.name) + " (" +
              ports::Win32ErrorText(static_cast<DWORD>(rc)) + ")";
      return -1;
    }
    ++written;
  }
  if (key) RegCloseKey(key);
  return written;
}

std::string LeftOutSummary(const std::vector<LeftOut>& leftOut, std::string_view otherPrinters) {
  // One phrase per kind, in the order of LeftOutKind: for one, for several.
  static constexpr std::pair<std::string_view, std::string_view> kPhrases[] = {
      {"key of another printer", "keys of other printers"},
      {"other key", "other keys"},
      {"value that is not a dword", "values that are not dwords"},
      {"dword of the wrong length", "dwords of the wrong length"},
      {"unnamed value", "unnamed values"},
      {"dword replaced by a later line", "dwords replaced by later lines"},
  };
  std::size_t counts[std::size(kPhrases)] = {};
  for (const LeftOut& item : leftOut) ++counts[static_cast<std::size_t>(item.kind)];
  std::string summary;
  for (std::size_t kind = 0; kind < std::size(kPhrases); ++kind) {
    if (counts[kind] == 0) continue;
    summary += (summary.empty() ? "left out " : ", ") + std::to_string(counts[kind]) + " " +
               std::string(counts[kind] == 1 ? kPhrases[kind].first : kPhrases[kind].second);
    if (static_cast<LeftOutKind>(kind) == LeftOutKind::OtherPrinter) summary += otherPrinters;
  }
  return summary;
}

}  // namespace langmon::host

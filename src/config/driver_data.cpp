// The printer's driver-data key: where the driver keeps its stored settings.
// The monitor only ever reads it.
#include "config/config.h"

namespace langmon {

namespace {

constexpr std::size_t kPrefixLength = sizeof kDriverDataKeyPrefix / sizeof(WCHAR) - 1;
constexpr std::size_t kSuffixLength = sizeof kDriverDataKeySuffix / sizeof(WCHAR) - 1;
static_assert(kPrefixLength + kSuffixLength + kMaxPrinterNameLength + 1 == kKeyPathCapacity);

std::size_t WideLength(LPCWSTR text) {
  std::size_t n = 0;
  while (text[n]) ++n;
  return n;
}

void AppendWide(WCHAR* path, std::size_t* used, const WCHAR* text, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) path[*used + i] = text[i];
  *used += length;
}

}  // namespace

BOOL BuildDriverDataKeyPath(LPCWSTR printerName, WCHAR* path, std::size_t capacity) {
  if (capacity == 0) return FALSE;
  path[0] = 0;
  if (!printerName) return FALSE;
  // An empty name would name the Printers key's own parent path with an
  // empty component; it is no printer's key.
  const std::size_t nameLength = WideLength(printerName);
  if (nameLength == 0) return FALSE;
  if (kPrefixLength + nameLength + kSuffixLength + 1 > capacity) return FALSE;
  std::size_t used = 0;
  AppendWide(path, &used, kDriverDataKeyPrefix, kPrefixLength);
  AppendWide(path, &used, printerName, nameLength);
  AppendWide(path, &used, kDriverDataKeySuffix, kSuffixLength);
  path[used] = 0;
  return TRUE;
}

BOOL OpenDriverDataKey(const PortEntry* entry, HKEY* key) {
  *key = nullptr;
  // StartDocPort may replace the entry's printer name on another thread;
  // work on a copy taken under the monitor lock. A name that does not fit
  // the copy cannot fit the key path either.
  WCHAR printerName[kMaxPrinterNameLength + 1];
  if (!CopyPrinterName(entry, printerName, kMaxPrinterNameLength + 1)) return FALSE;
  WCHAR path[kKeyPathCapacity];
  if (!BuildDriverDataKeyPath(printerName, path, kKeyPathCapacity)) return FALSE;
  HKEY opened = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &opened) != ERROR_SUCCESS) return FALSE;
  *key = opened;
  return TRUE;
}

BOOL ReadDriverDword(HKEY key, LPCWSTR valueName, DWORD* value) {
  DWORD type = REG_NONE;
  BYTE data[sizeof(DWORD)] = {};
  DWORD size = sizeof data;
  if (RegQueryValueExW(key, valueName, nullptr, &type, data, &size) != ERROR_SUCCESS) return FALSE;
  if (type != REG_DWORD || size != sizeof data) return FALSE;
  *value = static_cast<DWORD>(data[0]) | static_cast<DWORD>(data[1]) << 8 |
           static_cast<DWORD>(data[2]) << 16 | static_cast<DWORD>(data[3]) << 24;
  return TRUE;
}

}  // namespace langmon

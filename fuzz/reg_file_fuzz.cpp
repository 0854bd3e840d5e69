// Arbitrary bytes through the host's .reg reader, and what it accepts into
// the registry.
//
// The input is the file's raw bytes (any encoding: the reader detects
// UTF-16LE, UTF-8 and 8-bit text itself). Besides the sanitizers:
//   - a refused file leaves the result untouched and names a line (1 or
//     more) and a reason;
//   - an accepted file holds only values of named printers, no two for the
//     same printer and value name, and it reads back the same when written
//     out again as a plain UTF-8 export (printer, name and value of every
//     setting, in order);
//   - loading the first printer's settings into the registry stores exactly
//     that printer's values, which then read back as REG_DWORDs, and lists
//     what it left out in line order.
// The printers' keys are deleted again after every input.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "ascii.h"
#include "platform/platform_testing.h"
#include "reg_file.h"
#include "text_encoding.h"

namespace {

using langmon::host::RegDword;
using langmon::host::RegFile;
using langmon::host::RegFileError;

void Check(bool condition) {
  if (!condition) std::abort();
}

std::string Quote(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string Export(const RegFile& file) {
  static const char kHex[] = "0123456789abcdef";
  std::string text = "Windows Registry Editor Version 5.00\r\n";
  for (const RegDword& v : file.values) {
    text += "\r\n[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Print\\Printers\\" +
            v.printer + "\\PrinterDriverData]\r\n";
    std::string digits(8, '0');
    for (int i = 7, value = 0; i >= 0; --i, ++value)
      digits[i] = kHex[(v.value >> (4 * value)) & 0xF];
    text += Quote(v.name) + "=dword:" + digits + "\r\n";
  }
  return text;
}

const char16_t kPrintersKey[] = u"System\\CurrentControlSet\\Control\\Print\\Printers";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  RegFile file;
  file.leftOut.push_back({1, langmon::host::LeftOutKind::OtherKey, {}, "untouched"});
  RegFileError error;
  if (!langmon::host::ParseRegFile(bytes, file, error)) {
    Check(error.line >= 1);
    Check(!error.reason.empty());
    Check(file.values.empty() && file.leftOut.size() == 1 &&
          file.leftOut[0].message == "untouched");
    return 0;
  }

  for (std::size_t i = 0; i < file.values.size(); ++i) {
    Check(!file.values[i].printer.empty());
    Check(file.values[i].line >= 1);
    for (std::size_t j = 0; j < i; ++j)
      Check(!(langmon::sim::EqualNoCase(file.values[i].printer, file.values[j].printer) &&
              langmon::sim::EqualNoCase(file.values[i].name, file.values[j].name)));
  }

  // Written out and read again, the settings are the same. (Printer names
  // that hold a line break or "]" at the end of the key line cannot be
  // written back into a key line; such files are not re-read.)
  bool exportable = true;
  for (const RegDword& v : file.values)
    if (v.printer.find_first_of("\r\n") != std::string::npos ||
        v.name.find_first_of("\r\n") != std::string::npos)
      exportable = false;
  if (exportable) {
    RegFile again;
    RegFileError againError;
    Check(langmon::host::ParseRegFile(Export(file), again, againError));
    Check(again.values.size() == file.values.size());
    for (std::size_t i = 0; i < file.values.size(); ++i) {
      Check(again.values[i].printer == file.values[i].printer);
      Check(again.values[i].name == file.values[i].name);
      Check(again.values[i].value == file.values[i].value);
    }
  }

  if (!file.values.empty()) {
    const std::u16string printer = langmon::host::Utf8ToUtf16(file.values[0].printer);
    std::vector<langmon::host::LeftOut> leftOut;
    std::string loadError;
    const int written = langmon::host::LoadPrinterSettings(file, printer, leftOut, loadError);
    for (std::size_t i = 0; i < leftOut.size(); ++i)
      Check(leftOut[i].line >= 1 && !leftOut[i].message.empty() &&
            (i == 0 || leftOut[i - 1].line <= leftOut[i].line));
    if (written >= 0) {
      std::size_t expected = 0;
      for (const RegDword& v : file.values)
        if (langmon::sim::EqualNoCase(v.printer, file.values[0].printer)) ++expected;
      Check(static_cast<std::size_t>(written) == expected);
      HKEY key = nullptr;
      const std::u16string path = langmon::host::DriverDataKeyPath(printer);
      Check(RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS);
      const std::u16string name = langmon::host::Utf8ToUtf16(file.values[0].name);
      DWORD type = 0, value = 0, cb = sizeof value;
      Check(RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<LPBYTE>(&value),
                             &cb) == ERROR_SUCCESS);
      Check(type == REG_DWORD && cb == 4);
      RegCloseKey(key);
    } else {
      Check(!loadError.empty());
    }
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kPrintersKey);
  }
  Check(LmOpenRegistryKeyCount() == 0);
  return 0;
}

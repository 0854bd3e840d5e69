#include "reg_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/config.h"
#include "platform/platform_testing.h"
#include "text_encoding.h"

namespace langmon::host {
namespace {

const std::string kKey =
    "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Print\\Printers\\Laser\\"
    "PrinterDriverData]";

// The text as regedit's Unicode export writes it: UTF-16LE behind a BOM, CR LF.
std::string Utf16Le(const std::string& ascii) {
  std::string out = "\xFF\xFE";
  for (char c : ascii) {
    if (c == '\n') out += std::string("\r\0", 2);
    out += c;
    out += '\0';
  }
  return out;
}

RegFile Parse(const std::string& bytes) {
  RegFile file;
  RegFileError error;
  EXPECT_TRUE(ParseRegFile(bytes, file, error)) << "line " << error.line << ": " << error.reason;
  return file;
}

struct Expected {
  std::string name;
  DWORD value;
};

void ExpectValues(const RegFile& file, const std::vector<Expected>& expected) {
  ASSERT_EQ(file.values.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(file.values[i].printer, "Laser");
    EXPECT_EQ(file.values[i].name, expected[i].name);
    EXPECT_EQ(file.values[i].value, expected[i].value) << expected[i].name;
  }
}

TEST(RegFile, ReadsBothHeadersInEveryEncoding) {
  const std::string body = "\n" + kKey +
                           "\n\"dwCfgFlags\"=dword:00dbffff\n\"dwCopies\"=dword:00000002\n"
                           "\"dwPaperSize\"=dword:2A\n";
  const std::string v5 = "Windows Registry Editor Version 5.00\n" + body;
  const std::string v4 = "REGEDIT4\n" + body;
  const std::vector<std::pair<std::string, std::string>> files = {
      {"REGEDIT4, 8-bit, LF", v4},
      {"REGEDIT4, CR LF",
       [&] {
         std::string s;
         for (char c : v4) s += c == '\n' ? std::string("\r\n") : std::string(1, c);
         return s;
       }()},
      {"version 5, UTF-16LE with BOM", Utf16Le(v5)},
      {"version 5, UTF-8 with BOM", "\xEF\xBB\xBF" + v5},
      {"version 5, UTF-8", v5},
      {"version 5, UTF-16LE without BOM", Utf16Le(v5).substr(2)},
  };
  for (const auto& [what, bytes] : files) {
    SCOPED_TRACE(what);
    ExpectValues(Parse(bytes),
                 {{"dwCfgFlags", 0x00DBFFFF}, {"dwCopies", 2}, {"dwPaperSize", 0x2A}});
  }
}

TEST(RegFile, LaterLinesReplaceAndDeletionsRemove) {
  const RegFile file = Parse("REGEDIT4\n" + kKey +
                             "\n"
                             "\"dwCopies\"=dword:1\n"
                             "\"dwDensity\"=dword:5\n"
                             "\"DWCOPIES\"=dword:4\n"  // value names ignore letter case
                             "\"dwDensity\"=-\n"
                             "; a comment\n"
                             "\"dwWideA4\"=hex(4):01,00,00,00\n"  // a REG_DWORD written as bytes
                             "\"dwLang\"=dword:FFFFFFFF\n");
  ExpectValues(file, {{"dwCopies", 4}, {"dwWideA4", 1}, {"dwLang", 0xFFFFFFFF}});
  EXPECT_EQ(file.values[0].line, 5);
}

TEST(RegFile, KeyDeletionDropsThePrintersValuesSoFar) {
  const std::string deleteKey = "[-" + kKey.substr(1);
  const RegFile file = Parse("REGEDIT4\n" + kKey + "\n\"dwCopies\"=dword:1\n" + deleteKey + "\n" +
                             kKey + "\n\"dwDensity\"=dword:7\n");
  ExpectValues(file, {{"dwDensity", 7}});
}

TEST(RegFile, OtherKeysAndValueTypesAreLeftOutWithWarnings) {
  const RegFile file = Parse(
      "Windows Registry Editor Version 5.00\n"
      "[HKEY_CURRENT_USER\\Software\\Other]\n"
      "\"dwCopies\"=dword:00000009\n"
      "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Print\\Printers\\Laser]\n"
      "\"Name\"=\"Laser\"\n" +
      kKey +
      "\n"
      "\"dwCopies\"=dword:00000002\n"
      "\"Comment\"=\"a \\\"quoted\\\" string\"\n"
      "@=dword:00000001\n"
      "\"dwBlob\"=hex:01,02,\\\n"
      "  03,04\n"
      "\"dwShort\"=hex(4):01,00\n");
  ExpectValues(file, {{"dwCopies", 2}});
  ASSERT_EQ(file.warnings.size(), 6u);
  EXPECT_EQ(file.warnings[0].rfind("line 2: ", 0), 0u) << file.warnings[0];
  EXPECT_EQ(file.warnings[1].rfind("line 4: ", 0), 0u) << file.warnings[1];
  EXPECT_NE(file.warnings[2].find("\"Comment\" is a string value"), std::string::npos);
  EXPECT_NE(file.warnings[3].find("unnamed"), std::string::npos);
  EXPECT_NE(file.warnings[4].find("\"dwBlob\" is a hex value"), std::string::npos);
  EXPECT_NE(file.warnings[5].find("line 12: \"dwShort\" is a hex(4) value"), std::string::npos);
}

struct Malformed {
  const char* what;
  std::string text;
  int line;
  const char* reason;
};

TEST(RegFile, MalformedFilesAreRefusedWithLineAndReason) {
  const std::string v5 = "Windows Registry Editor Version 5.00\n";
  const std::vector<Malformed> cases = {
      {"empty", "", 1, "empty file"},
      {"no header", kKey + "\n", 1, "not a registry export"},
      {"wrong header", "\nREGEDIT5\n", 2, "not a registry export"},
      {"value before key", v5 + "\"dwCopies\"=dword:1\n", 2, "before any [key]"},
      {"unclosed key", v5 + "[HKEY_LOCAL_MACHINE\\System\n", 2, "does not end with ']'"},
      {"empty key", v5 + "[]\n", 2, "empty key name"},
      {"unknown root", v5 + "[HKEY_NOWHERE\\X]\n", 2, "unknown root key"},
      {"unclosed name", v5 + kKey + "\n\"dwCopies=dword:1\n", 3, "no closing quote"},
      {"no equals", v5 + kKey + "\n\"dwCopies\" dword:1\n", 3, "expected '='"},
      {"bare name", v5 + kKey + "\ndwCopies=dword:1\n", 3, "quoted value name"},
      {"nine digits", v5 + kKey + "\n\"dwCopies\"=dword:000000001\n", 3, "1 to 8 hexadecimal"},
      {"no digits", v5 + kKey + "\n\"dwCopies\"=dword:\n", 3, "1 to 8 hexadecimal"},
      {"not hex", v5 + kKey + "\n\"dwCopies\"=dword:12g4\n", 3, "1 to 8 hexadecimal"},
      {"negative", v5 + kKey + "\n\"dwCopies\"=dword:-1\n", 3, "1 to 8 hexadecimal"},
      {"unknown type", v5 + kKey + "\n\"dwCopies\"=qword:1\n", 3, "unknown value type"},
      {"unclosed string", v5 + kKey + "\n\"s\"=\"abc\n", 3, "no closing quote"},
      {"text after string", v5 + kKey + "\n\"s\"=\"abc\" x\n", 3, "after the string"},
      {"bad hex byte", v5 + kKey + "\n\"b\"=hex:01,zz\n", 3, "bad byte"},
      {"bad hex type", v5 + kKey + "\n\"b\"=hex(q):01\n", 3, "hex(type)"},
      {"hex continues past end", v5 + kKey + "\n\"b\"=hex:01,\\", 3, "past the end"},
      {"hex continued, then past end", v5 + kKey + "\n\"b\"=hex:01,\\\n  02,\\", 3, "past the end"},
      {"value under deletion", v5 + "[-" + kKey.substr(1) + "\n\"dwCopies\"=dword:1\n", 3,
       "key deletion"},
      {"odd UTF-16", Utf16Le(v5 + kKey + "\n") + "x", 3, "middle of a character"},
      {"lone surrogate", Utf16Le(v5) + std::string("\x00\xD8", 2), 2, "surrogate"},
      {"big-endian UTF-16", "\xFE\xFF", 1, "big-endian"},
      {"bad UTF-8 after BOM", "\xEF\xBB\xBF" + v5 + kKey + "\n\"\xC3\x28\"=dword:1\n", 3,
       "invalid UTF-8"},
      {"NUL in 8-bit text", "REGEDIT4\n" + kKey + "\n" + std::string("\"a\0\"=dword:1\n", 13), 3,
       "NUL"},
  };
  for (const Malformed& c : cases) {
    SCOPED_TRACE(c.what);
    RegFile file;
    file.values.push_back({"untouched", "x", 1, 1});
    RegFileError error;
    EXPECT_FALSE(ParseRegFile(c.text, file, error));
    EXPECT_EQ(error.line, c.line);
    EXPECT_NE(error.reason.find(c.reason), std::string::npos) << error.reason;
    ASSERT_EQ(file.values.size(), 1u);  // nothing half-read
    EXPECT_EQ(file.values[0].printer, "untouched");
  }
}

TEST(RegFile, EightBitNamesAreReadAsLatin1) {
  const RegFile file = Parse(
      "REGEDIT4\n[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Print\\Printers\\"
      "Caf\xE9\\PrinterDriverData]\n\"dwCopies\"=dword:1\n");
  ASSERT_EQ(file.values.size(), 1u);
  EXPECT_EQ(file.values[0].printer, "Caf\xC3\xA9");
  EXPECT_EQ(Utf8ToUtf16(file.values[0].printer), std::u16string(u"Caf\u00E9"));
}

TEST(RegFile, ReadRegFileNamesTheFileAndLine) {
  std::string error;
  RegFile file;
  EXPECT_FALSE(ReadRegFile("/nonexistent/settings.reg", file, error));
  EXPECT_EQ(error.rfind("/nonexistent/settings.reg: cannot open: ", 0), 0u) << error;
}

// ---- loading into the registry ------------------------------------------------

DWORD ReadBack(const std::u16string& printer, const char16_t* name, bool* found) {
  HKEY key = nullptr;
  DWORD value = 0, type = 0, size = sizeof value;
  *found = RegOpenKeyExW(HKEY_LOCAL_MACHINE, DriverDataKeyPath(printer).c_str(), 0, KEY_READ,
                         &key) == ERROR_SUCCESS;
  if (!*found) return 0;
  *found = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) ==
               ERROR_SUCCESS &&
           type == REG_DWORD && size == 4;
  RegCloseKey(key);
  return value;
}

TEST(RegFile, LoadsOnlyTheChosenPrintersValues) {
  const RegFile file = Parse(
      "REGEDIT4\n"
      "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Print\\Printers\\Loader Test\\"
      "PrinterDriverData]\n"
      "\"dwCopies\"=dword:00000005\n"
      "\"dwTestPage\"=dword:00000013\n"
      "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Print\\Printers\\Other\\"
      "PrinterDriverData]\n"
      "\"dwCopies\"=dword:00000007\n"
      "\"dwDensity\"=dword:00000007\n");
  const long keysBefore = LmOpenRegistryKeyCount();
  std::vector<std::string> warnings;
  std::string error;
  // Key names ignore letter case, so the printer matches in any case.
  EXPECT_EQ(LoadPrinterSettings(file, u"LOADER test", warnings, error), 2) << error;
  EXPECT_EQ(LmOpenRegistryKeyCount(), keysBefore);
  ASSERT_EQ(warnings.size(), 1u);  // one warning per other printer
  EXPECT_NE(warnings[0].find("line 6: settings for printer \"Other\" left out"), std::string::npos)
      << warnings[0];

  bool found = false;
  EXPECT_EQ(ReadBack(u"Loader Test", u"dwCopies", &found), 5u);
  EXPECT_TRUE(found);
  EXPECT_EQ(ReadBack(u"Loader Test", u"dwTestPage", &found), 19u);
  EXPECT_TRUE(found);
  ReadBack(u"Other", u"dwCopies", &found);
  EXPECT_FALSE(found);
  RegDeleteTreeW(HKEY_LOCAL_MACHINE,
                 u"System\\CurrentControlSet\\Control\\Print\\Printers\\Loader Test");
}

TEST(RegFile, PrinterNamesTheMonitorCannotFormAKeyPathForAreRefused) {
  // The settings would be stored where the monitor never looks.
  const std::string tooLong(kMaxPrinterNameLength + 1, 'p');
  const RegFile file = Parse(
      "REGEDIT4\n"
      "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Print\\Printers\\" +
      tooLong + "\\PrinterDriverData]\n\"dwCopies\"=dword:00000005\n");
  std::vector<std::string> warnings;
  std::string error;
  EXPECT_EQ(LoadPrinterSettings(file, Utf8ToUtf16(tooLong), warnings, error), -1);
  EXPECT_NE(error.find("longer than 189 characters"), std::string::npos) << error;
  EXPECT_EQ(DriverDataKeyPath(u""), u"");
  EXPECT_EQ(DriverDataKeyPath(std::u16string(kMaxPrinterNameLength, u'p')).size(),
            kKeyPathCapacity - 1);
}

}  // namespace
}  // namespace langmon::host

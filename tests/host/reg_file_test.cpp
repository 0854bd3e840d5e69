#include "reg_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/config.h"
#include "platform/platform_testing.h"
#include "reg_file_input.h"
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
  std::string upperDelete = deleteKey;
  upperDelete.replace(upperDelete.find("Laser"), 5, "LASER");
  const RegFile file = Parse("REGEDIT4\n" + kKey + "\n\"dwCopies\"=dword:1\n" + deleteKey + "\n" +
                             kKey + "\n\"dwDensity\"=dword:7\n\"dwCopies\"=dword:2\n" +
                             upperDelete + "\n" + kKey + "\n\"dwCopies\"=dword:3\n");
  // A value set again after its key went counts from there, whatever the
  // letter case of the deletion.
  ExpectValues(file, {{"dwCopies", 3}});
}

struct Left {
  int line;
  LeftOutKind kind;
  const char* says;
};

void ExpectLeftOut(const std::vector<LeftOut>& leftOut, const std::vector<Left>& expected) {
  ASSERT_EQ(leftOut.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(leftOut[i].message);
    EXPECT_EQ(leftOut[i].line, expected[i].line);
    EXPECT_EQ(leftOut[i].kind, expected[i].kind);
    EXPECT_NE(leftOut[i].message.find(expected[i].says), std::string::npos);
  }
}

TEST(RegFile, OtherKeysAndValueTypesAreLeftOutByKind) {
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
      "\"dwShort\"=hex(4):01,00\n"
      "\"dwLong\"=hex(4):01,00,00,00,00\n"
      "\"dwQword\"=hex(b):01,00,00,00,00,00,00,00\n");
  ExpectValues(file, {{"dwCopies", 2}});
  using enum LeftOutKind;
  ExpectLeftOut(file.leftOut,
                {{2, OtherKey, "[HKEY_CURRENT_USER\\Software\\Other] is not a printer's"},
                 {4, OtherKey, "Printers\\Laser] is not a printer's"},
                 {8, NotDword, "\"Comment\" is a string value"},
                 {9, Unnamed, "unnamed"},
                 {10, NotDword, "\"dwBlob\" is a hex value"},
                 {12, WrongLength, "\"dwShort\" is a dword of 2 bytes"},
                 {13, WrongLength, "\"dwLong\" is a dword of 5 bytes"},
                 {14, NotDword, "\"dwQword\" is a hex(b) value"}});
}

TEST(RegFile, RootKeysGoByTheirFullOrShortName) {
  const std::string path =
      "\\System\\CurrentControlSet\\Control\\Print\\Printers\\Laser\\PrinterDriverData]\n";
  for (const char* root : {"HKEY_LOCAL_MACHINE", "HKLM", "hklm", "HKEY_Local_Machine"}) {
    SCOPED_TRACE(root);
    const RegFile file = Parse("REGEDIT4\n[" + std::string(root) + path + "\"dwCopies\"=dword:3\n");
    ExpectValues(file, {{"dwCopies", 3}});
  }
  // The other roots hold no printer's settings, by either name.
  for (const char* root :
       {"HKEY_CURRENT_USER", "HKCU", "HKCR", "HKU", "HKEY_CURRENT_CONFIG", "HKCC"}) {
    SCOPED_TRACE(root);
    const RegFile file = Parse("REGEDIT4\n[" + std::string(root) + path + "\"dwCopies\"=dword:3\n");
    EXPECT_TRUE(file.values.empty());
    ExpectLeftOut(file.leftOut, {{2, LeftOutKind::OtherKey, "is not a printer's"}});
  }
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
      {"unknown root", v5 + "[HKEY_NOWHERE\\X]\n", 2, "unknown root key \"HKEY_NOWHERE\""},
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
      {"bad hex byte", v5 + kKey + "\n\"b\"=hex:01,zz\n", 3, "bad byte \"zz\""},
      {"bad byte on a continuation line", v5 + kKey + "\n\"b\"=hex:01,\\\n  02,\\\n  03,0g\n", 5,
       "bad byte \"0g\""},
      {"two commas", v5 + kKey + "\n\"b\"=hex:01,,02\n", 3, "two commas"},
      {"trailing comma", v5 + kKey + "\n\"b\"=hex:01,02,\n", 3, "ends with ','"},
      {"empty line inside continued hex", v5 + kKey + "\n\"b\"=hex:01,\\\n\n\"c\"=dword:1\n", 4,
       "empty line where the hex data"},
      {"bad hex type", v5 + kKey + "\n\"b\"=hex(q):01\n", 3, "hex(type)"},
      {"hex continues past end", v5 + kKey + "\n\"b\"=hex:01,\\", 3, "past the end"},
      {"hex continued, then past end", v5 + kKey + "\n\"b\"=hex:01,\\\n  02,\\", 4, "past the end"},
      {"cut off inside a continuation", v5 + kKey + "\n\"b\"=hex:01,\\\n  02,\\\n", 4,
       "past the end"},
      {"cut off, blank lines behind", v5 + kKey + "\n\"b\"=hex:01,\\\r\n\r\n  \r\n", 3,
       "past the end"},
      {"value under deletion", v5 + "[-" + kKey.substr(1) + "\n\"dwCopies\"=dword:1\n", 3,
       "key deletion"},
      {"odd UTF-16", Utf16Le(v5 + kKey + "\n") + "x", 3, "middle of a character"},
      {"lone surrogate", Utf16Le(v5) + std::string("\x00\xD8", 2), 2, "surrogate"},
      {"big-endian UTF-16", "\xFE\xFF", 1, "big-endian"},
      {"big-endian UTF-16 without a mark", std::string("\0R\0E", 4), 1, "big-endian"},
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

// A line of a megabyte makes a message of a line.
TEST(RegFile, MessagesShowLongInputShortened) {
  const std::string huge(1 << 20, 'k');
  const struct {
    std::string text;
    const char* says;
  } cases[] = {
      {"REGEDIT4\n[" + huge + "]\n", "unknown root key \"kkk"},
      {"REGEDIT4\n" + kKey + "\n\"dwCopies\"=dword:" + huge + "\n", "found \"kkk"},
      {"REGEDIT4\n" + kKey + "\n\"x\"=" + huge + "\n", "unknown value type in \"kkk"},
  };
  for (const auto& c : cases) {
    RegFile file;
    RegFileError error;
    EXPECT_FALSE(ParseRegFile(c.text, file, error));
    EXPECT_NE(error.reason.find(c.says), std::string::npos) << error.reason.substr(0, 200);
    EXPECT_NE(error.reason.find("...\" (1048576 characters)"), std::string::npos);
    EXPECT_LT(error.reason.size(), 200u);
  }
  const RegFile file = Parse("REGEDIT4\n[HKLM\\" + huge + "]\n\"" + huge + "\"=\"s\"\n");
  ASSERT_EQ(file.leftOut.size(), 1u);
  EXPECT_LT(file.leftOut[0].message.size(), 300u);
}

// A dword given twice, in its key or in the key given again, is loaded
// with the later value, and each repetition is named with its lines.
TEST(RegFile, ARepeatedValueIsNamedWithTheLinesItReplaces) {
  const RegFile file =
      Parse("REGEDIT4\n" + kKey + "\n\"dwCopies\"=dword:2\n\"dwCopies\"=dword:3\n" + kKey +
            "\n\"DWCOPIES\"=dword:4\n\"dwDensity\"=dword:5\n");
  ExpectValues(file, {{"dwCopies", 4}, {"dwDensity", 5}});
  std::vector<LeftOut> leftOut;
  std::string error;
  ASSERT_EQ(LoadPrinterSettings(file, u"Laser", leftOut, error), 2) << error;
  ASSERT_EQ(leftOut.size(), 2u);
  EXPECT_EQ(leftOut[0].line, 4);
  EXPECT_EQ(leftOut[0].kind, LeftOutKind::Replaced);
  EXPECT_EQ(leftOut[0].message,
            "\"dwCopies\" is given again: this line's value replaces the one of line 3");
  EXPECT_EQ(leftOut[1].line, 6);
  EXPECT_EQ(leftOut[1].message,
            "\"DWCOPIES\" is given again: this line's value replaces the one of line 4");
  EXPECT_EQ(LeftOutSummary(leftOut), "left out 2 dwords replaced by later lines");
  // A value deleted and set again replaces nothing.
  const RegFile again =
      Parse("REGEDIT4\n" + kKey + "\n\"dwCopies\"=dword:2\n\"dwCopies\"=-\n\"dwCopies\"=dword:3\n");
  EXPECT_TRUE(again.leftOut.empty());
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
  EXPECT_EQ(ReadRegFile("/nonexistent/settings.reg", file, error), sim::InputResult::Refused);
  EXPECT_EQ(error.rfind("/nonexistent/settings.reg: cannot open the .reg file: ", 0), 0u) << error;
  // A folder opens but cannot be read; it is no empty file.
  EXPECT_EQ(ReadRegFile(::testing::TempDir(), file, error), sim::InputResult::Refused);
  EXPECT_NE(error.find(": cannot read the .reg file: it is a folder"), std::string::npos) << error;
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
  std::vector<LeftOut> leftOut;
  std::string error;
  // Key names ignore letter case, so the printer matches in any case.
  EXPECT_EQ(LoadPrinterSettings(file, u"LOADER test", leftOut, error), 2) << error;
  EXPECT_EQ(LmOpenRegistryKeyCount(), keysBefore);
  ExpectLeftOut(leftOut,
                {{5, LeftOutKind::OtherPrinter, "settings for printer \"Other\" left out"}});

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
  std::vector<LeftOut> leftOut;
  std::string error;
  EXPECT_EQ(LoadPrinterSettings(file, Utf8ToUtf16(tooLong), leftOut, error), -1);
  EXPECT_NE(error.find("is longer than the 189 characters the driver-data key path can hold"),
            std::string::npos)
      << error;
  EXPECT_EQ(DriverDataKeyPath(u""), u"");
  EXPECT_EQ(DriverDataKeyPath(std::u16string(kMaxPrinterNameLength, u'p')).size(),
            kKeyPathCapacity - 1);
}

TEST(RegFile, LeftOutComesInLineOrderAndIsCountedByKind) {
  const std::string printers = "[HKLM\\System\\CurrentControlSet\\Control\\Print\\Printers\\";
  const RegFile file = Parse("REGEDIT4\n" +                                // 1
                             printers + "Other\\PrinterDriverData]\n" +    // 2
                             "\"Model\"=\"x\"\n" +                         // 3
                             printers + "Summary\\PrinterDriverData]\n" +  // 4
                             "\"Model\"=\"x\"\n" +                         // 5
                             "\"dwCopies\"=dword:1\n" +                    // 6
                             "\"dwShort\"=hex(4):00\n" +                   // 7
                             printers + "Third\\PrinterDriverData]\n" +    // 8
                             "\"dwCopies\"=dword:1\n" +                    // 9
                             "[HKCU\\Software]\n" +                        // 10
                             printers + "other\\PrinterDriverData]\n" +    // 11
                             "[-HKLM\\Software\\Gone]\n");                 // 12
  std::vector<LeftOut> leftOut;
  std::string error;
  ASSERT_EQ(LoadPrinterSettings(file, u"summary", leftOut, error), 1) << error;
  using enum LeftOutKind;
  // Another printer's values are left out with its key, not one by one.
  ExpectLeftOut(leftOut, {{2, OtherPrinter, "\"Other\""},
                          {5, NotDword, "\"Model\""},
                          {7, WrongLength, "of 1 byte"},
                          {8, OtherPrinter, "\"Third\""},
                          {10, OtherKey, "[HKCU\\Software]"},
                          {11, OtherPrinter, "\"other\""},
                          {12, OtherKey, "Gone"}});
  // The command's word on the other printers goes right after their count
  // (CliRegFile.WhatIsLeftOutIsOneLineCountedByKind holds its text).
  EXPECT_EQ(LeftOutSummary(leftOut, " (the command's note)"),
            "left out 3 keys of other printers (the command's note), 2 other keys, 1 value that is "
            "not a dword, 1 dword of the wrong length");
  EXPECT_EQ(LeftOutSummary({}, " (the command's note)"), "");
  RegDeleteTreeW(HKEY_LOCAL_MACHINE,
                 u"System\\CurrentControlSet\\Control\\Print\\Printers\\Summary");
}

// The root key a file names is quoted once in the message.
TEST(RegFile, AnUnknownRootKeyIsNamedInItsQuotes) {
  RegFile file;
  RegFileError error;
  EXPECT_FALSE(ParseRegFile("REGEDIT4\n[HKEY_NOWHERE\\X]\n", file, error));
  EXPECT_EQ(error.line, 2);
  EXPECT_EQ(
      error.reason,
      "unknown root key \"HKEY_NOWHERE\" (HKEY_LOCAL_MACHINE or HKLM holds the printers' keys)");
}

}  // namespace
}  // namespace langmon::host

// ASCII as the simulated printer and the host tools read it: hex digits in
// either case, letter case folded for A to Z only, blanks.
#include <gtest/gtest.h>

#include <string>

#include "ascii.h"

namespace langmon::sim {
namespace {

TEST(Ascii, HexDigitsReadInEitherCase) {
  const struct {
    const char* digits;
    bool ok;
    DWORD value;
  } cases[] = {
      {"0", true, 0},  {"fF", true, 255},       {"DEADbeef", true, 0xDEADBEEF},
      {"", false, 0},  {"123456789", false, 0}, {"0x1", false, 0},
      {"g", false, 0}, {" 1", false, 0},
  };
  for (const auto& c : cases) {
    DWORD value = 7;
    EXPECT_EQ(ParseHex32(c.digits, &value), c.ok) << c.digits;
    EXPECT_EQ(value, c.ok ? c.value : 7u) << c.digits;
  }
  EXPECT_EQ(HexValue('a'), 10);
  EXPECT_EQ(HexValue('F'), 15);
  EXPECT_EQ(HexValue('/'), -1);
}

// Only A to Z fold: a byte of an 8-bit or UTF-8 name stays as it is, so two
// names differing there stay two names.
TEST(Ascii, OnlyAsciiLettersFold) {
  EXPECT_EQ(FoldCase("Sales-7 \xC9T\xC9"), "sales-7 \xC9t\xC9");
  EXPECT_TRUE(EqualNoCase("HKLM", "hklm"));
  EXPECT_FALSE(EqualNoCase("\xC9", "\xE9"));
  EXPECT_FALSE(EqualNoCase("abc", "ab"));
  EXPECT_TRUE(StartsWithNoCase("DWORD:1", "dword:"));
  EXPECT_FALSE(StartsWithNoCase("dw", "dword:"));
  EXPECT_TRUE(EndsWithNoCase("x\\PRINTERDRIVERDATA", "\\PrinterDriverData"));
  EXPECT_FALSE(EndsWithNoCase("Data", "DriverData"));
}

TEST(Ascii, BlanksAreSpacesAndTabs) {
  EXPECT_EQ(TrimBlanks(" \tx y\t "), "x y");
  EXPECT_EQ(SkipBlanks("\t x "), "x ");
  EXPECT_EQ(TrimBlanks("\r\n"), "\r\n");
  EXPECT_EQ(TrimBlanks("  "), "");
}

}  // namespace
}  // namespace langmon::sim

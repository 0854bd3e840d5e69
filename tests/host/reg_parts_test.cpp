// The parts of the .reg reader on their own: the lines with their numbers
// and continued hex data, and a value parser that names a fault at the line
// it is on without moving any line.
#include "reg_parts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace langmon::host {
namespace {

TEST(RegParts, LinesAreNumberedAndHexDataIsJoinedOverTheLinesItContinuesOn) {
  RegLines lines("REGEDIT4\r\n  [k] \n\"b\"=hex:01,\\\n  02\n\"s\"=\"C:\\\\\"\n");
  std::vector<std::string> seen;
  while (lines.Next()) {
    seen.push_back(std::to_string(lines.Number()) + " " + std::string(lines.Line()));
    if (lines.Number() != 3) continue;
    RegData data;
    RegFileError error;
    ASSERT_TRUE(lines.ValueData("hex:01,\\", data, error)) << error.reason;
    EXPECT_EQ(data.text, "hex:01,02");
    EXPECT_EQ(data.FaultAt(data.text.size() - 1, "").line, 4);
  }
  // The continued line is taken with its value; a string ending in a
  // backslash does not continue.
  EXPECT_EQ(seen, (std::vector<std::string>{"1 REGEDIT4", "2 [k]", "3 \"b\"=hex:01,\\",
                                            "5 \"s\"=\"C:\\\\\"", "6 "}));
}

TEST(RegParts, ContinuedDataThatDoesNotGoOnIsNamedAtItsLine) {
  const struct {
    const char* text;
    int line;
    const char* reason;
  } cases[] = {
      {"x=hex:01,\\\n\n", 1, "continues past the end of the file"},
      {"x=hex:01,\\\n\n02\n", 2, "empty line where the hex data"},
  };
  for (const auto& c : cases) {
    RegLines lines(c.text);
    ASSERT_TRUE(lines.Next());
    RegData data;
    RegFileError error;
    EXPECT_FALSE(lines.ValueData("hex:01,\\", data, error));
    EXPECT_EQ(error.line, c.line) << c.text;
    EXPECT_NE(error.reason.find(c.reason), std::string::npos) << error.reason;
  }
}

TEST(RegParts, AValueIsReadFromItsDataAndAFaultNamedAtItsOwnLine) {
  RegData data;
  data.Append("hex(4):01,02,", 7);
  data.Append("03,04", 8);
  RegValue value;
  RegFileError error;
  ASSERT_TRUE(ParseRegValue(data, value, error)) << error.reason;
  EXPECT_EQ(value.kind, RegValue::Binary);
  EXPECT_EQ(value.hexType, static_cast<unsigned>(REG_DWORD));
  EXPECT_EQ(value.bytes, std::string("\x01\x02\x03\x04"));

  RegData bad;
  bad.Append("hex:01,", 7);
  bad.Append("zz", 8);
  EXPECT_FALSE(ParseRegValue(bad, value, error));
  EXPECT_EQ(error.line, 8);
  EXPECT_EQ(error.reason, "bad byte \"zz\" in hex data");
}

}  // namespace
}  // namespace langmon::host

// The printers file's lines: a device URI, an optional name in quotes or
// with backslashes, and comments; and names written so that they read back.
#include "printers_file.h"

#include <gtest/gtest.h>

#include <string>

namespace langmon::sim {
namespace {

TEST(PrintersFile, LinesGiveTheirUriAndName) {
  const struct {
    std::string line;
    bool comment;
    std::string uri, name;
  } cases[] = {
      {"", true, "", ""},
      {"   # a comment", true, "", ""},
      {"socket://a", false, "socket://a", ""},
      {"socket://a sales", false, "socket://a", "sales"},
      {"\tsocket://a\t sales  ", false, "socket://a", "sales"},
      {"socket://a \"first printer\"", false, "socket://a", "first printer"},
      {"socket://a first\\ printer", false, "socket://a", "first printer"},
      {"socket://a \"say \\\"hi\\\" \\\\ back\"", false, "socket://a", "say \"hi\" \\ back"},
      {"socket://a sales # floor 2", false, "socket://a", "sales"},
      {"socket://a # no name", false, "socket://a", ""},
      {"socket://a \"#7\"", false, "socket://a", "#7"},
      {"socket://a sales#2", false, "socket://a", "sales#2"},  // '#' inside a word
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    PrintersLine line;
    std::string error;
    ASSERT_TRUE(ReadPrintersLine(c.line, line, error)) << error;
    EXPECT_EQ(line.comment, c.comment);
    EXPECT_EQ(line.uri, c.uri);
    EXPECT_EQ(line.name, c.name);
  }
}

TEST(PrintersFile, WrongLinesAreRefusedSayingWhy) {
  const struct {
    std::string line;
    const char* says;
  } cases[] = {
      {"socket://a first printer", "a name with blanks goes in quotes"},
      {"socket://a \"first printer", "no closing quote"},
      {"socket://a \"\"", "empty"},
      {"socket://a \"a\" b", "found more after the name"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    PrintersLine line;
    std::string error;
    EXPECT_FALSE(ReadPrintersLine(c.line, line, error));
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
  }
}

TEST(PrintersFile, NamesAreWrittenSoThatTheyReadBack) {
  for (const std::string name : {"sim-1", "Queue 7", "#7", "a\"b", "c\\d", "tab\there"}) {
    SCOPED_TRACE(name);
    PrintersLine line;
    std::string error;
    ASSERT_TRUE(ReadPrintersLine("socket://a " + QuotePrinterName(name), line, error)) << error;
    EXPECT_EQ(line.name, name);
  }
  EXPECT_EQ(QuotePrinterName("sim-1"), "sim-1");
  EXPECT_EQ(QuotePrinterName("Queue 7"), "\"Queue 7\"");
}

}  // namespace
}  // namespace langmon::sim

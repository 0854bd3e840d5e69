// The printers file's lines: a device URI, an optional name in quotes or
// with backslashes, and comments; and names written so that they read back.
#include "printers_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

// The whole file as both programs read it: comments and blank lines left
// out, CR LF taken, each printer with its line; the first wrong line named,
// in line order also when the URI is what is wrong.
TEST(PrintersFile, TextGivesEachPrinterWithItsLine) {
  const std::string text =
      "# 3 simulated printers\r\n\nsocket://a:1 sim-1\r\n  # a comment\nsim: \"Queue "
      "7\"\nsocket://c";
  std::vector<PrintersEntry> printers;
  PrintersFault fault;
  ASSERT_TRUE(ReadPrintersText(text, printers, fault)) << fault.reason;
  ASSERT_EQ(printers.size(), 3u);
  EXPECT_EQ(printers[0].uri, "socket://a:1");
  EXPECT_EQ(printers[0].name, "sim-1");
  EXPECT_EQ(printers[0].line, 3);
  EXPECT_EQ(printers[1].name, "Queue 7");
  EXPECT_EQ(printers[1].line, 5);
  EXPECT_EQ(printers[2].name, "");
  EXPECT_EQ(printers[2].line, 6);

  const UriCheck onlySim = [](const std::string& uri) {
    return uri.starts_with("sim:") ? std::string() : "not sim: " + uri;
  };
  const struct {
    std::string text;
    int line;
    const char* reason;
  } wrong[] = {
      {"sim: a\nsocket://x b\nsim: first printer\n", 2, "not sim: socket://x"},
      {"sim: a\nsim: first printer\nsocket://x\n", 2, "found more after the name"},
      {"\n\nsim: \"open\n", 3, "no closing quote"},
  };
  for (const auto& w : wrong) {
    SCOPED_TRACE(w.text);
    std::vector<PrintersEntry> some;
    EXPECT_FALSE(ReadPrintersText(w.text, some, fault, onlySim));
    EXPECT_EQ(fault.line, w.line);
    EXPECT_NE(fault.reason.find(w.reason), std::string::npos) << fault.reason;
  }
}

TEST(PrintersFile, WrittenTextReadsBackAsTheSamePrinters) {
  const std::vector<PrintersEntry> printers = {{"socket://127.0.0.1:9100", "sim-1", 0},
                                               {"socket://[::1]:9101", "Queue 7", 0}};
  const std::string text = WritePrintersText({"2 simulated printers", "silent: sim-1"}, printers);
  EXPECT_EQ(text,
            "# 2 simulated printers\n# silent: sim-1\nsocket://127.0.0.1:9100 sim-1\n"
            "socket://[::1]:9101 \"Queue 7\"\n");
  std::vector<PrintersEntry> read;
  PrintersFault fault;
  ASSERT_TRUE(ReadPrintersText(text, read, fault)) << fault.reason;
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(read[1].uri, printers[1].uri);
  EXPECT_EQ(read[1].name, printers[1].name);
  EXPECT_EQ(read[1].line, 4);
}

}  // namespace
}  // namespace langmon::sim

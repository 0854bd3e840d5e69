// "PrintTestPage" through the monitor's table: one "@PJL SET TESTPAGE=" line
// chosen by "dwTestPage", with no entry or exit text around it.
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "driver_data_fixture.h"

namespace langmon {
namespace {

using namespace langmon::testing;

struct PageRun {
  BOOL result;
  std::vector<std::string> pieces;
};

PageRun PrintTestPage(const WString& printer, DWORD shortWriteBy = 0) {
  FakePortMonitor fake;
  MonitorPort port(fake, LM_W("LPT1:"), printer);
  fake.shortWriteBy = shortWriteBy;
  const long keysBefore = OpenKeyCount();
  SetLastError(0);
  PageRun run;
  run.result = port.Request(LM_W("PrintTestPage"));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
  EXPECT_EQ(OpenKeyCount(), keysBefore);
  run.pieces = WrittenPieces(fake);
  EXPECT_TRUE(LoadFlags(port.entry()) & PortActive);
  return run;
}

struct PageCase {
  DWORD setting;
  const char* page;
};

void PrintTo(const PageCase& c, std::ostream* os) { *os << "dwTestPage " << c.setting; }

class E2eTestPage : public ::testing::TestWithParam<PageCase> {};

TEST_P(E2eTestPage, SendsThePageTheSettingSelects) {
  const PageCase& c = GetParam();
  DriverDataKey stored(UniquePrinterName());
  stored.SetDword(LM_W("dwTestPage"), c.setting);
  const PageRun run = PrintTestPage(stored.printer());
  EXPECT_TRUE(run.result);
  EXPECT_EQ(run.pieces,
            std::vector<std::string>{"@PJL SET TESTPAGE=" + std::string(c.page) + "\r\n"});
}

const PageCase kPageCases[] = {
    {18, "PCLTYPELIST"}, {19, "DEMOPAGE"}, {21, "PSTYPEFACELIST"},
    {22, "DEMOPAGE"},    {0, "SELFTEST"},  {17, "SELFTEST"},
    {20, "SELFTEST"},    {23, "SELFTEST"}, {0xFFFFFFFF, "SELFTEST"},
};

INSTANTIATE_TEST_SUITE_P(Pages, E2eTestPage, ::testing::ValuesIn(kPageCases));

TEST(E2eTestPageText, LongestPageNameIsThirtyFourBytesInOneWrite) {
  DriverDataKey stored(UniquePrinterName());
  stored.SetDword(LM_W("dwTestPage"), 21);
  const PageRun run = PrintTestPage(stored.printer());
  ASSERT_EQ(run.pieces.size(), 1u);
  EXPECT_EQ(run.pieces[0].size(), 34u);
}

TEST(E2eTestPageText, NothingIsSentWithoutAReadableSetting) {
  struct Case {
    const char* what;
    bool key;
    DWORD type;
    std::string data;
  };
  const Case cases[] = {
      {"no key", false, REG_NONE, ""},
      {"no value", true, REG_NONE, ""},
      {"text value", true, REG_SZ, std::string("1\0009\0\0\0", 6)},
      {"two bytes", true, REG_DWORD, std::string("\x13\x00", 2)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const WString printer = UniquePrinterName();
    std::unique_ptr<DriverDataKey> stored;
    if (c.key) {
      stored = std::make_unique<DriverDataKey>(printer);
      stored->SetDword(LM_W("dwCfgFlags"), 1);
      if (c.type != REG_NONE) stored->SetRaw(LM_W("dwTestPage"), c.type, c.data);
    }
    const PageRun run = PrintTestPage(printer);
    EXPECT_FALSE(run.result);
    EXPECT_TRUE(run.pieces.empty());
  }
}

TEST(E2eTestPageText, ShortWriteFails) {
  DriverDataKey stored(UniquePrinterName());
  stored.SetDword(LM_W("dwTestPage"), 19);
  const PageRun run = PrintTestPage(stored.printer(), 1);
  EXPECT_FALSE(run.result);
  ASSERT_EQ(run.pieces.size(), 1u);
}

}  // namespace
}  // namespace langmon

// "PrintTestPage": one "@PJL SET TESTPAGE=" line naming the internal test
// page that the driver's "dwTestPage" setting selects.
#include <cstring>

#include "config/config.h"
#include "port/port_ops.h"
#include "requests/requests.h"

namespace langmon {

namespace {

struct TestPageName {
  DWORD Setting;
  const char* Page;
};

constexpr TestPageName kTestPages[] = {
    {18, "PCLTYPELIST"},
    {19, "DEMOPAGE"},
    {21, "PSTYPEFACELIST"},
    {22, "DEMOPAGE"},
};
constexpr const char* kDefaultTestPage = "SELFTEST";

constexpr std::size_t kTestPageTextSize = 64;

}  // namespace

const char* TestPageNameFor(DWORD setting) {
  for (const TestPageName& page : kTestPages)
    if (page.Setting == setting) return page.Page;
  return kDefaultTestPage;
}

BOOL RequestTestPage(PortEntry* entry) {
  HKEY key = nullptr;
  if (!OpenDriverDataKey(entry, &key)) return FALSE;
  DWORD setting = 0;
  BOOL result = FALSE;
  if (ReadDriverDword(key, kTestPageValueName, &setting)) {
    char text[kTestPageTextSize];
    std::strcpy(text, kTestPagePrefix);
    std::strcat(text, TestPageNameFor(setting));
    std::strcat(text, "\r\n");
    result = WriteWhole(entry, text, static_cast<DWORD>(std::strlen(text)), WriteCheck::CountOnly);
  }
  RegCloseKey(key);
  return result;
}

}  // namespace langmon

// The example INF fragment (examples/langmon-driver.inf), read with the
// system's own INF parser as the printer class installer reads it: it names
// the monitor and its DLL the way langmon-setup installs them, and copies
// that DLL into the system folder. Windows (or Wine) only.
#include <gtest/gtest.h>
#include <windows.h>
// setupapi.h needs the types of windows.h.
#include <setupapi.h>

#include <string>

#include "arguments.h"
#include "build_paths.h"

namespace {

// Field `field` (1-based) of the first line `key` in `section`; empty when
// there is none.
std::wstring Field(HINF inf, const wchar_t* section, const wchar_t* key, DWORD field) {
  INFCONTEXT line{};
  if (!SetupFindFirstLineW(inf, section, key, &line)) return {};
  wchar_t text[256] = {};
  if (!SetupGetStringFieldW(&line, field, text, 256, nullptr)) return {};
  return text;
}

// Every field of the line `key` in `section`.
std::wstring AllFields(HINF inf, const wchar_t* section, const wchar_t* key) {
  INFCONTEXT line{};
  if (!SetupFindFirstLineW(inf, section, key, &line)) return {};
  std::wstring all;
  for (DWORD i = 1; i <= SetupGetFieldCount(&line); ++i) {
    wchar_t text[256] = {};
    if (SetupGetStringFieldW(&line, i, text, 256, nullptr)) all += std::wstring(text) + L";";
  }
  return all;
}

class DriverInf : public ::testing::Test {
 protected:
  void SetUp() override {
    UINT errorLine = 0;
    inf_ = SetupOpenInfFileW(build_paths::kExampleInf, nullptr, INF_STYLE_WIN4, &errorLine);
    ASSERT_NE(inf_, INVALID_HANDLE_VALUE) << "error " << GetLastError() << " at line " << errorLine;
  }
  void TearDown() override {
    if (inf_ != INVALID_HANDLE_VALUE) SetupCloseInfFile(inf_);
  }
  HINF inf_ = INVALID_HANDLE_VALUE;
};

TEST_F(DriverInf, InstallSectionNamesTheMonitorAsTheSetupToolInstallsIt) {
  const std::wstring expected =
      std::wstring(setup::kDefaultMonitorName) + L"," + setup::kDllFileName;
  EXPECT_EQ(Field(inf_, L"EXAMPLE_LASER", L"LanguageMonitor", 1), expected);
  // Every model of both architectures installs through that section.
  for (const wchar_t* models : {L"Models.NTamd64", L"Models.NTx86"})
    EXPECT_EQ(Field(inf_, models, nullptr, 1), L"EXAMPLE_LASER") << models;
}

TEST_F(DriverInf, TheDllIsCopiedIntoTheSystemFolderFromTheKitsFolders) {
  EXPECT_NE(AllFields(inf_, L"EXAMPLE_LASER", L"CopyFiles").find(L"LANGMON_FILES;"),
            std::wstring::npos);
  EXPECT_EQ(AllFields(inf_, L"LANGMON_FILES", nullptr), std::wstring(setup::kDllFileName) + L";");
  EXPECT_EQ(Field(inf_, L"DestinationDirs", L"LANGMON_FILES", 1), L"66002");
  EXPECT_EQ(Field(inf_, L"SourceDisksFiles", setup::kDllFileName, 1), L"2");
  EXPECT_EQ(Field(inf_, L"SourceDisksNames.amd64", L"2", 4), L"x86_64");
  EXPECT_EQ(Field(inf_, L"SourceDisksNames.x86", L"2", 4), L"i686");
}

// The driver's own data file lies on the disk of the package's top folder,
// not in a kit's folder, which holds only the DLL.
TEST_F(DriverInf, TheDriversOwnFilesComeFromThePackagesTopFolder) {
  const std::wstring dataFile = Field(inf_, L"EXAMPLE_LASER", L"DataFile", 1);
  EXPECT_EQ(dataFile, L"EXAMPLE.GPD");
  EXPECT_EQ(Field(inf_, L"SourceDisksFiles", dataFile.c_str(), 1), L"1");
  for (const wchar_t* disks : {L"SourceDisksNames.amd64", L"SourceDisksNames.x86"})
    EXPECT_EQ(Field(inf_, disks, L"1", 4), L"") << disks;
}

TEST_F(DriverInf, ThePackageIsSignedLockedDownAndPackageAware) {
  EXPECT_EQ(Field(inf_, L"Version", L"CatalogFile", 1), L"example.cat");
  EXPECT_EQ(Field(inf_, L"Version", L"PnpLockdown", 1), L"1");
  for (const wchar_t* section :
       {L"PrinterPackageInstallation.amd64", L"PrinterPackageInstallation.x86"})
    EXPECT_EQ(Field(inf_, section, L"PackageAware", 1), L"TRUE") << section;
}

}  // namespace

// langmon-setup's parts that need no spooler: the command line, the texts
// of failures and their hints, the architecture check, comparing files,
// reading PE headers, the spooler's registrations in the registry, moving
// files aside, and the version resources and manifest of the files we ship. Windows (or Wine) only.
// The program does not link the spooler calls (spooler.cpp): winspool.drv would bring Wine's
// desktop process up, which holds ctest's output pipe open long after the program has ended.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "architecture.h"
#include "arguments.h"
#include "build_paths.h"
#include "files.h"
#include "langmon_version.h"
#include "registration.h"
#include "replace.h"
#include "report.h"

namespace setup {
namespace {

// --- Command line --------------------------------------------------------------

TEST(SetupArguments, ParsesEachCommandWithItsOptions) {
  struct Case {
    std::vector<std::wstring> args;
    Command command;
    std::wstring name;
    std::wstring dll;
    bool force;
    bool purge;
  };
  const Case cases[] = {
      {{L"install"}, Command::kInstall, L"langmon", L"", false, false},
      {{L"install", L"--name", L"lm2", L"--dll", L"C:\\kit\\langmon.dll", L"--force"},
       Command::kInstall,
       L"lm2",
       L"C:\\kit\\langmon.dll",
       true,
       false},
      {{L"install", L"--force", L"--name=lm 3", L"--dll=D:/x.dll"},
       Command::kInstall,
       L"lm 3",
       L"D:/x.dll",
       true,
       false},
      {{L"upgrade"}, Command::kUpgrade, L"langmon", L"", false, false},
      {{L"upgrade", L"--dll", L"new\\langmon.dll", L"--name=lm/4"},
       Command::kUpgrade,
       L"lm/4",
       L"new\\langmon.dll",
       false,
       false},
      {{L"remove"}, Command::kRemove, L"langmon", L"", false, false},
      {{L"remove", L"--name", L"Other", L"--purge"}, Command::kRemove, L"Other", L"", false, true},
      {{L"status", L"--name=x"}, Command::kStatus, L"x", L"", false, false},
      {{L"--version"}, Command::kVersion, L"langmon", L"", false, false},
      {{L"help"}, Command::kHelp, L"langmon", L"", false, false},
      {{L"/?"}, Command::kHelp, L"langmon", L"", false, false},
  };
  for (const Case& c : cases) {
    const std::wstring line = c.args.front() + L" ...(" + std::to_wstring(c.args.size()) + L")";
    const ParsedArguments parsed = ParseArguments(c.args);
    ASSERT_TRUE(parsed.ok) << std::string(line.begin(), line.end());
    EXPECT_EQ(parsed.options.command, c.command);
    EXPECT_EQ(parsed.options.name, c.name);
    EXPECT_EQ(parsed.options.dll, c.dll);
    EXPECT_EQ(parsed.options.force, c.force);
    EXPECT_EQ(parsed.options.purge, c.purge);
  }
}

TEST(SetupArguments, RefusesWhatTheCommandDoesNotTakeAndSaysWhat) {
  struct Case {
    std::vector<std::wstring> args;
    std::wstring error;
  };
  const Case cases[] = {
      {{}, L"no command given"},
      {{L"frob"}, L"unknown command \"frob\""},
      {{L"remove", L"--force"}, L"remove does not take --force"},
      {{L"status", L"--dll=x.dll"}, L"status does not take --dll"},
      {{L"--version", L"--name", L"x"}, L"--version does not take --name"},
      {{L"install", L"--name"}, L"--name needs a NAME"},
      {{L"install", L"--name="}, L"cannot name a monitor"},
      {{L"install", L"--name", L"a\\b"}, L"must not hold '\\'"},
      // The driver INF's LanguageMonitor value ends the name at a comma.
      {{L"install", L"--name", L"lang,mon"}, L"must not hold ','"},
      {{L"upgrade", L"--name", L"say \"hi\""}, L"must not hold '\"'"},
      {{L"remove", L"--name=%LANGMON%"}, L"must not hold '%'"},
      {{L"status", L"--name", L"a;b"}, L"must not hold ';'"},
      {{L"status", L"--name", L"tab\there"}, L"control character"},
      {{L"install", L"--name", L" langmon"}, L"begin or end with a space"},
      {{L"install", L"--name", std::wstring(256, L'n')}, L"longer than 255 characters"},
      {{L"upgrade", L"--force"}, L"upgrade does not take --force"},
      {{L"status", L"--purge"}, L"status does not take --purge"},
      {{L"remove", L"--purge=yes"}, L"unexpected argument \"--purge=yes\""},
      {{L"install", L"--dll"}, L"--dll needs a PATH"},
      {{L"install", L"--dll="}, L"--dll needs a PATH"},
      {{L"install", L"langmon.dll"}, L"unexpected argument \"langmon.dll\""},
      {{L"install", L"--forced"}, L"unexpected argument \"--forced\""},
  };
  for (const Case& c : cases) {
    const ParsedArguments parsed = ParseArguments(c.args);
    const std::string expected(c.error.begin(), c.error.end());
    EXPECT_FALSE(parsed.ok) << expected;
    EXPECT_NE(parsed.error.find(c.error), std::wstring::npos)
        << "expected \"" << expected << "\", got \""
        << std::string(parsed.error.begin(), parsed.error.end()) << "\"";
  }
}

// --- Failures, their texts and hints --------------------------------------------

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

TEST(SetupReport, FailureNamesTheCallTheCodeAndTheSystemTextOnOneLine) {
  const std::string text =
      Narrow(DescribeFailure({L"CopyFileW a.dll to b.dll", ERROR_FILE_NOT_FOUND}));
  const std::string prefix = "CopyFileW a.dll to b.dll failed: error 2: ";
  ASSERT_EQ(text.compare(0, prefix.size(), prefix), 0) << text;
  const std::string message = text.substr(prefix.size());
  EXPECT_FALSE(message.empty());
  EXPECT_EQ(message.find("no text"), std::string::npos) << message;
  EXPECT_EQ(message.find_first_of("\r\n"), std::string::npos) << message;
  EXPECT_NE(message.back(), ' ');

  // A code without a system text still shows the code.
  EXPECT_EQ(Narrow(DescribeFailure({L"X", 0x2000ABCDu})),
            "X failed: error 536914893: (the system has no text for this code)");
}

TEST(SetupReport, FailRecordsTheLastErrorOfTheCallItNames) {
  Win32Failure failure;
  SetLastError(ERROR_PRINT_MONITOR_ALREADY_INSTALLED);
  EXPECT_FALSE(Fail(failure, L"AddMonitorW"));
  EXPECT_EQ(failure.what, L"AddMonitorW");
  EXPECT_EQ(failure.code, static_cast<DWORD>(ERROR_PRINT_MONITOR_ALREADY_INSTALLED));
}

TEST(SetupReport, HintsWhereTheCodeAloneDoesNotSayWhatToDo) {
  struct Case {
    DWORD code;
    const char* hint;  // a phrase of the hint; empty: no hint
  };
  const Case cases[] = {
      {ERROR_ACCESS_DENIED, "elevated command prompt"},
      {ERROR_PRIVILEGE_NOT_HELD, "\"Load and unload device drivers\" privilege"},
      {ERROR_SHARING_VIOLATION, "langmon-setup upgrade replaces a loaded DLL"},
      {ERROR_USER_MAPPED_FILE, "langmon-setup upgrade replaces a loaded DLL"},
      {ERROR_PRINT_MONITOR_IN_USE, "printers still use this monitor"},
      {ERROR_PROC_NOT_FOUND, "InitializePrintMonitor"},
      {ERROR_MOD_NOT_FOUND, "could not load the DLL"},
      {ERROR_BAD_EXE_FORMAT, "x86_64"},
      {RPC_S_SERVER_UNAVAILABLE, "net start spooler"},
      {ERROR_FILE_NOT_FOUND, ""},
      {ERROR_PRINT_MONITOR_ALREADY_INSTALLED, ""},
  };
  for (const Case& c : cases) {
    const std::string hint = Narrow(HintFor(c.code));
    if (*c.hint == 0)
      EXPECT_TRUE(hint.empty()) << c.code << ": " << hint;
    else
      EXPECT_NE(hint.find(c.hint), std::string::npos) << c.code << ": " << hint;
  }
}

// --- Architecture -------------------------------------------------------------

TEST(SetupArchitecture, RefusesWindowsWhoseSpoolerCannotLoadTheKitsMonitor) {
  struct Case {
    WORD kit, process, native;
    const char* refusal;  // a phrase of the refusal; empty: none
  };
  constexpr WORD kNone = IMAGE_FILE_MACHINE_UNKNOWN, kX86 = IMAGE_FILE_MACHINE_I386,
                 kX64 = IMAGE_FILE_MACHINE_AMD64, kArm64 = IMAGE_FILE_MACHINE_ARM64;
  const Case cases[] = {
      {kX64, kNone, kX64, ""},
      {kX86, kNone, kX86, ""},
      {kX86, kX86, kX64, "use langmon-setup.exe of the x86_64 kit"},
      // The x86_64 tool runs emulated on ARM64 Windows, not under WOW64.
      {kX64, kNone, kArm64, "runs on ARM64: its spooler loads only ARM64 monitors"},
      {kX86, kX86, kArm64, "runs on ARM64"},
      {kX64, kNone, IMAGE_FILE_MACHINE_IA64, "runs on machine 512"},
  };
  for (const Case& c : cases) {
    const std::string refusal = Narrow(ArchitectureRefusal(c.kit, c.process, c.native));
    if (*c.refusal == 0)
      EXPECT_TRUE(refusal.empty()) << c.kit << "/" << c.native << ": " << refusal;
    else
      EXPECT_NE(refusal.find(c.refusal), std::string::npos) << c.native << ": " << refusal;
  }
  EXPECT_EQ(Narrow(ThisWindowsRefusal()), "");
}

// --- The spooler's registrations ----------------------------------------------------

// Monitor keys of the test's own, removed again with what they hold.
class SetupRegistration : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const std::wstring& name : keys_)
      RegDeleteKeyW(HKEY_LOCAL_MACHINE, (std::wstring(kMonitorsKey) + L"\\" + name).c_str());
  }
  // A key under Monitors; with a Driver value unless `driver` is empty.
  void AddKey(const std::wstring& name, const std::wstring& driver) {
    HKEY key = nullptr;
    const std::wstring path = std::wstring(kMonitorsKey) + L"\\" + name;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    keys_.push_back(name);
    const std::wstring value = driver.empty() ? L"a setting" : driver;
    RegSetValueExW(key, driver.empty() ? L"Other" : L"Driver", 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
  }
  Registration Read(const std::wstring& name, bool& found) {
    Registration registration;
    Win32Failure failure;
    EXPECT_TRUE(ReadRegistration(name, found, registration, failure))
        << Narrow(DescribeFailure(failure));
    return registration;
  }
  std::vector<std::wstring> keys_;
};

TEST_F(SetupRegistration, AMonitorIsItsKeyWithADriverValue) {
  const std::wstring pid = std::to_wstring(GetCurrentProcessId());
  AddKey(L"lm-unit-driver-" + pid, L"lmunit.dll");
  AddKey(L"lm-unit-settings-only-" + pid, L"");
  bool found = false;
  EXPECT_EQ(Read(L"lm-unit-driver-" + pid, found).driver, L"lmunit.dll");
  EXPECT_TRUE(found);
  // An installer's settings in a key before the monitor was added count as
  // no monitor, as the spooler counts them.
  Read(L"lm-unit-settings-only-" + pid, found);
  EXPECT_FALSE(found);
  Read(L"lm-unit-nothing-" + pid, found);
  EXPECT_FALSE(found);
  // The system's own port monitor is registered the same way.
  EXPECT_TRUE(SamePath(Read(L"Local Port", found).driver, L"localspl.dll"));
  EXPECT_TRUE(found);
}

TEST_F(SetupRegistration, ListHoldsEveryRegisteredMonitorAndNoBareKey) {
  const std::wstring pid = std::to_wstring(GetCurrentProcessId());
  AddKey(L"lm-unit-listed-" + pid, L"lmlisted.dll");
  AddKey(L"lm-unit-bare-" + pid, L"");
  std::vector<Registration> all;
  Win32Failure failure;
  ASSERT_TRUE(ListRegistrations(all, failure)) << Narrow(DescribeFailure(failure));
  auto named = [&](const std::wstring& name) {
    for (const Registration& r : all)
      if (r.name == name) return r.driver;
    return std::wstring(L"(none)");
  };
  EXPECT_EQ(named(L"lm-unit-listed-" + pid), L"lmlisted.dll");
  EXPECT_EQ(named(L"lm-unit-bare-" + pid), L"(none)");
  EXPECT_TRUE(SamePath(named(L"Local Port"), L"localspl.dll"));
}

// --- Paths ------------------------------------------------------------------------

TEST(SetupPaths, FileNamesJoinsAndComparisons) {
  EXPECT_EQ(FileNameOf(L"C:\\Windows\\System32\\langmon.dll"), L"langmon.dll");
  EXPECT_EQ(FileNameOf(L"Z:/work/build/langmon.dll"), L"langmon.dll");
  EXPECT_EQ(FileNameOf(L"D:langmon.dll"), L"langmon.dll");
  EXPECT_EQ(FileNameOf(L"langmon.dll"), L"langmon.dll");
  EXPECT_EQ(JoinPath(L"C:\\Windows\\system32", L"a.dll"), L"C:\\Windows\\system32\\a.dll");
  EXPECT_EQ(JoinPath(L"C:\\", L"a.dll"), L"C:\\a.dll");
  EXPECT_TRUE(
      SamePath(L"C:\\WINDOWS\\System32\\LANGMON.DLL", L"c:\\windows\\system32\\langmon.dll"));
  EXPECT_FALSE(SamePath(L"C:\\Windows\\System32\\langmon.dll", L"C:\\kit\\langmon.dll"));
}

// --- Files --------------------------------------------------------------------------

// A scratch folder of its own for each test, removed with its files.
class SetupFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH + 1] = {};
    ASSERT_NE(GetTempPathW(MAX_PATH + 1, temp), 0u);
    folder_ = std::wstring(temp) + L"langmon-setup-test-" + std::to_wstring(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr) ||
                GetLastError() == ERROR_ALREADY_EXISTS);
  }
  void TearDown() override {
    for (const std::wstring& file : files_) DeleteFileW(file.c_str());
    RemoveDirectoryW(folder_.c_str());
  }

  std::wstring Write(const std::wstring& name, const std::vector<BYTE>& bytes) {
    const std::wstring path = JoinPath(folder_, name);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    CloseHandle(file);
    files_.push_back(path);
    return path;
  }

  Sameness Compare(const std::wstring& a, const std::wstring& b) {
    Sameness result = Sameness::kMissing;
    Win32Failure failure;
    EXPECT_TRUE(CompareFiles(a, b, result, failure)) << Narrow(DescribeFailure(failure));
    return result;
  }

  PeInfo Pe(const std::wstring& path) {
    PeInfo info;
    Win32Failure failure;
    EXPECT_TRUE(ReadPeInfo(path, info, failure)) << Narrow(DescribeFailure(failure));
    return info;
  }

  std::wstring folder_;
  std::vector<std::wstring> files_;
};

// Larger than the 64 KiB the comparison reads at a time, so that a
// difference in a later chunk counts.
std::vector<BYTE> Pattern(std::size_t size) {
  std::vector<BYTE> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<BYTE>(i * 7 + i / 251);
  return bytes;
}

TEST_F(SetupFiles, ComparisonLooksAtEveryByte) {
  const std::vector<BYTE> data = Pattern(200 * 1024 + 3);
  std::vector<BYTE> lastByte = data, shorter = data;
  lastByte.back() ^= 1;
  shorter.pop_back();
  const std::wstring a = Write(L"a.dll", data);
  EXPECT_EQ(Compare(a, Write(L"same.dll", data)), Sameness::kEqual);
  EXPECT_EQ(Compare(a, Write(L"last.dll", lastByte)), Sameness::kDifferent);
  EXPECT_EQ(Compare(a, Write(L"short.dll", shorter)), Sameness::kDifferent);
  EXPECT_EQ(Compare(Write(L"empty1.dll", {}), Write(L"empty2.dll", {})), Sameness::kEqual);
  EXPECT_EQ(Compare(a, JoinPath(folder_, L"missing.dll")), Sameness::kMissing);
}

TEST_F(SetupFiles, ComparingAMissingFileIsAFailureNamingIt) {
  Sameness result = Sameness::kEqual;
  Win32Failure failure;
  const std::wstring missing = JoinPath(folder_, L"missing.dll");
  EXPECT_FALSE(CompareFiles(missing, Write(L"a.dll", {1, 2, 3}), result, failure));
  EXPECT_EQ(failure.code, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_NE(failure.what.find(missing), std::wstring::npos);
}

// A minimal PE header: DOS header pointing at "PE\0\0" and a file header.
std::vector<BYTE> PeHeader(WORD machine, WORD characteristics, LONG at = 0x80) {
  std::vector<BYTE> bytes(0x200, 0);
  IMAGE_DOS_HEADER dos{};
  dos.e_magic = IMAGE_DOS_SIGNATURE;
  dos.e_lfanew = at;
  std::memcpy(bytes.data(), &dos, sizeof dos);
  if (at < 0 || static_cast<std::size_t>(at) + 24 > bytes.size()) return bytes;
  const DWORD signature = IMAGE_NT_SIGNATURE;
  IMAGE_FILE_HEADER header{};
  header.Machine = machine;
  header.Characteristics = characteristics;
  std::memcpy(bytes.data() + at, &signature, sizeof signature);
  std::memcpy(bytes.data() + at + sizeof signature, &header, sizeof header);
  return bytes;
}

TEST_F(SetupFiles, PeHeadersSayMachineAndWhetherDll) {
  const PeInfo dll = Pe(build_paths::kDllW);
  EXPECT_TRUE(dll.isPe);
  EXPECT_TRUE(dll.isDll);
  EXPECT_EQ(dll.machine, KitMachine());
  EXPECT_EQ(KitMachine(), sizeof(void*) == 8 ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386);
  const PeInfo exe = Pe(build_paths::kSetup);
  EXPECT_TRUE(exe.isPe);
  EXPECT_FALSE(exe.isDll);

  const PeInfo other = Pe(Write(L"i386.dll", PeHeader(IMAGE_FILE_MACHINE_I386, IMAGE_FILE_DLL)));
  EXPECT_TRUE(other.isPe);
  EXPECT_TRUE(other.isDll);
  EXPECT_EQ(other.machine, IMAGE_FILE_MACHINE_I386);

  // Not PE files, and no failure either: text, nothing, a header pointing
  // outside the file or before it.
  const char text[] = "REGEDIT4\r\n";
  EXPECT_FALSE(Pe(Write(L"text.dll", std::vector<BYTE>(text, text + sizeof text))).isPe);
  EXPECT_FALSE(Pe(Write(L"empty.dll", {})).isPe);
  EXPECT_FALSE(Pe(Write(L"outside.dll", PeHeader(IMAGE_FILE_MACHINE_AMD64, 0, 0x1F0))).isPe);
  EXPECT_FALSE(Pe(Write(L"far.dll", PeHeader(IMAGE_FILE_MACHINE_AMD64, 0, 0x7FFFFFF0))).isPe);
  EXPECT_FALSE(Pe(Write(L"negative.dll", PeHeader(IMAGE_FILE_MACHINE_AMD64, 0, -8))).isPe);
}

TEST_F(SetupFiles, AFileSetAsideComesBackAndAFreeFileIsDeletedAtOnce) {
  const std::wstring target = Write(L"set-aside.dll", {1, 2, 3});
  files_.push_back(AsidePath(target));
  Win32Failure failure;
  ASSERT_TRUE(Rename(target, AsidePath(target), failure)) << Narrow(DescribeFailure(failure));
  EXPECT_FALSE(FileExists(target));
  Write(L"set-aside.dll", {4, 5});
  // Back over the file that took its place.
  ASSERT_TRUE(Rename(AsidePath(target), target, failure)) << Narrow(DescribeFailure(failure));
  EXPECT_FALSE(FileExists(AsidePath(target)));
  EXPECT_EQ(Compare(target, Write(L"original.dll", {1, 2, 3})), Sameness::kEqual);

  Deletion deletion = Deletion::kAtRestart;
  ASSERT_TRUE(DeleteOrSchedule(target, deletion, failure)) << Narrow(DescribeFailure(failure));
  EXPECT_EQ(deletion, Deletion::kDeleted);
  EXPECT_FALSE(FileExists(target));
  EXPECT_FALSE(DeleteOrSchedule(target, deletion, failure));
  EXPECT_EQ(failure.code, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

// --- Version resources ----------------------------------------------------------

TEST(SetupVersion, BothShippedFilesCarryTheProjectVersion) {
  struct Case {
    std::wstring path;
    std::wstring originalFilename;
  };
  const std::wstring version(LANGMON_VERSION, LANGMON_VERSION + std::strlen(LANGMON_VERSION));
  for (const Case& c : {Case{build_paths::kDllW, L"langmon.dll"},
                        Case{build_paths::kSetup, L"langmon-setup.exe"}}) {
    SCOPED_TRACE(Narrow(c.path));
    FileVersion v;
    Win32Failure failure;
    ASSERT_TRUE(ReadFileVersion(c.path, v, failure)) << Narrow(DescribeFailure(failure));
    EXPECT_EQ(v.Numeric(), version + L".0");
    EXPECT_EQ(v.parts[0], LANGMON_VERSION_MAJOR);
    EXPECT_EQ(v.parts[1], LANGMON_VERSION_MINOR);
    EXPECT_EQ(v.parts[2], LANGMON_VERSION_PATCH);
    EXPECT_EQ(v.fileVersion, version);
    EXPECT_EQ(v.productVersion, version);
    EXPECT_EQ(v.productName, L"langmon");
    EXPECT_EQ(v.originalFilename, c.originalFilename);
    EXPECT_FALSE(v.fileDescription.empty());
  }
}

// The manifest Windows reads when it starts langmon-setup.exe: resource 1
// of type RT_MANIFEST.
TEST(SetupManifest, TheProgramRunsAsItsCallerOnTheWindowsItNames) {
  HMODULE exe = LoadLibraryExW(build_paths::kSetup, nullptr,
                               LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(exe, nullptr) << GetLastError();
  // Resource numbers in the ANSI macros, which are pointer values alike.
  HRSRC resource = FindResourceW(exe, reinterpret_cast<LPCWSTR>(CREATEPROCESS_MANIFEST_RESOURCE_ID),
                                 reinterpret_cast<LPCWSTR>(RT_MANIFEST));
  ASSERT_NE(resource, nullptr) << "no manifest: " << GetLastError();
  const char* data = static_cast<const char*>(LockResource(LoadResource(exe, resource)));
  const std::string manifest(data, SizeofResource(exe, resource));
  FreeLibrary(exe);
  EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>"),
            std::string::npos);
  for (const char* windows : {"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",   // 10 and 11
                              "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",   // 8.1
                              "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",   // 8
                              "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"})  // 7
    EXPECT_NE(manifest.find(std::string("<supportedOS Id=\"") + windows + "\"/>"),
              std::string::npos)
        << windows;
}

TEST_F(SetupFiles, FileWithoutVersionResourceIsAFailure) {
  FileVersion v;
  Win32Failure failure;
  EXPECT_FALSE(
      ReadFileVersion(Write(L"plain.dll", PeHeader(IMAGE_FILE_MACHINE_AMD64, 0)), v, failure));
  EXPECT_NE(failure.code, 0u);
  EXPECT_EQ(v.Numeric(), L"0.0.0.0");
}

}  // namespace
}  // namespace setup

#include "config_report.h"

#include <gtest/gtest.h>

#include "platform/platform_testing.h"
#include "reg_file.h"
#include "text_encoding.h"

namespace langmon::host {
namespace {

TEST(ConfigReport, SourceFollowsTheMaskAndTheStoredFlags) {
  const struct {
    DWORD mask;
    bool stored;
    ConfigSource source;
  } cases[] = {
      {0x00DBFFFF, false, ConfigSource::Printer},
      {0x00DBFFFF, true, ConfigSource::Printer},  // answered: stored values unused
      {0x00000000, true, ConfigSource::Printer},  // answered the probe, then nothing
      {0x0FFFFFFF, true, ConfigSource::StoredSettings},
      {0x0FFFFFFF, false, ConfigSource::Defaults},
      {0x01000000, false, ConfigSource::Defaults},
  };
  for (const auto& c : cases) {
    ConfigRecord record{};
    record.CfgFlags = c.mask;
    EXPECT_EQ(ClassifyRecord(record, c.stored), c.source) << std::hex << c.mask;
  }
  EXPECT_STREQ(SourceName(ConfigSource::StoredSettings), "stored-settings");
}

void Store(const std::u16string& printer, const char16_t* name, DWORD type, const void* data,
           DWORD size) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, DriverDataKeyPath(printer).c_str(), 0, nullptr,
                            REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
  RegCloseKey(key);
}

TEST(ConfigReport, StoredSettingsNeedANonZeroDwordCfgFlags) {
  const long keys = LmOpenRegistryKeyCount();
  const DWORD zero = 0, one = 1;
  const struct {
    const char16_t* printer;
    DWORD type;
    const void* data;
    DWORD size;
    bool stored;
  } cases[] = {
      {u"report-none", REG_NONE, nullptr, 0, false}, {u"report-zero", REG_DWORD, &zero, 4, false},
      {u"report-one", REG_DWORD, &one, 4, true},     {u"report-string", REG_SZ, u"1", 4, false},
      {u"report-short", REG_DWORD, &one, 2, false},
  };
  for (const auto& c : cases) {
    if (c.data) Store(c.printer, u"dwCfgFlags", c.type, c.data, c.size);
    EXPECT_EQ(HasStoredSettings(c.printer), c.stored) << Utf16ToUtf8(c.printer);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, (u"System\\CurrentControlSet\\Control\\Print\\Printers\\" +
                                        std::u16string(c.printer))
                                           .c_str());
  }
  // A name too long for the key path never has stored settings.
  EXPECT_FALSE(HasStoredSettings(std::u16string(300, u'p')));
  EXPECT_EQ(LmOpenRegistryKeyCount(), keys);
}

// A record as a printer that answers every query gives it (the simulated
// printer's defaults).
ConfigRecord FullRead() {
  ConfigRecord r{};
  r.CfgFlags = 0x00DBFFFF;
  r.Copies = 1;
  r.Density = 6;
  r.SaverMode = 1;
  r.InstalledMem = 8388608;
  r.IObuffer = 3;
  r.PostScript = 1;
  r.Resolution = 10;
  r.ResourceSave = 3;
  r.Tray3Installed = 1;
  return r;
}

struct AnswerCase {
  const char* what;
  ConfigRecord record;
  ConfigSource source;
  bool complete;
  std::vector<std::pair<const char*, Answer>> answers;  // settings checked by name
};

Answer AnswerByName(const AnswerCase& c, const char* name) {
  for (const Setting& s : kSettings)
    if (std::string(s.FieldName) == name) return AnswerOf(c.record, c.source, s);
  ADD_FAILURE() << "no setting " << name;
  return Answer::Unknown;
}

// A full read with these presence bits cleared and these fields set.
ConfigRecord FullReadBut(DWORD clearedBits,
                         std::initializer_list<std::pair<DWORD ConfigRecord::*, DWORD>> values) {
  ConfigRecord r = FullRead();
  r.CfgFlags &= ~clearedBits;
  for (const auto& [field, value] : values) r.*field = value;
  return r;
}

ConfigRecord StoredCopies() {
  ConfigRecord r{};
  r.CfgFlags = kStoredConfigMask;
  r.Copies = 4;
  return r;
}

using enum Answer;
using R = ConfigRecord;

const std::vector<AnswerCase> kAnswerCases = {
    {"full read",
     FullRead(),
     ConfigSource::Printer,
     true,
     {{"Copies", Answered},
      {"FuserTempTray3", Answered},
      {"InstalledMem", Answered},
      {"TestPage", NotAsked},
      {"Tray3Installed", Answered}}},
    // No tray 3: the tray's object goes unanswered.
    {"no tray 3",
     FullReadBut(0x80, {{&R::Tray3Installed, 0}}),
     ConfigSource::Printer,
     true,
     {{"Tray3Installed", NotAnswered}, {"FuserTempTray3", NotAsked}}},
    {"no PostScript",
     FullReadBut(0x2000 | 0x8000 | 0x10000 | 0x20000, {{&R::PostScript, 0}, {&R::ResourceSave, 0}}),
     ConfigSource::Printer,
     true,
     {{"PostScript", Unknown},
      {"PSErrors", NotAsked},
      {"ResourceSave", NotAsked},
      {"ResSaveSizePS", NotAsked}}},
    // No I/O buffer, resource saving off, 1200 dpi: their dependants are not
    // asked.
    {"answers that stop dependent steps",
     FullReadBut(0x200 | 0x10000 | 0x20000 | 0x8,
                 {{&R::IObuffer, 0}, {&R::ResourceSave, 1}, {&R::Resolution, 11}}),
     ConfigSource::Printer,
     true,
     {{"IObufSize", NotAsked},
      {"ResSaveSizePCL", NotAsked},
      {"SaverMode", NotAsked},
      {"ResourceSave", Answered}}},
    {"one setting unanswered",
     FullReadBut(0x1, {{&R::Copies, 0}}),
     ConfigSource::Printer,
     false,
     {{"Copies", NotAnswered}, {"DarkCourier", Answered}}},
    {"silent after the probe",
     ConfigRecord{},
     ConfigSource::Printer,
     false,
     {{"Copies", NotAnswered},
      {"Resolution", NotAnswered},
      {"SaverMode", NotAsked},
      {"FuserTempTray3", NotAsked},
      {"InstalledMem", Unknown},
      {"Tray3Installed", NotAnswered}}},
    {"stored settings",
     StoredCopies(),
     ConfigSource::StoredSettings,
     false,
     {{"Copies", NotAnswered}, {"InstalledMem", NotAnswered}, {"TestPage", NotAsked}}},
};

TEST(ConfigReport, AnswersFollowTheBitsAndTheStepsTheReadTook) {
  for (const AnswerCase& c : kAnswerCases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(IsCompleteRead(c.record, c.source), c.complete);
    EXPECT_EQ(Unanswered(c.record, c.source).empty(), c.complete);
    for (const auto& [name, answer] : c.answers) EXPECT_EQ(AnswerByName(c, name), answer) << name;
  }
  // A printer silent after the probe leaves every unconditional step with a
  // bit unanswered, and the steps depending on them unasked.
  EXPECT_EQ(Unanswered(ConfigRecord{}, ConfigSource::Printer).size(), 15u);
}

// The host judges a step's parent without a presence bit by its value. That
// holds only while each such parent either maps every answer to a value
// other than 0, or stops its dependent steps at 0 anyway.
TEST(ConfigReport, ParentsWithoutAPresenceBitAreToldByTheirValue) {
  for (const ReadStep& step : kPrinterReadSteps) {
    if (step.Parent == kUnconditional) continue;
    const Setting& parent = SettingAt(kPrinterReadSteps[step.Parent].Position);
    if (parent.PresenceBit != kNoPresenceBit || (step.Gated && step.SkipWhen == 0)) continue;
    for (DWORD answer = 0; answer < 4096; ++answer)
      ASSERT_NE(parent.ToDriver(answer), 0u) << parent.FieldName << " step " << step.Label;
  }
}

TEST(ConfigReport, TableShowsWhatThePrinterDidNotAnswerAsADash) {
  ConfigRecord record = FullRead();
  record.CfgFlags &= ~(0x4u | 0x4000u | 0x8u);  // Density, Resolution unanswered
  record.Density = 0;
  record.Resolution = 0;
  record.SaverMode = 0;  // never asked without a resolution
  const ConfigContext context{"Laser", "LPT1:", "sim:"};
  const std::string table = FormatConfigTable(record, ConfigSource::Printer, context);
  for (const char* line : {
           "Source:   the printer (19 of 22 settings with a presence bit answered, 2 not "
           "answered, 1 not asked)\n",
           "CfgFlags: 0x00DBBFF3\n",
           "  1  Copies          dwCopies                    1  0x000001  yes\n",
           "  3  Density         dwDensity                   -  0x000004  no\n",
           "  4  SaverMode       dwSaverMode                 -  0x000008  not asked\n",
           "  9  InstalledMem    dwInstalledMem        8388608  -         yes\n",
           " 23  TestPage        dwTestPage                  -  -         not asked\n",
       })
    EXPECT_NE(table.find(line), std::string::npos) << line << table;

  // Stored settings and defaults show their values: they are what the
  // driver gets, only not from the printer.
  ConfigRecord stored{};
  stored.CfgFlags = kStoredConfigMask;
  stored.Density = 7;
  const std::string fallback = FormatConfigTable(stored, ConfigSource::StoredSettings, context);
  EXPECT_NE(fallback.find("  3  Density         dwDensity                   7  0x000004  no\n"),
            std::string::npos)
      << fallback;
}

TEST(ConfigReport, JsonCarriesPresenceAndAnswerOfEachSetting) {
  ConfigRecord record = FullRead();
  record.CfgFlags &= ~0x4u;
  record.Density = 0;
  record.PostScript = 0;
  const auto json = ConfigJson(record, ConfigSource::Printer, {"Laser", "LPT1:", "sim:"});
  EXPECT_EQ(json["complete"], false);
  EXPECT_EQ(json["settings"][0]["present"], true);
  EXPECT_EQ(json["settings"][0]["answered"], true);
  EXPECT_EQ(json["settings"][2]["present"], false);
  EXPECT_EQ(json["settings"][2]["answered"], false);
  EXPECT_TRUE(json["settings"][8]["bit"].is_null());
  EXPECT_TRUE(json["settings"][8]["present"].is_null());
  EXPECT_EQ(json["settings"][8]["answered"], true);         // InstalledMem: not 0
  EXPECT_TRUE(json["settings"][14]["answered"].is_null());  // PostScript 0: cannot tell
  EXPECT_TRUE(json["settings"][22]["answered"].is_null());  // TestPage: never asked
  EXPECT_EQ(json["settings"][25]["registryValue"], "dwWideA4");
}

}  // namespace
}  // namespace langmon::host

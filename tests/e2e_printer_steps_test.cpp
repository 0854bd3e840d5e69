// "GetConfigObjects" against scripted printer answers: the queries in step
// order, the dependent steps, the maps and the presence bits.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "config/config.h"
#include "driver_data_fixture.h"

namespace langmon {
namespace {

using testing::DminfoReply;
using testing::EmptyReply;
using testing::FakePortMonitor;
using testing::MonitorPort;
using testing::NumberReply;
using testing::QueryLine;
using testing::SeamScope;
using testing::UniquePrinterName;
using namespace langmon::testing;  // object identifiers of the read order

struct Outcome {
  ConfigRecord record;
  std::vector<std::string> asked;  // query lines written, in order
};

// Queues one answer per query that `expectedOrder` says will be asked: the
// printer's number, or the answer in `special` (an empty string queues
// nothing: that query goes unanswered), behind the echo of the probe. Then
// asks for "GetConfigObjects" through the monitor's table.
Outcome AskPrinter(const std::vector<std::string>& expectedOrder,
                   std::map<std::string, DWORD> numbers,
                   const std::map<std::string, std::string>& special = {}) {
  SeamScope scope(true);
  scope.step = 1000;  // an unanswered query costs a handful of reads
  FakePortMonitor fake;
  MonitorPort port(fake, LM_W("LPT1:"), UniquePrinterName());
  QueueEchoReply(fake);
  for (const std::string& id : expectedOrder) {
    auto it = special.find(id);
    if (it != special.end()) {
      if (!it->second.empty()) fake.QueueRead(it->second);
    } else {
      fake.QueueRead(NumberReply(id, numbers.at(id)));
    }
  }
  Outcome outcome;
  std::memset(&outcome.record, 0xEE, sizeof outcome.record);
  EXPECT_TRUE(port.Request(LM_W("GetConfigObjects"), &outcome.record, sizeof outcome.record));
  // Entry text, probe, the queries, exit text.
  const std::vector<std::string> pieces = WrittenPieces(fake);
  EXPECT_GE(pieces.size(), 3u);
  if (pieces.size() < 3) return outcome;
  EXPECT_EQ(pieces.front(), kEntry);
  EXPECT_EQ(pieces.back(), kExit);
  outcome.asked.assign(pieces.begin() + 2, pieces.end() - 1);
  return outcome;
}

std::vector<std::string> QueriesFor(const std::vector<std::string>& ids) {
  std::vector<std::string> lines;
  for (const std::string& id : ids) lines.push_back(QueryLine(id));
  return lines;
}

std::vector<std::string> Without(std::vector<std::string> ids,
                                 const std::vector<std::string>& skipped) {
  for (const std::string& s : skipped) std::erase(ids, s);
  return ids;
}

TEST(E2eFromPrinter, EveryObjectAnsweredFillsTheWholeRecord) {
  const Outcome out = AskPrinter(kFullOrder, FullPrinter());
  EXPECT_EQ(out.asked, QueriesFor(kFullOrder));
  const ConfigRecord& r = out.record;
  EXPECT_EQ(r.CfgFlags, 0xDBFFFFu);
  EXPECT_EQ(r.Copies, 3u);
  EXPECT_EQ(r.DarkCourier, 0u);
  EXPECT_EQ(r.Density, 5u);
  EXPECT_EQ(r.SaverMode, 2u);
  EXPECT_EQ(r.FormLines, 66u);
  EXPECT_EQ(r.FuserTempTray1, 59u);
  EXPECT_EQ(r.FuserTempTray2, 60u);
  EXPECT_EQ(r.FuserTempTray3, 61u);
  EXPECT_EQ(r.InstalledMem, 0x800000u);
  EXPECT_EQ(r.IObuffer, 3u);
  EXPECT_EQ(r.IObufSize, 20u);
  EXPECT_EQ(r.Lang, 23u);
  EXPECT_EQ(r.Orientation, 39u);
  EXPECT_EQ(r.PaperSize, 46u);
  EXPECT_EQ(r.PostScript, 1u);
  EXPECT_EQ(r.PSErrors, 1u);
  EXPECT_EQ(r.Resolution, 10u);
  EXPECT_EQ(r.ResourceSave, 3u);
  EXPECT_EQ(r.ResSaveSizePCL, 200u);
  EXPECT_EQ(r.ResSaveSizePS, 300u);
  EXPECT_EQ(r.RePrint, 1u);
  EXPECT_EQ(r.Smoothing, 2u);
  EXPECT_EQ(r.TestPage, 0u);
  EXPECT_EQ(r.Tray3Installed, 1u);
  EXPECT_EQ(r.TrayLock, 1u);
  EXPECT_EQ(r.WideA4, 0u);
}

// One case per dependent-step rule: what the printer says, which queries are
// therefore never written, and what the record shows.
struct DependentCase {
  const char* rule;
  std::map<std::string, DWORD> numbers;        // changes to FullPrinter()
  std::map<std::string, std::string> answers;  // replies other than a number
  std::vector<std::string> notAsked;
  std::vector<std::pair<DWORD ConfigRecord::*, DWORD>> fields;  // expected values
  DWORD mask;
};

void PrintTo(const DependentCase& c, std::ostream* os) { *os << c.rule; }

class E2eDependentSteps : public ::testing::TestWithParam<DependentCase> {};

TEST_P(E2eDependentSteps, FollowTheirParentsAnswers) {
  const DependentCase& c = GetParam();
  std::map<std::string, DWORD> numbers = FullPrinter();
  for (const auto& [id, value] : c.numbers) numbers[id] = value;
  const std::vector<std::string> order = Without(kFullOrder, c.notAsked);
  const Outcome out = AskPrinter(order, numbers, c.answers);
  EXPECT_EQ(out.asked, QueriesFor(order));
  EXPECT_EQ(out.record.CfgFlags, c.mask);
  for (const auto& [field, value] : c.fields) EXPECT_EQ(out.record.*field, value);
}

const DependentCase kDependentCases[] = {
    {"IObuffer 0: bit set, IObufSize not asked",
     {{kIObuffer, 0}},
     {},
     {kIObufSize},
     {{&ConfigRecord::IObuffer, 0}, {&ConfigRecord::IObufSize, 0}},
     0xDBFFFF & ~0x200u},
    {"IObuffer unanswered: IObufSize not asked",
     {},
     {{kIObuffer, EmptyReply(kIObuffer)}},
     {kIObufSize},
     {{&ConfigRecord::IObuffer, 0}, {&ConfigRecord::IObufSize, 0}},
     0xDBFFFF & ~0x300u},
    {"PostScript 0: its four dependants not asked",
     {{kPostScript, 0}},
     {},
     {kPSErrors, kResourceSave, kResSaveSizePCL, kResSaveSizePS},
     {{&ConfigRecord::PostScript, 0},
      {&ConfigRecord::PSErrors, 0},
      {&ConfigRecord::ResourceSave, 0},
      {&ConfigRecord::ResSaveSizePCL, 0},
      {&ConfigRecord::ResSaveSizePS, 0}},
     0xDBFFFF & ~0x3A000u},
    {"PostScript 2 stays 2 and its dependants are asked",
     {{kPostScript, 2}},
     {},
     {},
     {{&ConfigRecord::PostScript, 2}, {&ConfigRecord::PSErrors, 1}},
     0xDBFFFF},
    {"PostScript unanswered: its dependants not asked",
     {},
     {{kPostScript, EmptyReply(kPostScript)}},
     {kPSErrors, kResourceSave, kResSaveSizePCL, kResSaveSizePS},
     {{&ConfigRecord::PostScript, 0}},
     0xDBFFFF & ~0x3A000u},
    {"PSErrors unanswered does not stop ResourceSave",
     {},
     {{kPSErrors, EmptyReply(kPSErrors)}},
     {},
     {{&ConfigRecord::PSErrors, 0}, {&ConfigRecord::ResourceSave, 3}},
     0xDBFFFF & ~0x2000u},
    {"ResourceSave 1: bit set, sizes not asked",
     {{kResourceSave, 1}},
     {},
     {kResSaveSizePCL, kResSaveSizePS},
     {{&ConfigRecord::ResourceSave, 1},
      {&ConfigRecord::ResSaveSizePCL, 0},
      {&ConfigRecord::ResSaveSizePS, 0}},
     0xDBFFFF & ~0x30000u},
    {"ResourceSave unanswered: sizes not asked",
     {},
     {{kResourceSave, EmptyReply(kResourceSave)}},
     {kResSaveSizePCL, kResSaveSizePS},
     {{&ConfigRecord::ResourceSave, 0}},
     0xDBFFFF & ~0x38000u},
    {"ResSaveSizePCL unanswered does not stop ResSaveSizePS",
     {},
     {{kResSaveSizePCL, EmptyReply(kResSaveSizePCL)}},
     {},
     {{&ConfigRecord::ResSaveSizePCL, 0}, {&ConfigRecord::ResSaveSizePS, 300}},
     0xDBFFFF & ~0x10000u},
    {"Resolution 1200 becomes 11: SaverMode not asked",
     {{kResolution, 1200}},
     {},
     {kSaverMode},
     {{&ConfigRecord::Resolution, 11}, {&ConfigRecord::SaverMode, 0}},
     0xDBFFFF & ~0x8u},
    {"Resolution 300 becomes 9: SaverMode asked, 100 becomes 1",
     {{kResolution, 300}, {kSaverMode, 100}},
     {},
     {},
     {{&ConfigRecord::Resolution, 9}, {&ConfigRecord::SaverMode, 1}},
     0xDBFFFF},
    {"Resolution unanswered: SaverMode not asked",
     {},
     {{kResolution, EmptyReply(kResolution)}},
     {kSaverMode},
     {{&ConfigRecord::Resolution, 0}, {&ConfigRecord::SaverMode, 0}},
     0xDBFFFF & ~0x4008u},
    {"tray 3 unanswered: Tray3Installed 0, its fuser not asked",
     {},
     {{kTray3, EmptyReply(kTray3)}},
     {kFuser3},
     {{&ConfigRecord::Tray3Installed, 0}, {&ConfigRecord::FuserTempTray3, 0}},
     0xDBFFFF & ~0x80u},
    {"tray 3 answered, its fuser not: Tray3Installed stays 1",
     {},
     {{kFuser3, EmptyReply(kFuser3)}},
     {},
     {{&ConfigRecord::Tray3Installed, 1}, {&ConfigRecord::FuserTempTray3, 0}},
     0xDBFFFF & ~0x80u},
    {"fuser 5 stays 5, fuser 0 becomes 60",
     {{kFuser1, 5}, {kFuser2, 0}},
     {},
     {},
     {{&ConfigRecord::FuserTempTray1, 5}, {&ConfigRecord::FuserTempTray2, 60}},
     0xDBFFFF},
    {"InstalledMem unanswered: 0, and it has no bit to lose",
     {},
     {{kInstalledMem, EmptyReply(kInstalledMem)}},
     {},
     {{&ConfigRecord::InstalledMem, 0}},
     0xDBFFFF},
    {"an answer that stores no value is mapped from 0 and counts",
     {},
     {{kOrientation, DminfoReply(kOrientation, "1c00ffff")},
      {kResolution, DminfoReply(kResolution, "1c00ffff")},
      {kFuser1, DminfoReply(kFuser1, "1c00ffff")}},
     {kSaverMode},
     {{&ConfigRecord::Orientation, 40},
      {&ConfigRecord::Resolution, 11},
      {&ConfigRecord::FuserTempTray1, 60},
      {&ConfigRecord::SaverMode, 0}},
     0xDBFFFF & ~0x8u},
};

INSTANTIATE_TEST_SUITE_P(Rules, E2eDependentSteps, ::testing::ValuesIn(kDependentCases));

TEST(E2eFromPrinter, PrinterThatStopsAnsweringGivesZerosAndOnlyTheEighteenSteps) {
  const Outcome out = AskPrinter({}, {});
  const std::vector<std::string> unconditional = Without(
      kFullOrder,
      {kFuser3, kIObufSize, kPSErrors, kResourceSave, kResSaveSizePCL, kResSaveSizePS, kSaverMode});
  EXPECT_EQ(out.asked, QueriesFor(unconditional));
  const ConfigRecord zero{};
  EXPECT_EQ(std::memcmp(&out.record, &zero, sizeof zero), 0);
}

// The reply buffer holds 256 bytes and the decoder needs a zero behind the
// reply: the longest answer taken is 255 bytes; a longer one is not taken.
TEST(E2eFromPrinter, AnswerFillingTheReplyBufferIsNotTaken) {
  for (const std::size_t length : {std::size_t{255}, std::size_t{256}}) {
    SCOPED_TRACE(length);
    std::string reply = NumberReply(kCopies, 7);
    reply.insert(reply.size() - 1, length - reply.size(), ' ');
    ASSERT_EQ(reply.size(), length);
    const Outcome out = AskPrinter({kCopies}, {}, {{kCopies, reply}});
    EXPECT_EQ(out.record.Copies, length == 255 ? 7u : 0u);
    EXPECT_EQ(out.record.CfgFlags & 0x1, length == 255 ? 0x1u : 0u);
  }
}

}  // namespace
}  // namespace langmon

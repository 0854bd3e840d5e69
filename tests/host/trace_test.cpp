// The observers of the port: trace, progress and the recorder of request
// text.
#include "trace.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace langmon::host {
namespace {

TEST(Trace, ControlBytesAreMadeVisible) {
  const struct {
    std::string bytes;
    const char* shown;
  } cases[] = {
      {"\x1b%-12345X@PJL \n", "<ESC>%-12345X@PJL <LF>"},
      {"@PJL ECHO x\r\n\f", "@PJL ECHO x<CR><LF><FF>"},
      {std::string("a\0b\x7f\xff", 5), "a<00>b<7F><FF>"},
      {"\t", "<09>"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(VisibleBytes(c.bytes), c.shown);
}

std::string Captured(std::FILE* f) {
  std::fflush(f);
  std::rewind(f);
  std::string out;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) out.append(buffer, n);
  return out;
}

// The trace lines without their timestamps.
std::vector<std::string> TraceLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    std::string line = text.substr(start, end - start);
    EXPECT_EQ(line.substr(0, 1), "[");
    lines.push_back(line.substr(line.find("] ") + 2));
    start = end + 1;
  }
  return lines;
}

TEST(Trace, OneTraceLinePerWireLineInBothDirections) {
  std::FILE* out = std::tmpfile();
  TraceWriter trace(out);
  const std::string reply = "@PJL ECHO x\r\n\f";
  trace.OnWrite(reinterpret_cast<const BYTE*>("\x1b%-12345X@PJL \n@PJL ECHO x\r\n"), 28, 28, true);
  trace.OnRead(nullptr, 0, true);  // empty polls leave no line
  trace.OnRead(reinterpret_cast<const BYTE*>(reply.data()), 6, true);
  trace.OnRead(reinterpret_cast<const BYTE*>(reply.data() + 6), 8, true);
  trace.OnTimeouts({10, 0, 10, 0, 0});
  trace.OnWrite(reinterpret_cast<const BYTE*>("abc"), 3, 1, true);
  trace.OnFailure("WritePort", 10061, "connect to 127.0.0.1:9: Connection refused");
  EXPECT_EQ(TraceLines(Captured(out)),
            (std::vector<std::string>{
                "-> <ESC>%-12345X@PJL <LF>",
                "-> @PJL ECHO x<CR><LF>",
                "<- @PJL E",
                "<- CHO x<CR><LF>",
                "<- <FF>",
                "-- time-outs: read interval 10 ms, total 10 ms + 0 ms/byte",
                "-> a",
                "-- write short: 1 of 3 bytes taken",
                "!! WritePort failed, error 10061: connect to 127.0.0.1:9: Connection refused",
            }));
  std::fclose(out);
}

// A port monitor that gave no message still has its failure said in words.
TEST(Trace, AFailureWithoutAMessageIsNamedInWords) {
  std::FILE* out = std::tmpfile();
  TraceWriter trace(out);
  trace.OnFailure("OpenPort", ERROR_CONNECTION_REFUSED, "");
  EXPECT_EQ(TraceLines(Captured(out)),
            std::vector<std::string>{
                "!! OpenPort failed, error 1225: the printer refused the connection"});
  std::fclose(out);
}

TEST(Trace, LongPrintDataIsShortenedInsideADocumentOnly) {
  std::FILE* out = std::tmpfile();
  TraceWriter trace(out);
  const std::string data(1000, 'x');
  trace.OnStartDoc(7, true);
  trace.OnWrite(reinterpret_cast<const BYTE*>(data.data()), 1000, 1000, true);
  trace.OnEndDoc();
  trace.OnWrite(reinterpret_cast<const BYTE*>(data.data()), 300, 300, true);
  const std::vector<std::string> lines = TraceLines(Captured(out));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "-- start document, job 7: ok");
  EXPECT_EQ(lines[1], "-> " + std::string(64, 'x') + " ... (1000 bytes of print data)");
  EXPECT_EQ(lines[3], "-> " + std::string(300, 'x'));
  std::fclose(out);
}

// The one progress line of a configuration read, a print job and a fleet:
// drawn over itself, due again only after its interval, wiped once.
TEST(Progress, LineIsRedrawnAtMostEveryIntervalAndWipedOnce) {
  std::FILE* out = std::tmpfile();
  {
    ProgressLine line(out);
    const auto start = ProgressLine::Clock::time_point{} + std::chrono::hours(1);
    EXPECT_TRUE(line.Due(start));
    line.Show("1 done", start);
    EXPECT_FALSE(line.Due(start + ProgressLine::kInterval - std::chrono::milliseconds(1)));
    EXPECT_TRUE(line.Due(start + ProgressLine::kInterval));
    line.Show("2 done", start + ProgressLine::kInterval);
    line.Wipe();
    line.Wipe();  // nothing shown: nothing to wipe
  }               // nor when it goes
  EXPECT_EQ(Captured(out), "\r\x1b[K1 done\r\x1b[K2 done\r\x1b[K");
  std::fclose(out);
}

TEST(Progress, NamesTheSettingAndItsPlaceInTheReadOrder) {
  EXPECT_EQ(ConfigProgress::StepOf("050103030104"), 0);
  EXPECT_STREQ(ConfigProgress::StepName(0), "Copies");
  EXPECT_EQ(ConfigProgress::StepOf("07020802010d0103"), 6);
  EXPECT_STREQ(ConfigProgress::StepName(6), "Tray3Installed");
  EXPECT_EQ(ConfigProgress::StepOf("050103030125"), 24);
  EXPECT_STREQ(ConfigProgress::StepName(24), "WideA4");
  EXPECT_EQ(ConfigProgress::StepOf("050103030125x"), -1);
  EXPECT_EQ(ConfigProgress::StepOf(""), -1);

  std::FILE* out = std::tmpfile();
  {
    ConfigProgress progress(out);
    const std::string echo = "@PJL ECHO Getting Configuration1\r\n";
    const std::string query = "@PJL DMINFO ASCIIHEX=\"0000050104010105\"\r\n";
    const std::string other = "\x1b%-12345X";
    progress.OnWrite(reinterpret_cast<const BYTE*>(other.data()), 9, 9, true);
    progress.OnWrite(reinterpret_cast<const BYTE*>(echo.data()), 34, 34, true);
    progress.OnWrite(reinterpret_cast<const BYTE*>(query.data()), 41, 41, true);
  }  // wiped at the end
  EXPECT_EQ(Captured(out),
            "\r\x1b[Kreading configuration: waiting for the printer to answer"
            "\r\x1b[Kreading configuration: Density (3 of 25)"
            "\r\x1b[K");
  std::fclose(out);
}

TEST(Progress, PrintLineShowsAmountShareAndRate) {
  const struct {
    std::uint64_t sent;
    std::optional<std::uint64_t> size;
    double seconds;
    const char* line;
  } cases[] = {
      {0, 1000, 0, "printing: 0 B of 1.0 kB (0%)"},
      {999, 1000, 1, "printing: 999 B of 1.0 kB (99%), 999 B/s"},  // 100% only when done
      {1000, 1000, 2, "printing: 1.0 kB of 1.0 kB (100%), 500 B/s"},
      {12'600'000, 48'200'000, 2, "printing: 12.6 MB of 48.2 MB (26%), 6.3 MB/s"},
      {5, 0, 0, "printing: 5 B of 0 B (100%)"},  // an input that grew
      {1500, std::nullopt, 0.5, "printing: 1.5 kB, 3.0 kB/s"},
  };
  for (const auto& c : cases) EXPECT_EQ(PrintProgress::Line(c.sent, c.size, c.seconds), c.line);

  // Shown at the first write of the document and at its end, then wiped.
  std::FILE* out = std::tmpfile();
  {
    PrintProgress progress(out, 2000);
    const std::string data(1000, 'x');
    progress.OnWrite(reinterpret_cast<const BYTE*>(data.data()), 1000, 1000, true);
    progress.OnStartDoc(1, true);
    for (int i = 0; i < 2; ++i)
      progress.OnWrite(reinterpret_cast<const BYTE*>(data.data()), 1000, 1000, true);
    progress.OnEndDoc();
  }
  const std::string shown = Captured(out);
  EXPECT_EQ(shown.rfind("\r\x1b[Kprinting: 1.0 kB of 2.0 kB (50%)", 0), 0u) << shown;
  EXPECT_NE(shown.find("\r\x1b[Kprinting: 2.0 kB of 2.0 kB (100%)"), std::string::npos) << shown;
  EXPECT_EQ(shown.substr(shown.size() - 4), "\r\x1b[K");
  std::fclose(out);
}

TEST(Recorder, KeepsRequestTextButNotPrintData) {
  RequestRecorder recorder;
  recorder.OnWrite(reinterpret_cast<const BYTE*>("@PJL A"), 6, 6, true);
  recorder.OnStartDoc(1, true);
  recorder.OnWrite(reinterpret_cast<const BYTE*>("job"), 3, 3, true);
  recorder.OnEndDoc();
  recorder.OnWrite(reinterpret_cast<const BYTE*>("@PJL B"), 6, 4, true);  // only what was taken
  EXPECT_EQ(recorder.Written(), "@PJL A@PJL");
  recorder.Clear();
  EXPECT_EQ(recorder.Written(), "");
}

}  // namespace
}  // namespace langmon::host

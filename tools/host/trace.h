// Observers of the port: the wire trace, the progress lines of a
// configuration read and of a print job, and a recorder of what was written
// between documents.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "observed_port.h"
#include "progress_line.h"

namespace langmon::host {

// Bytes as text, control bytes made visible: ESC, CR, LF and FF as <ESC>,
// <CR>, <LF>, <FF>, other bytes below 0x20 and from 0x7F on as <XX> in hex.
std::string VisibleBytes(std::string_view bytes);

// The whole conversation on the port, both directions, with the time since
// the writer was made:
//   [   0.004] -> @PJL DMINFO ASCIIHEX="0000050103030104"<CR><LF>
//   [   0.015] <- @PJL DMINFO ASCIIHEX="0000050103030104"<CR><LF>
//   [   0.004] -- time-outs: read interval 10 ms, total 10 ms + 0 ms/byte
// Each written or read chunk is cut after every LF so one wire line makes
// one trace line. Print data inside a document is shortened when long.
class TraceWriter : public ports::PortObserver {
 public:
  explicit TraceWriter(std::FILE* out);

  void OnOpen(std::u16string_view portName, bool ok) override;
  void OnStartDoc(DWORD jobId, bool ok) override;
  void OnWrite(const BYTE* data, DWORD requested, DWORD written, bool ok) override;
  void OnRead(const BYTE* data, DWORD got, bool ok) override;
  void OnEndDoc() override;
  void OnClose() override;
  void OnTimeouts(const COMMTIMEOUTS& timeouts) override;
  void OnPrinterData(DWORD controlId, bool ok, DWORD returned) override;
  void OnFailure(std::string_view operation, DWORD error, const std::string& message) override;
  // Any other event worth a line, e.g. the spooler calls the monitor makes.
  void Note(std::string_view text);

  // Longest print-data write shown in full; longer ones show their start.
  static constexpr std::size_t kJobDataShown = 256;
  static constexpr std::size_t kJobDataHead = 64;

 private:
  void Line(std::string_view direction, std::string_view text);
  void Lines(std::string_view direction, std::string_view bytes);

  std::FILE* out_;
  std::chrono::steady_clock::time_point start_;
  std::mutex mutex_;
  bool inDocument_ = false;
};

// The setting being read while a configuration comes in, from the DMINFO
// queries on the wire: "reading configuration: Density (3 of 25)", on a
// ProgressLine, wiped by Finish().
class ConfigProgress : public ports::PortObserver {
 public:
  explicit ConfigProgress(std::FILE* out);
  ~ConfigProgress() override;

  void OnWrite(const BYTE* data, DWORD requested, DWORD written, bool ok) override;
  void Finish();

  // The step of the read order that asks for an object identifier (0-based),
  // or -1; and the setting name shown for it.
  static int StepOf(std::string_view objectId);
  static const char* StepName(int step);

 private:
  ProgressLine line_;
};

// A print job's progress on one terminal line, from the document's writes:
// "printing: 12.6 MB of 48.2 MB (26%), 9.8 MB/s" (without the size and share
// when the size is not known), on a ProgressLine: redrawn at most every
// ProgressLine::kInterval and once more when the document ends; wiped by
// Finish().
class PrintProgress : public ports::PortObserver {
 public:
  PrintProgress(std::FILE* out, std::optional<std::uint64_t> size);
  ~PrintProgress() override;

  void OnStartDoc(DWORD jobId, bool ok) override;
  void OnWrite(const BYTE* data, DWORD requested, DWORD written, bool ok) override;
  void OnEndDoc() override;
  void Finish();

  // The line for `sent` bytes after `seconds`.
  static std::string Line(std::uint64_t sent, std::optional<std::uint64_t> size, double seconds);

 private:
  void Show(std::chrono::steady_clock::time_point now);

  ProgressLine line_;
  std::optional<std::uint64_t> size_;
  bool inDocument_ = false;
  std::uint64_t sent_ = 0;
  std::chrono::steady_clock::time_point start_;
};

// Says on a stream, while a document is sent, that the printer has taken
// nothing for a while: "the printer has taken nothing for 5 s; still
// waiting ...", again after each further `interval` of quiet. The wait goes
// on (a printer out of paper stalls so too); the notice only tells a person
// why nothing moves. Progress is a write that moved bytes, or what
// `progress` reports (a socket port sees the printer take data inside a
// call). A thread of its own watches from Start() until Stop().
class QuietNotice : public ports::PortObserver {
 public:
  using Progress = std::function<std::optional<std::chrono::steady_clock::time_point>()>;
  QuietNotice(std::FILE* out, std::chrono::milliseconds interval, Progress progress);
  ~QuietNotice() override;  // stops the thread

  void OnStartDoc(DWORD jobId, bool ok) override;
  void OnWrite(const BYTE* data, DWORD requested, DWORD written, bool ok) override;
  void OnEndDoc() override;
  void Start();
  void Stop();

  // "the printer has taken nothing for 5 s; ..."
  static std::string Text(std::chrono::seconds quiet);
  static constexpr std::chrono::seconds kInterval{5};

 private:
  void Watch();
  std::chrono::steady_clock::time_point LastProgress();

  std::FILE* out_;
  std::chrono::milliseconds interval_;
  Progress progress_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool inDocument_ = false;
  bool stop_ = false;
  std::chrono::steady_clock::time_point lastWrite_;
  std::thread watcher_;
};

// Keeps what was written to the port and read from it outside documents
// (the PJL of the printer-data requests), up to a limit each.
class RequestRecorder : public ports::PortObserver {
 public:
  void OnStartDoc(DWORD jobId, bool ok) override;
  void OnEndDoc() override;
  void OnWrite(const BYTE* data, DWORD requested, DWORD written, bool ok) override;
  void OnRead(const BYTE* data, DWORD got, bool ok) override;

  std::string Written() const;
  // The ECHO and DMINFO replies that repeat no query written: the monitor
  // refuses them, so a printer that sends them goes unanswered although it
  // answered something.
  std::size_t RefusedReplies() const;
  void Clear();

  static constexpr std::size_t kLimit = 1 << 20;

 private:
  mutable std::mutex mutex_;
  bool inDocument_ = false;
  std::string written_;
  std::string read_;
};

}  // namespace langmon::host

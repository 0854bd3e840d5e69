#include "sim_printer.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <utility>

#include "printer_state.h"
#include "wire_text.h"

namespace langmon::sim {

namespace {

using Clock = std::chrono::steady_clock;

struct Chunk {
  std::string bytes;
  std::size_t offset = 0;
  Clock::time_point readyAt;
  bool isolated = false;  // a read never crosses its boundaries
};

}  // namespace

const char* const kStaleReply =
    "@PJL DMINFO ASCIIHEX=\"00000501030301ff\"\r\n\"8000000501030301ff040107\"\r\n\f";

// ---- channel ------------------------------------------------------------------

// A channel reads its input with its own parser and answers on its own
// output queue; as the parser's sink it keeps the printer's records. Every
// sink call runs with state->mutex held (SimChannel::Write takes it).
struct SimChannel::Impl : RequestSink {
  explicit Impl(SimPrinter::State* printer) : state(printer), parser(*this) {}

  SimPrinter::State* state;
  std::condition_variable readable;
  std::deque<Chunk> output;
  std::uint64_t replies = 0;
  RequestParser parser;

  void OnCommand(const std::string& line) override { PushBounded(state->pjlLines, line); }
  void OnEcho(const std::string& text) override {
    ++state->echoes;
    QueueReply("@PJL ECHO" + (text.empty() ? std::string() : " " + text) + "\r\n\f");
  }
  void OnQuery(const std::string& line, const std::string& id, bool wellFormed) override;
  void OnSet(const SimSetRecord& record, bool wellFormed) override;
  void OnTestPage(const std::string& name) override { PushBounded(state->testPages, name); }
  void OnJobBytes(std::uint64_t count) override { state->jobBytes += count; }

  void QueueReply(const std::string& reply);
};

void SimChannel::Impl::QueueReply(const std::string& reply) {
  const SimFaults& faults = state->faults;
  if (faults.silent) return;
  if (faults.silentAfterReplies >= 0 &&
      state->replies >= static_cast<std::uint64_t>(faults.silentAfterReplies)) {
    return;
  }
  ++state->replies;
  ++replies;
  const std::string bytes = faults.noise + faults.staleReply + reply;
  const Clock::time_point readyAt = Clock::now() + std::chrono::milliseconds(faults.replyDelayMs);
  std::vector<std::size_t> sizes;
  for (std::size_t s : faults.splitSizes) {
    if (s > 0) sizes.push_back(s);
  }
  if (sizes.empty()) {
    output.push_back(Chunk{bytes, 0, readyAt, false});
  } else {
    std::size_t at = 0;
    std::size_t piece = 0;
    while (at < bytes.size()) {
      const std::size_t n = std::min(sizes[std::min(piece, sizes.size() - 1)], bytes.size() - at);
      output.push_back(Chunk{bytes.substr(at, n), 0, readyAt, true});
      at += n;
      ++piece;
    }
  }
  readable.notify_all();
}

void SimChannel::Impl::OnQuery(const std::string& line, const std::string& id, bool wellFormed) {
  PushBounded(state->queries, id);
  const std::string key = FoldCase(id);
  if (wellFormed && state->faults.silentObjects.count(key) != 0) return;
  const auto found = wellFormed ? state->objects.find(key) : state->objects.end();
  if (found == state->objects.end()) {
    if (state->faults.unknown == UnknownObjectReply::Silent) return;
    QueueReply(line + "\r\n\f");
    return;
  }
  QueueReply(line + "\r\n\"" + EncodeRecord(id, found->second) + "\"\r\n\f");
}

void SimChannel::Impl::OnSet(const SimSetRecord& set, bool wellFormed) {
  SimSetRecord record = set;
  if (wellFormed) {
    const auto found = state->objects.find(FoldCase(record.objectId));
    if (found != state->objects.end()) {
      found->second = record.value;
      record.applied = true;
    }
  }
  PushBounded(state->sets, record);
}

SimChannel::SimChannel(SimPrinter::State* state) : impl_(std::make_unique<Impl>(state)) {}

SimChannel::~SimChannel() = default;

void SimChannel::Write(const void* data, std::size_t size) {
  SimPrinter::State* s = impl_->state;
  std::lock_guard<std::mutex> guard(s->mutex);
  const char* bytes = static_cast<const char*>(data);
  s->bytesWritten += size;
  if (s->transcript.size() < s->transcriptLimit) {
    s->transcript.append(bytes, std::min(size, s->transcriptLimit - s->transcript.size()));
  }
  if (s->transcriptSink) s->transcriptSink(bytes, size);
  impl_->parser.Feed(bytes, size);
}

std::size_t SimChannel::Read(void* buffer, std::size_t capacity,
                             std::chrono::milliseconds timeout) {
  if (capacity == 0 || buffer == nullptr) return 0;
  std::unique_lock<std::mutex> lock(impl_->state->mutex);
  const Clock::time_point deadline = Clock::now() + timeout;
  auto& output = impl_->output;
  for (;;) {
    const Clock::time_point now = Clock::now();
    if (!output.empty() && output.front().readyAt <= now) break;
    if (now >= deadline) return 0;
    const Clock::time_point until =
        output.empty() ? deadline : std::min(deadline, output.front().readyAt);
    impl_->readable.wait_until(lock, until);
  }
  char* out = static_cast<char*>(buffer);
  std::size_t copied = 0;
  const Clock::time_point now = Clock::now();
  while (copied < capacity && !output.empty() && output.front().readyAt <= now) {
    Chunk& chunk = output.front();
    if (chunk.isolated && copied > 0) break;
    const std::size_t n = std::min(capacity - copied, chunk.bytes.size() - chunk.offset);
    std::memcpy(out + copied, chunk.bytes.data() + chunk.offset, n);
    copied += n;
    chunk.offset += n;
    const bool isolated = chunk.isolated;
    if (chunk.offset == chunk.bytes.size()) output.pop_front();
    if (isolated) break;
  }
  return copied;
}

std::size_t SimChannel::Pending() const {
  std::lock_guard<std::mutex> guard(impl_->state->mutex);
  std::size_t n = 0;
  for (const Chunk& c : impl_->output) n += c.bytes.size() - c.offset;
  return n;
}

Clock::time_point SimChannel::ReadyAt() const {
  std::lock_guard<std::mutex> guard(impl_->state->mutex);
  return impl_->output.empty() ? Clock::time_point::max() : impl_->output.front().readyAt;
}

std::uint64_t SimChannel::Replies() const {
  std::lock_guard<std::mutex> guard(impl_->state->mutex);
  return impl_->replies;
}

void SimChannel::Reset() {
  std::lock_guard<std::mutex> guard(impl_->state->mutex);
  impl_->output.clear();
  impl_->parser.Reset();
}

// ---- printer --------------------------------------------------------------------

SimPrinter::SimPrinter() : state_(std::make_unique<State>()) {
  state_->objects = DefaultObjects();
  channel_ = std::make_unique<SimChannel>(state_.get());
  table_ = std::make_unique<portmonitor::PortMonitorTable>(SimPortOperations(), state_.get());
}

SimPrinter::~SimPrinter() {
  table_.reset();  // no port opens on a printer that is going
  std::lock_guard<std::mutex> guard(state_->mutex);
  DetachPorts(*state_);
}

void SimPrinter::SetObjects(SimObjectMap objects) {
  SimObjectMap lowered;
  for (auto& [id, object] : objects) lowered[FoldCase(id)] = std::move(object);
  std::lock_guard<std::mutex> guard(state_->mutex);
  state_->objects = std::move(lowered);
}

SimObjectMap SimPrinter::Objects() const {
  std::lock_guard<std::mutex> guard(state_->mutex);
  return state_->objects;
}

void SimPrinter::SetNumber(const std::string& objectId, ValueType type, DWORD value) {
  if (type == ValueType::NegativeNumber) type = ValueType::PaddedNumber;
  std::lock_guard<std::mutex> guard(state_->mutex);
  state_->objects[FoldCase(objectId)] = SimObject{type, value, {}};
}

void SimPrinter::SetString(const std::string& objectId, ValueType type, const std::string& value) {
  std::lock_guard<std::mutex> guard(state_->mutex);
  state_->objects[FoldCase(objectId)] = SimObject{type, 0, value};
}

void SimPrinter::RemoveObject(const std::string& objectId) {
  std::lock_guard<std::mutex> guard(state_->mutex);
  state_->objects.erase(FoldCase(objectId));
}

bool SimPrinter::FindObject(const std::string& objectId, SimObject* out) const {
  std::lock_guard<std::mutex> guard(state_->mutex);
  const auto found = state_->objects.find(FoldCase(objectId));
  if (found == state_->objects.end()) return false;
  if (out) *out = found->second;
  return true;
}

DWORD SimPrinter::Number(const std::string& objectId) const {
  SimObject object;
  if (!FindObject(objectId, &object) || IsStringType(object.type)) return 0;
  return object.number;
}

void SimPrinter::SetDeviceId(const std::string& deviceId) {
  std::lock_guard<std::mutex> guard(state_->mutex);
  state_->deviceId = deviceId;
}

std::string SimPrinter::DeviceId() const {
  std::lock_guard<std::mutex> guard(state_->mutex);
  return state_->deviceId;
}

void SimPrinter::SetFaults(const SimFaults& faults) {
  SimFaults copy = faults;
  copy.silentObjects.clear();
  for (const std::string& id : faults.silentObjects) copy.silentObjects.insert(FoldCase(id));
  std::lock_guard<std::mutex> guard(state_->mutex);
  state_->faults = std::move(copy);
}

SimFaults SimPrinter::Faults() const {
  std::lock_guard<std::mutex> guard(state_->mutex);
  return state_->faults;
}

std::string SimPrinter::Written() const {
  std::lock_guard<std::mutex> guard(state_->mutex);
  return state_->transcript;
}

std::uint64_t SimPrinter::BytesWritten() const {
  std::lock_guard<std::mutex> guard(state_->mutex);
  return state_->bytesWritten;
}

void SimPrinter::SetTranscriptLimit(std::size_t bytes) {
  std::lock_guard<std::mutex> guard(state_->mutex);
  state_->transcriptLimit = bytes;
  if (state_->transcript.size() > bytes) state_->transcript.resize(bytes);
}

void SimPrinter::SetTranscriptSink(TranscriptSink sink) {
  std::lock_guard<std::mutex> guard(state_->mutex);
  state_->transcriptSink = std::move(sink);
}

std::vector<std::string> SimPrinter::PjlLines() const {
  std::lock_guard<std::mutex> guard(state_->mutex);
  return state_->pjlLines;
}

std::vector<std::string> SimPrinter::Queries() const {
  std::lock_guard<std::mutex> guard(state_->mutex);
  return state_->queries;
}

std::vector<SimSetRecord> SimPrinter::Sets() const {
  std::lock_guard<std::mutex> guard(state_->mutex);
  return state_->sets;
}

std::vector<std::string> SimPrinter::TestPages() const {
  std::lock_guard<std::mutex> guard(state_->mutex);
  return state_->testPages;
}

std::uint64_t SimPrinter::JobBytes() const {
  std::lock_guard<std::mutex> guard(state_->mutex);
  return state_->jobBytes;
}

std::uint64_t SimPrinter::EchoCount() const {
  std::lock_guard<std::mutex> guard(state_->mutex);
  return state_->echoes;
}

std::uint64_t SimPrinter::RepliesSent() const {
  std::lock_guard<std::mutex> guard(state_->mutex);
  return state_->replies;
}

std::vector<std::string> SimPrinter::PortOps() const {
  std::lock_guard<std::mutex> guard(state_->mutex);
  return state_->portOps;
}

COMMTIMEOUTS SimPrinter::LastTimeouts() const {
  std::lock_guard<std::mutex> guard(state_->mutex);
  return state_->lastTimeouts;
}

void SimPrinter::ClearRecords() {
  std::lock_guard<std::mutex> guard(state_->mutex);
  state_->transcript.clear();
  state_->bytesWritten = 0;
  state_->pjlLines.clear();
  state_->queries.clear();
  state_->sets.clear();
  state_->testPages.clear();
  state_->jobBytes = 0;
  state_->echoes = 0;
  state_->replies = 0;
  state_->portOps.clear();
  state_->lastTimeouts = COMMTIMEOUTS{};
}

SimChannel& SimPrinter::Channel() { return *channel_; }

void SimPrinter::Write(const void* data, std::size_t size) { channel_->Write(data, size); }

std::size_t SimPrinter::Read(void* buffer, std::size_t capacity,
                             std::chrono::milliseconds timeout) {
  return channel_->Read(buffer, capacity, timeout);
}

std::string SimPrinter::ReadAll(std::chrono::milliseconds timeout) {
  std::string out;
  char buffer[4096];
  for (;;) {
    const std::size_t n = channel_->Read(buffer, sizeof buffer, timeout);
    if (n == 0) break;
    out.append(buffer, n);
  }
  return out;
}

std::unique_ptr<SimChannel> SimPrinter::OpenChannel() {
  return std::make_unique<SimChannel>(state_.get());
}

int SimPrinter::OpenPortCount() const {
  std::lock_guard<std::mutex> guard(state_->mutex);
  return static_cast<int>(state_->ports.size());
}

}  // namespace langmon::sim

#include "sim_printer.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <deque>
#include <utility>

namespace langmon::sim {

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kUel[] = "\x1b%-12345X";
constexpr std::size_t kUelLength = sizeof(kUel) - 1;
// A PJL line longer than this is no command; its bytes count as job data.
constexpr std::size_t kMaxLineLength = 4096;
// Each record list keeps at most this many entries, so a long-running host
// does not grow without bound.
constexpr std::size_t kMaxRecordEntries = 100000;
constexpr std::size_t kDefaultTranscriptLimit = 16u << 20;
constexpr std::size_t kMaxStringLength = 1023;

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

bool IsSpace(char c) { return c == ' ' || c == '\t'; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsHex(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return HexValue(c) >= 0; });
}

// Parses up to 8 hex digits; false on anything else.
bool ParseHex32(const std::string& digits, DWORD* value) {
  if (digits.empty() || digits.size() > 8 || !IsHex(digits)) return false;
  DWORD v = 0;
  for (char c : digits) v = (v << 4) | static_cast<DWORD>(HexValue(c));
  *value = v;
  return true;
}

bool ParseHexBytes(const std::string& digits, std::string* bytes) {
  if (digits.size() % 2 != 0 || !IsHex(digits)) return false;
  bytes->clear();
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    bytes->push_back(static_cast<char>(HexValue(digits[i]) * 16 + HexValue(digits[i + 1])));
  }
  return true;
}

// Length in bytes of an identifier given its first two digits, or 0 when the
// text is no well-formed identifier prefix.
std::size_t IdentifierDigits(const std::string& text) {
  if (text.size() < 2 || HexValue(text[0]) < 0 || HexValue(text[1]) < 0) return 0;
  const std::size_t following =
      static_cast<std::size_t>(HexValue(text[0]) * 16 + HexValue(text[1]));
  if (following == 0) return 0;
  const std::size_t digits = 2 + 2 * following;
  if (text.size() < digits || !IsHex(text.substr(0, digits))) return 0;
  return digits;
}

// Length of a number by the type-1 rule: at most 254 is 1 byte, at most
// 65534 is 2, at most 0xFFFFFE is 3, anything else 4.
DWORD NumberLength(DWORD value) {
  if (value < 0xFF) return 1;
  if (value < 0xFFFF) return 2;
  if (value < 0xFFFFFF) return 3;
  return 4;
}

bool IsStringType(DWORD type) {
  return type == kTypeString || type == kTypePrefixedString || type == kTypeAltString;
}

std::string HexText(DWORD value, int minDigits) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%0*x", minDigits, static_cast<unsigned>(value));
  return buffer;
}

std::string HexBytes(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) out += HexText(c, 2);
  return out;
}

template <typename T>
void PushBounded(std::vector<T>& list, T item) {
  if (list.size() < kMaxRecordEntries) list.push_back(std::move(item));
}

struct Chunk {
  std::string bytes;
  std::size_t offset = 0;
  Clock::time_point readyAt;
  bool isolated = false;  // a read never crosses its boundaries
};

constexpr std::uint32_t kPortMagic = 0x53494D50;  // "SIMP"

struct SimPort;

}  // namespace

const char* const kDefaultDeviceId =
    "MFG:Langmon;MDL:Simulated Laser;CMD:PJL,PCL,POSTSCRIPT;CLS:PRINTER;"
    "DES:Simulated PJL laser printer;";

const char* const kStaleReply =
    "@PJL DMINFO ASCIIHEX=\"00000501030301ff\"\r\n\"8000000501030301ff040107\"\r\n\f";

SimObjectMap DefaultObjects() {
  auto num = [](DWORD type, DWORD value) { return SimObject{type, value, {}}; };
  return {
      {"050103030104", num(kTypePaddedNumber, 1)},          // copies
      {"050103030126", num(kTypeNumber, 0)},                // dark Courier
      {"050104010105", num(kTypePaddedNumber, 3)},          // density (driver 6)
      {"050104010607", num(kTypePaddedNumber, 15)},         // power saver minutes
      {"05010303010b", num(kTypePaddedNumber, 60)},         // form lines
      {"070104010303010d", num(kTypePaddedNumber, 0)},      // fuser tray 1 (driver 60)
      {"070104010303020d", num(kTypePaddedNumber, 0)},      // fuser tray 2
      {"07020802010d0103", num(kTypeNumber, 1)},            // tray 3 present
      {"070104010303030d", num(kTypePaddedNumber, 0)},      // fuser tray 3
      {"06030203010501", num(kTypePaddedNumber, 8388608)},  // installed memory
      {"050102010105", num(kTypeNumber, 3)},                // I/O buffer (auto)
      {"050102010106", num(kTypePaddedNumber, 100)},        // I/O buffer size
      {"06020501010201", num(kTypePaddedNumber, 1)},        // language (driver 23)
      {"07020f0101070101", num(kTypeNumber, 3)},            // orientation (driver 39)
      {"05010303010d", num(kTypeNumber, 2)},                // paper size (driver 42)
      {"07020f0101020105", num(kTypeNumber, 6)},            // PostScript installed
      {"05010303040b", num(kTypeNumber, 1)},                // PostScript errors
      {"050103030106", num(kTypeNumber, 3)},                // resource save (auto)
      {"050103030302", num(kTypePaddedNumber, 400)},        // resource save PCL, KB
      {"050103030402", num(kTypePaddedNumber, 800)},        // resource save PS, KB
      {"050103030108", num(kTypePaddedNumber, 600)},        // resolution (driver 10)
      {"050103030124", num(kTypeNumber, 2)},                // reprint
      {"050104010605", num(kTypeNumber, 1)},                // smoothing
      {"06010401030106", num(kTypeAltNumber, 2)},           // tray lock
      {"050103030125", num(kTypeNumber, 0)},                // wide A4
  };
}

std::string EncodeRecord(const std::string& objectId, const SimObject& object) {
  DWORD type = object.type;
  DWORD number = object.number;
  if (type == kTypeNegativeNumber) type = kTypePaddedNumber;  // kept as 32 bits
  DWORD length = 0;
  std::string digits;
  if (IsStringType(type)) {
    const std::string text = object.text.substr(
        0, type == kTypePrefixedString ? kMaxStringLength - 2 : kMaxStringLength);
    length = static_cast<DWORD>(text.size()) + (type == kTypePrefixedString ? 2 : 0);
    digits = (type == kTypePrefixedString ? "0115" : "") + HexBytes(text);
  } else if (type == kTypeEmpty) {
    length = 0;
  } else if (type == kTypeNumber32) {
    length = 4;
  } else if (type == kTypeByte) {
    length = 1;
  } else {
    length = NumberLength(number);
    if (type == kTypePaddedNumber && length < 4) ++length;
  }
  if (length == 0) {
    digits = "ffff";
  } else if (!IsStringType(type)) {
    digits = HexText(number, static_cast<int>(2 * length));
  }
  return "800000" + objectId + HexText((type & 0x3F) * 1024 + length, 4) + digits;
}

// ---- shared state -----------------------------------------------------------

struct SimPrinter::State {
  mutable std::mutex mutex;
  SimObjectMap objects;
  std::string deviceId = kDefaultDeviceId;
  SimFaults faults;  // silentObjects held in lowercase

  std::string transcript;
  std::size_t transcriptLimit = kDefaultTranscriptLimit;
  std::uint64_t bytesWritten = 0;
  std::vector<std::string> pjlLines;
  std::vector<std::string> queries;
  std::vector<SimSetRecord> sets;
  std::vector<std::string> testPages;
  std::uint64_t jobBytes = 0;
  std::uint64_t echoes = 0;
  std::uint64_t replies = 0;
  std::vector<std::string> portOps;
  COMMTIMEOUTS lastTimeouts{};
  std::set<SimPort*> ports;
};

// ---- channel ------------------------------------------------------------------

struct SimChannel::Impl {
  SimPrinter::State* state;
  std::condition_variable readable;
  std::deque<Chunk> output;
  std::uint64_t replies = 0;

  // Parser state.
  bool dataMode = false;  // print data until the next UEL
  std::size_t uelMatched = 0;
  std::string line;
  std::size_t lineBytes = 0;  // raw bytes of the current line, LF excluded
  bool lineTooLong = false;

  // All of the following run with state->mutex held.
  void Feed(char byte);
  void FeedMode(char byte);
  void EndLine();
  void HandleCommand(const std::string& command);
  void HandleDminfo(const std::string& command, const std::string& arguments);
  void HandleDmcmd(const std::string& arguments);
  void QueueReply(const std::string& reply);
};

namespace {

// Returns the text between the quotes of ASCIIHEX="...", or false when the
// arguments do not have that form.
bool ParseAsciiHex(const std::string& arguments, std::string* payload) {
  std::size_t i = 0;
  while (i < arguments.size() && IsSpace(arguments[i])) ++i;
  static const std::string kKey = "asciihex";
  if (Lower(arguments.substr(i, kKey.size())) != kKey) return false;
  i += kKey.size();
  while (i < arguments.size() && IsSpace(arguments[i])) ++i;
  if (i >= arguments.size() || arguments[i] != '=') return false;
  ++i;
  while (i < arguments.size() && IsSpace(arguments[i])) ++i;
  if (i >= arguments.size() || arguments[i] != '"') return false;
  const std::size_t close = arguments.find('"', i + 1);
  if (close == std::string::npos) return false;
  for (std::size_t k = close + 1; k < arguments.size(); ++k) {
    if (!IsSpace(arguments[k])) return false;
  }
  *payload = arguments.substr(i + 1, close - i - 1);
  return true;
}

// Decodes the value part of a DMCMD payload (type/length word already
// split off). False when the digits do not fit the announced type and length.
bool DecodeSetValue(DWORD type, DWORD length, const std::string& digits, SimObject* value) {
  value->type = type;
  value->number = 0;
  value->text.clear();
  if (type == kTypeEmpty) return true;
  if (length == 0) {
    // A zero length carries the placeholder "ffff" in place of digits.
    if (Lower(digits) != "ffff") return false;
    if (type == kTypeNegativeNumber) value->type = kTypePaddedNumber;
    return type != kTypePrefixedString;
  }
  if (IsStringType(type)) {
    std::string hex = digits;
    DWORD count = length;
    if (type == kTypePrefixedString) {
      if (length < 2 || digits.size() < 4 || digits.substr(0, 4) != "0115") return false;
      hex = digits.substr(4);
      count = length - 2;
    }
    if (hex.size() != 2 * static_cast<std::size_t>(count)) return false;
    return ParseHexBytes(hex, &value->text);
  }
  if (type == kTypeNegativeNumber) {
    // The word announces 2 bytes; the digits are either the low 16 bits or
    // the whole 32-bit two's complement. Either way the negative number is
    // kept in 32 bits.
    DWORD raw = 0;
    if (!ParseHex32(digits, &raw)) return false;
    if (digits.size() == 2 * static_cast<std::size_t>(length) && length < 4) {
      const DWORD bits = 8 * length;
      if (raw & (1u << (bits - 1))) raw |= ~((1u << bits) - 1);
    } else if (digits.size() != 8) {
      return false;
    }
    value->type = kTypePaddedNumber;
    value->number = raw;
    return true;
  }
  if (length > 4 || digits.size() != 2 * static_cast<std::size_t>(length)) return false;
  return ParseHex32(digits, &value->number);
}

}  // namespace

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

void SimChannel::Impl::HandleDminfo(const std::string& command, const std::string& arguments) {
  std::string payload;
  std::string id;
  const bool wellFormed = ParseAsciiHex(arguments, &payload) && payload.size() > 4 &&
                          payload.compare(0, 4, "0000") == 0 &&
                          IdentifierDigits(payload.substr(4)) == payload.size() - 4;
  if (wellFormed) id = payload.substr(4);
  PushBounded(state->queries, wellFormed ? id : payload);
  const std::string key = Lower(id);
  if (wellFormed && state->faults.silentObjects.count(key) != 0) return;
  const auto found = wellFormed ? state->objects.find(key) : state->objects.end();
  if (found == state->objects.end()) {
    if (state->faults.unknown == UnknownObjectReply::Silent) return;
    QueueReply(command + "\r\n\f");
    return;
  }
  QueueReply(command + "\r\n\"" + EncodeRecord(id, found->second) + "\"\r\n\f");
}

void SimChannel::Impl::HandleDmcmd(const std::string& arguments) {
  SimSetRecord record;
  std::string payload;
  bool ok = ParseAsciiHex(arguments, &payload) && payload.size() > 4 &&
            payload.compare(0, 4, "0400") == 0;
  std::size_t idDigits = ok ? IdentifierDigits(payload.substr(4)) : 0;
  ok = ok && idDigits > 0 && payload.size() >= 4 + idDigits + 4;
  if (ok) {
    record.objectId = payload.substr(4, idDigits);
    DWORD word = 0;
    ok = ParseHex32(payload.substr(4 + idDigits, 4), &word);
    record.type = word >> 10;
    record.length = word & 0x3FF;
    ok =
        ok && record.type <= kTypeNegativeNumber &&
        DecodeSetValue(record.type, record.length, payload.substr(4 + idDigits + 4), &record.value);
  } else {
    record.objectId = payload;
  }
  if (ok) {
    const auto found = state->objects.find(Lower(record.objectId));
    if (found != state->objects.end()) {
      found->second = record.value;
      record.applied = true;
    }
  }
  PushBounded(state->sets, record);
}

void SimChannel::Impl::HandleCommand(const std::string& command) {
  PushBounded(state->pjlLines, command);
  // Command word after "@PJL".
  std::size_t i = 4;
  while (i < command.size() && IsSpace(command[i])) ++i;
  std::size_t end = i;
  while (end < command.size() && !IsSpace(command[end]) && command[end] != '=') ++end;
  const std::string word = Lower(command.substr(i, end - i));
  const std::string rest = command.substr(end);

  if (word == "echo") {
    ++state->echoes;
    std::string text = rest.empty() ? rest : rest.substr(1);  // one blank separates
    QueueReply("@PJL ECHO" + (text.empty() ? std::string() : " " + text) + "\r\n\f");
    return;
  }
  if (word == "dminfo") {
    HandleDminfo(command, rest);
    return;
  }
  if (word == "dmcmd") {
    HandleDmcmd(rest);
    return;
  }
  if (word == "set") {
    std::size_t k = 0;
    while (k < rest.size() && IsSpace(rest[k])) ++k;
    static const std::string kTestPage = "testpage";
    if (Lower(rest.substr(k, kTestPage.size())) == kTestPage) {
      k += kTestPage.size();
      while (k < rest.size() && IsSpace(rest[k])) ++k;
      if (k < rest.size() && rest[k] == '=') {
        std::string name = rest.substr(k + 1);
        const auto first = name.find_first_not_of(" \t");
        const auto last = name.find_last_not_of(" \t");
        name = first == std::string::npos ? std::string() : name.substr(first, last - first + 1);
        PushBounded(state->testPages, name);
        return;
      }
    }
  }
  if (word == "enter") dataMode = true;  // "@PJL ENTER LANGUAGE=..." starts print data
  state->jobBytes += lineBytes + 1;
}

void SimChannel::Impl::EndLine() {
  std::string text = line;
  const bool tooLong = lineTooLong;
  const std::size_t raw = lineBytes;
  line.clear();
  lineBytes = 0;
  lineTooLong = false;
  if (!text.empty() && text.back() == '\r') text.pop_back();
  const bool isCommand =
      !tooLong && text.compare(0, 4, "@PJL") == 0 && (text.size() == 4 || IsSpace(text[4]));
  if (isCommand) {
    lineBytes = raw;
    HandleCommand(text);
    lineBytes = 0;
    return;
  }
  state->jobBytes += raw + 1;
  const bool blank = text.find_first_not_of(" \t\r\f") == std::string::npos;
  if (!blank || tooLong) dataMode = true;
}

void SimChannel::Impl::FeedMode(char byte) {
  if (dataMode) {
    ++state->jobBytes;
    return;
  }
  if (byte == '\n') {
    EndLine();
    return;
  }
  // Anything but PJL or blanks at the start of a line is print data.
  if (line.empty() && !lineTooLong && byte != '@' && byte != ' ' && byte != '\t' && byte != '\r' &&
      byte != '\f') {
    dataMode = true;
    ++state->jobBytes;
    return;
  }
  ++lineBytes;
  if (line.size() < kMaxLineLength) {
    line.push_back(byte);
  } else {
    lineTooLong = true;
  }
}

void SimChannel::Impl::Feed(char byte) {
  if (byte == kUel[uelMatched]) {
    if (++uelMatched == kUelLength) {
      uelMatched = 0;
      // A UEL ends whatever came before it and returns to PJL commands. A
      // partial line before it is taken as a line of its own.
      if (!dataMode && (lineBytes > 0 || lineTooLong)) EndLine();
      dataMode = false;
      line.clear();
      lineBytes = 0;
      lineTooLong = false;
    }
    return;
  }
  // Not a UEL after all: the held bytes are ordinary input.
  const std::size_t held = uelMatched;
  uelMatched = 0;
  for (std::size_t k = 0; k < held; ++k) FeedMode(kUel[k]);
  if (byte == kUel[0]) {
    uelMatched = 1;
    return;
  }
  FeedMode(byte);
}

SimChannel::SimChannel(SimPrinter::State* state) : impl_(std::make_unique<Impl>()) {
  impl_->state = state;
}

SimChannel::~SimChannel() = default;

void SimChannel::Write(const void* data, std::size_t size) {
  SimPrinter::State* s = impl_->state;
  std::lock_guard<std::mutex> guard(s->mutex);
  const char* bytes = static_cast<const char*>(data);
  s->bytesWritten += size;
  if (s->transcript.size() < s->transcriptLimit) {
    s->transcript.append(bytes, std::min(size, s->transcriptLimit - s->transcript.size()));
  }
  for (std::size_t i = 0; i < size; ++i) impl_->Feed(bytes[i]);
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

std::chrono::milliseconds SimChannel::TimeUntilReadable() const {
  std::lock_guard<std::mutex> guard(impl_->state->mutex);
  if (impl_->output.empty()) return std::chrono::milliseconds(-1);
  const auto wait = impl_->output.front().readyAt - Clock::now();
  if (wait <= Clock::duration::zero()) return std::chrono::milliseconds(0);
  return std::chrono::ceil<std::chrono::milliseconds>(wait);
}

std::uint64_t SimChannel::Replies() const {
  std::lock_guard<std::mutex> guard(impl_->state->mutex);
  return impl_->replies;
}

void SimChannel::Reset() {
  std::lock_guard<std::mutex> guard(impl_->state->mutex);
  impl_->output.clear();
  impl_->dataMode = false;
  impl_->uelMatched = 0;
  impl_->line.clear();
  impl_->lineBytes = 0;
  impl_->lineTooLong = false;
}

// ---- port monitor table -----------------------------------------------------------

namespace {

struct SimPort {
  std::uint32_t magic = kPortMagic;
  SimPrinter::State* state = nullptr;  // null once the printer is gone
  std::unique_ptr<SimChannel> channel;
  COMMTIMEOUTS timeouts{0, 0, SimPrinter::kDefaultReadTimeoutMs, 0, 0};
};

SimPort* PortOf(HANDLE handle) {
  auto* port = static_cast<SimPort*>(handle);
  if (port == nullptr || port->magic != kPortMagic) return nullptr;
  return port;
}

// The port's printer, or null (last error set) when the handle is bad or
// the printer has been destroyed.
SimPort* LivePort(HANDLE handle) {
  SimPort* port = PortOf(handle);
  if (port == nullptr || port->state == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return port;
}

void RecordOp(SimPrinter::State* state, const char* op) {
  std::lock_guard<std::mutex> guard(state->mutex);
  PushBounded(state->portOps, std::string(op));
}

BOOL SimOpenPort(void* context, LPWSTR, PHANDLE handle) {
  if (handle == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto* state = static_cast<SimPrinter::State*>(context);
  try {
    auto port = std::make_unique<SimPort>();
    port->state = state;
    port->channel = std::make_unique<SimChannel>(state);
    std::lock_guard<std::mutex> guard(state->mutex);
    PushBounded(state->portOps, std::string("OpenPort"));
    state->ports.insert(port.get());
    *handle = port.release();
    return TRUE;
  } catch (...) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
}

BOOL WINAPI SimStartDocPort(HANDLE handle, LPWSTR, DWORD, DWORD, LPBYTE) {
  SimPort* port = LivePort(handle);
  if (port == nullptr) return FALSE;
  RecordOp(port->state, "StartDocPort");
  return TRUE;
}

BOOL WINAPI SimEndDocPort(HANDLE handle) {
  SimPort* port = LivePort(handle);
  if (port == nullptr) return FALSE;
  RecordOp(port->state, "EndDocPort");
  return TRUE;
}

BOOL WINAPI SimWritePort(HANDLE handle, LPBYTE buffer, DWORD size, LPDWORD written) {
  if (written) *written = 0;
  SimPort* port = LivePort(handle);
  if (port == nullptr) return FALSE;
  if (buffer == nullptr && size != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  try {
    port->channel->Write(buffer, size);
  } catch (...) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  if (written) *written = size;
  return TRUE;
}

BOOL WINAPI SimReadPort(HANDLE handle, LPBYTE buffer, DWORD size, LPDWORD read) {
  if (read) *read = 0;
  SimPort* port = LivePort(handle);
  if (port == nullptr) return FALSE;
  COMMTIMEOUTS t;
  {
    std::lock_guard<std::mutex> guard(port->state->mutex);
    t = port->timeouts;
  }
  const std::uint64_t total = static_cast<std::uint64_t>(t.ReadTotalTimeoutConstant) +
                              static_cast<std::uint64_t>(t.ReadTotalTimeoutMultiplier) * size;
  const std::size_t n = port->channel->Read(
      buffer, size, std::chrono::milliseconds(std::min<std::uint64_t>(total, 0xFFFFFFFFu)));
  if (read) *read = static_cast<DWORD>(n);
  return TRUE;
}

BOOL WINAPI SimClosePort(HANDLE handle) {
  SimPort* port = PortOf(handle);
  if (port == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (port->state != nullptr) {
    std::lock_guard<std::mutex> guard(port->state->mutex);
    PushBounded(port->state->portOps, std::string("ClosePort"));
    port->state->ports.erase(port);
  }
  port->magic = 0;
  delete port;
  return TRUE;
}

BOOL WINAPI SimSetPortTimeOuts(HANDLE handle, LPCOMMTIMEOUTS timeouts, DWORD) {
  SimPort* port = LivePort(handle);
  if (port == nullptr) return FALSE;
  if (timeouts == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard<std::mutex> guard(port->state->mutex);
  port->timeouts = *timeouts;
  port->state->lastTimeouts = *timeouts;
  PushBounded(port->state->portOps, std::string("SetPortTimeOuts"));
  return TRUE;
}

BOOL WINAPI SimGetPrinterDataFromPort(HANDLE handle, DWORD controlId, LPWSTR, LPWSTR, DWORD,
                                      LPWSTR outBuffer, DWORD outSize, LPDWORD returned) {
  SimPort* port = LivePort(handle);
  if (port == nullptr) return FALSE;
  if (controlId != IOCTL_PAR_QUERY_DEVICE_ID) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  std::string id;
  {
    std::lock_guard<std::mutex> guard(port->state->mutex);
    PushBounded(port->state->portOps, std::string("GetPrinterDataFromPort"));
    id = port->state->deviceId.substr(0, 0xFFFF - 2);
  }
  // IEEE 1284: a big-endian 16-bit length that counts its own two bytes.
  const DWORD needed = static_cast<DWORD>(id.size() + 2);
  if (returned) *returned = needed;
  if (outBuffer == nullptr || outSize < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  auto* out = reinterpret_cast<unsigned char*>(outBuffer);
  out[0] = static_cast<unsigned char>(needed >> 8);
  out[1] = static_cast<unsigned char>(needed & 0xFF);
  std::memcpy(out + 2, id.data(), id.size());
  return TRUE;
}

constexpr portmonitor::PortOperations kSimOperations = {
    .OpenPort = &SimOpenPort,
    .StartDocPort = &SimStartDocPort,
    .WritePort = &SimWritePort,
    .ReadPort = &SimReadPort,
    .EndDocPort = &SimEndDocPort,
    .ClosePort = &SimClosePort,
    .GetPrinterDataFromPort = &SimGetPrinterDataFromPort,
    .SetPortTimeOuts = &SimSetPortTimeOuts,
};

}  // namespace

// ---- printer --------------------------------------------------------------------

SimPrinter::SimPrinter() : state_(std::make_unique<State>()) {
  state_->objects = DefaultObjects();
  channel_ = std::make_unique<SimChannel>(state_.get());
  table_ = std::make_unique<portmonitor::PortMonitorTable>(kSimOperations, state_.get());
}

SimPrinter::~SimPrinter() {
  table_.reset();  // no port opens on a printer that is going
  std::lock_guard<std::mutex> guard(state_->mutex);
  for (SimPort* port : state_->ports) {
    port->state = nullptr;
    port->channel.reset();
  }
  state_->ports.clear();
}

void SimPrinter::SetObjects(SimObjectMap objects) {
  SimObjectMap lowered;
  for (auto& [id, object] : objects) lowered[Lower(id)] = std::move(object);
  std::lock_guard<std::mutex> guard(state_->mutex);
  state_->objects = std::move(lowered);
}

SimObjectMap SimPrinter::Objects() const {
  std::lock_guard<std::mutex> guard(state_->mutex);
  return state_->objects;
}

void SimPrinter::SetNumber(const std::string& objectId, DWORD type, DWORD value) {
  if (type == kTypeNegativeNumber) type = kTypePaddedNumber;
  std::lock_guard<std::mutex> guard(state_->mutex);
  state_->objects[Lower(objectId)] = SimObject{type, value, {}};
}

void SimPrinter::SetString(const std::string& objectId, DWORD type, const std::string& value) {
  std::lock_guard<std::mutex> guard(state_->mutex);
  state_->objects[Lower(objectId)] = SimObject{type, 0, value};
}

void SimPrinter::RemoveObject(const std::string& objectId) {
  std::lock_guard<std::mutex> guard(state_->mutex);
  state_->objects.erase(Lower(objectId));
}

bool SimPrinter::FindObject(const std::string& objectId, SimObject* out) const {
  std::lock_guard<std::mutex> guard(state_->mutex);
  const auto found = state_->objects.find(Lower(objectId));
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
  for (const std::string& id : faults.silentObjects) copy.silentObjects.insert(Lower(id));
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

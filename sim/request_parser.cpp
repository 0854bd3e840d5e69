#include "request_parser.h"

#include "wire_text.h"

namespace langmon::sim {

namespace {

constexpr char kUel[] = "\x1b%-12345X";
constexpr std::size_t kUelLength = sizeof(kUel) - 1;
constexpr char kQueryCode[] = "0000";
constexpr char kSetCode[] = "0400";
constexpr std::size_t kCodeDigits = 4;
constexpr std::size_t kTypeLengthDigits = 4;

std::size_t SkipSpaces(const std::string& text, std::size_t at) {
  while (at < text.size() && IsBlank(text[at])) ++at;
  return at;
}

// Returns the text between the quotes of ASCIIHEX="...", or false when the
// arguments do not have that form.
bool ParseAsciiHex(const std::string& arguments, std::string* payload) {
  static const std::string kKey = "asciihex";
  std::size_t i = SkipSpaces(arguments, 0);
  if (FoldCase(arguments.substr(i, kKey.size())) != kKey) return false;
  i = SkipSpaces(arguments, i + kKey.size());
  if (i >= arguments.size() || arguments[i] != '=') return false;
  i = SkipSpaces(arguments, i + 1);
  if (i >= arguments.size() || arguments[i] != '"') return false;
  const std::size_t close = arguments.find('"', i + 1);
  if (close == std::string::npos || SkipSpaces(arguments, close + 1) != arguments.size())
    return false;
  *payload = arguments.substr(i + 1, close - i - 1);
  return true;
}

// A DMCMD payload: request code, identifier, type/length word, value digits.
bool DecodeSetPayload(const std::string& payload, SimSetRecord* record) {
  const std::size_t idDigits = IdentifierDigits(payload.substr(kCodeDigits));
  if (idDigits == 0 || payload.size() < kCodeDigits + idDigits + kTypeLengthDigits) return false;
  record->objectId = payload.substr(kCodeDigits, idDigits);
  DWORD word = 0;
  const bool ok = ParseHex32(payload.substr(kCodeDigits + idDigits, kTypeLengthDigits), &word);
  record->type = static_cast<ValueType>(word >> 10);
  record->length = word & 0x3FF;
  return ok && record->type <= ValueType::NegativeNumber &&
         DecodeSetValue(record->type, record->length,
                        payload.substr(kCodeDigits + idDigits + kTypeLengthDigits), &record->value);
}

}  // namespace

void RequestParser::Feed(const char* bytes, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) FeedByte(bytes[i]);
}

void RequestParser::Reset() {
  dataMode_ = false;
  uelMatched_ = 0;
  line_.clear();
  lineBytes_ = 0;
  lineTooLong_ = false;
}

void RequestParser::FeedByte(char byte) {
  if (byte == kUel[uelMatched_]) {
    if (++uelMatched_ == kUelLength) {
      uelMatched_ = 0;
      // A UEL ends whatever came before it and returns to PJL commands. A
      // partial line before it is taken as a line of its own.
      if (!dataMode_ && (lineBytes_ > 0 || lineTooLong_)) EndLine();
      Reset();
    }
    return;
  }
  // Not a UEL after all: the held bytes are ordinary input.
  const std::size_t held = uelMatched_;
  uelMatched_ = 0;
  for (std::size_t k = 0; k < held; ++k) FeedMode(kUel[k]);
  if (byte == kUel[0]) {
    uelMatched_ = 1;
    return;
  }
  FeedMode(byte);
}

void RequestParser::FeedMode(char byte) {
  if (dataMode_) {
    sink_.OnJobBytes(1);
    return;
  }
  if (byte == '\n') {
    EndLine();
    return;
  }
  // Anything but PJL or blanks at the start of a line is print data.
  if (line_.empty() && !lineTooLong_ && byte != '@' && byte != ' ' && byte != '\t' &&
      byte != '\r' && byte != '\f') {
    dataMode_ = true;
    sink_.OnJobBytes(1);
    return;
  }
  ++lineBytes_;
  if (line_.size() < kMaxLineLength) {
    line_.push_back(byte);
  } else {
    lineTooLong_ = true;
  }
}

void RequestParser::EndLine() {
  std::string text = line_;
  const bool tooLong = lineTooLong_;
  const std::size_t raw = lineBytes_;
  line_.clear();
  lineBytes_ = 0;
  lineTooLong_ = false;
  if (!text.empty() && text.back() == '\r') text.pop_back();
  const bool isCommand =
      !tooLong && text.compare(0, 4, "@PJL") == 0 && (text.size() == 4 || IsBlank(text[4]));
  if (isCommand) {
    Command(text, raw);
    return;
  }
  sink_.OnJobBytes(raw + 1);
  const bool blank = text.find_first_not_of(" \t\r\f") == std::string::npos;
  if (!blank || tooLong) dataMode_ = true;
}

void RequestParser::Command(const std::string& line, std::size_t rawBytes) {
  sink_.OnCommand(line);
  // The command word after "@PJL".
  const std::size_t start = SkipSpaces(line, 4);
  std::size_t end = start;
  while (end < line.size() && !IsBlank(line[end]) && line[end] != '=') ++end;
  const std::string word = FoldCase(line.substr(start, end - start));
  const std::string rest = line.substr(end);
  if (word == "echo") {
    sink_.OnEcho(rest.empty() ? rest : rest.substr(1));  // one blank separates
    return;
  }
  if (word == "dminfo") return Query(line, rest);
  if (word == "dmcmd") return Set(rest);
  if (word == "set" && SetCommand(rest)) return;
  if (word == "enter") dataMode_ = true;  // "@PJL ENTER LANGUAGE=..." starts print data
  sink_.OnJobBytes(rawBytes + 1);
}

// "TESTPAGE=<name>" is recorded; any other SET is not (false).
bool RequestParser::SetCommand(const std::string& rest) {
  static const std::string kTestPage = "testpage";
  std::size_t k = SkipSpaces(rest, 0);
  if (FoldCase(rest.substr(k, kTestPage.size())) != kTestPage) return false;
  k = SkipSpaces(rest, k + kTestPage.size());
  if (k >= rest.size() || rest[k] != '=') return false;
  std::string name = rest.substr(k + 1);
  const auto first = name.find_first_not_of(" \t");
  const auto last = name.find_last_not_of(" \t");
  name = first == std::string::npos ? std::string() : name.substr(first, last - first + 1);
  sink_.OnTestPage(name);
  return true;
}

void RequestParser::Query(const std::string& line, const std::string& arguments) {
  std::string payload;
  const bool wellFormed =
      ParseAsciiHex(arguments, &payload) && payload.size() > kCodeDigits &&
      payload.compare(0, kCodeDigits, kQueryCode) == 0 &&
      IdentifierDigits(payload.substr(kCodeDigits)) == payload.size() - kCodeDigits;
  sink_.OnQuery(line, wellFormed ? payload.substr(kCodeDigits) : payload, wellFormed);
}

void RequestParser::Set(const std::string& arguments) {
  SimSetRecord record;
  std::string payload;
  const bool framed = ParseAsciiHex(arguments, &payload) && payload.size() > kCodeDigits &&
                      payload.compare(0, kCodeDigits, kSetCode) == 0;
  const bool wellFormed = framed && DecodeSetPayload(payload, &record);
  if (!framed || record.objectId.empty()) record.objectId = payload;
  sink_.OnSet(record, wellFormed);
}

}  // namespace langmon::sim

// How the simulated printer reads its input. Input starts in PJL mode and
// returns to it after every UEL (also one split across writes). In PJL mode
// a line that starts with "@PJL" followed by a blank or the line end is a
// command; a line that starts with anything else, or "@PJL ENTER", switches
// to print data until the next UEL. The parser keeps no printer state: it
// tells its sink what it read, one call per command or run of job bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "object_store.h"

namespace langmon::sim {

// One "@PJL DMCMD" line as received and what became of it.
struct SimSetRecord {
  std::string objectId;  // as written by the host
  ValueType type{};      // type from the type/length word
  DWORD length = 0;      // length from the type/length word
  SimObject value;       // the value as it was stored (or would have been)
  bool applied = false;  // false: unknown object or malformed payload
};

class RequestSink {
 public:
  virtual ~RequestSink() = default;
  // Every PJL command line, without its line end.
  virtual void OnCommand(const std::string& line) = 0;
  // "@PJL ECHO" and the text after its one separating blank.
  virtual void OnEcho(const std::string& text) = 0;
  // "@PJL DMINFO": the line as received, for the reply to repeat, and the
  // identifier asked for; when the payload is no well-formed query,
  // `wellFormed` is false and `id` holds the payload as written.
  virtual void OnQuery(const std::string& line, const std::string& id, bool wellFormed) = 0;
  // "@PJL DMCMD": the set line decoded, `applied` still false; `wellFormed`
  // is false when the payload or its value does not decode.
  virtual void OnSet(const SimSetRecord& record, bool wellFormed) = 0;
  // "@PJL SET TESTPAGE=<name>".
  virtual void OnTestPage(const std::string& name) = 0;
  // Bytes of print data and of PJL lines that are not answered or recorded
  // otherwise (UELs excluded).
  virtual void OnJobBytes(std::uint64_t count) = 0;
};

class RequestParser {
 public:
  explicit RequestParser(RequestSink& sink) : sink_(sink) {}

  void Feed(const char* bytes, std::size_t size);
  // Drops any partial line; back to PJL mode.
  void Reset();

  // A PJL line longer than this is no command; its bytes count as job data.
  static constexpr std::size_t kMaxLineLength = 4096;

 private:
  void FeedByte(char byte);
  void FeedMode(char byte);
  void EndLine();
  void Command(const std::string& line, std::size_t rawBytes);
  bool SetCommand(const std::string& rest);
  void Query(const std::string& line, const std::string& arguments);
  void Set(const std::string& arguments);

  RequestSink& sink_;
  bool dataMode_ = false;  // print data until the next UEL
  std::size_t uelMatched_ = 0;
  std::string line_;
  std::size_t lineBytes_ = 0;  // raw bytes of the current line, LF excluded
  bool lineTooLong_ = false;
};

}  // namespace langmon::sim

// langmon-printer's --transcript: every byte the printer receives, on any
// connection, written to a file as it arrives, without a cap, so that the
// file is complete while the server still runs and whatever way it ends.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>

namespace langmon::printer {

class TranscriptFile {
 public:
  TranscriptFile() = default;
  ~TranscriptFile();
  TranscriptFile(const TranscriptFile&) = delete;
  TranscriptFile& operator=(const TranscriptFile&) = delete;

  // Creates or truncates the file. False with a message on failure.
  bool Open(const std::string& path, std::string& error);
  // Called on the first failed write, once, with the message; later bytes
  // are not written (a transcript with a hole would mislead).
  void OnFailure(std::function<void(const std::string& message)> onFailure);
  // Writes the bytes whole (the printer calls it in arrival order).
  void Write(const char* data, std::size_t size);
  // Closes the file; false with a message when a write or the close failed.
  bool Close(std::string& error);

 private:
  void Fail(const std::string& what);

  int fd_ = -1;
  std::string path_;
  std::string error_;
  std::atomic<bool> failed_{false};
  std::function<void(const std::string&)> onFailure_;
};

}  // namespace langmon::printer

#include "transcript.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "plumbing.h"

namespace langmon::printer {

TranscriptFile::~TranscriptFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool TranscriptFile::Open(const std::string& path, std::string& error) {
  path_ = path;
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd_ < 0) {
    error = "cannot write the transcript " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

void TranscriptFile::OnFailure(std::function<void(const std::string& message)> onFailure) {
  onFailure_ = std::move(onFailure);
}

void TranscriptFile::Write(const char* data, std::size_t size) {
  if (fd_ < 0 || failed_.load()) return;
  if (!ports::WriteAll(fd_, std::string_view(data, size))) Fail(std::strerror(errno));
}

void TranscriptFile::Fail(const std::string& what) {
  if (failed_.exchange(true)) return;
  error_ = "cannot write the transcript " + path_ + ": " + what;
  if (onFailure_) onFailure_(error_);
}

bool TranscriptFile::Close(std::string& error) {
  if (fd_ >= 0 && ::close(fd_) != 0) Fail(std::strerror(errno));
  fd_ = -1;
  error = error_;
  return !failed_.load();
}

}  // namespace langmon::printer

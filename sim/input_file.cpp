#include "input_file.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace langmon::sim {

namespace {

using Clock = std::chrono::steady_clock;

// One open input and what reading it has come to.
struct Input {
  const std::string& path;
  const InputLimits& limits;
  int fd = -1;
  bool regular = false;
  std::string& bytes;
  std::string& error;

  InputResult Refuse(const std::string& why) {
    error = path + ": " + why;
    return InputResult::Refused;
  }
  InputResult RefuseErrno(const char* doing, int cause) {
    return Refuse(std::string(doing) + " the " + limits.kind + ": " + std::strerror(cause));
  }
  InputResult TooLarge() {
    return Refuse(std::string("larger than ") + SizeText(limits.maxBytes) +
                  ", the size limit of the " + limits.kind);
  }
};

// Milliseconds poll() may wait: until the deadline, or for ever without one.
int WaitMs(const Input& in) {
  if (!in.limits.deadline) return -1;
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(*in.limits.deadline - Clock::now());
  return static_cast<int>(std::clamp<long long>(left.count(), 0, 1 << 30));
}

bool PastDeadline(const Input& in) {
  return in.limits.deadline && Clock::now() >= *in.limits.deadline;
}

// A pipe or a device may have nothing yet: waits until it has (or ends).
// False when the deadline came first.
bool WaitForData(const Input& in) {
  for (;;) {
    pollfd p{in.fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, WaitMs(in));
    if (ready > 0 || (ready < 0 && errno != EINTR)) return true;  // read() tells the rest
    if (ready == 0) return false;
  }
}

// Checks what the descriptor is: a folder is refused, a regular file by its
// size before anything is read.
std::optional<InputResult> CheckKind(Input& in) {
  struct stat st {};
  if (::fstat(in.fd, &st) != 0) return in.RefuseErrno("cannot read", errno);
  if (S_ISDIR(st.st_mode))
    return in.Refuse(std::string("cannot read the ") + in.limits.kind + ": it is a folder");
  in.regular = S_ISREG(st.st_mode);
  if (in.regular && static_cast<std::size_t>(st.st_size) > in.limits.maxBytes) return in.TooLarge();
  if (in.regular) in.bytes.reserve(static_cast<std::size_t>(st.st_size));
  return std::nullopt;
}

InputResult ReadAll(Input& in) {
  char chunk[1 << 16];
  for (;;) {
    if (PastDeadline(in) || (!in.regular && !WaitForData(in))) return InputResult::TimeUp;
    const ssize_t n = ::read(in.fd, chunk, sizeof chunk);
    if (n == 0) return InputResult::Read;
    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    if (n < 0) return in.RefuseErrno("cannot read", errno);
    // A file that grows past its limit while it is read is refused too.
    if (in.bytes.size() + static_cast<std::size_t>(n) > in.limits.maxBytes) return in.TooLarge();
    in.bytes.append(chunk, static_cast<std::size_t>(n));
  }
}

}  // namespace

InputResult ReadInputFile(const std::string& path, const InputLimits& limits, std::string& bytes,
                          std::string& error) {
  bytes.clear();
  Input in{path, limits, -1, false, bytes, error};
  in.fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (in.fd < 0) return in.RefuseErrno("cannot open", errno);
  std::optional<InputResult> refused = CheckKind(in);
  const InputResult result = refused ? *refused : ReadAll(in);
  ::close(in.fd);
  if (result != InputResult::Read) bytes.clear();
  return result;
}

std::string SizeText(std::size_t bytes) {
  if (bytes % (1u << 20) == 0) return std::to_string(bytes >> 20) + " MiB";
  if (bytes % (1u << 10) == 0) return std::to_string(bytes >> 10) + " KiB";
  return std::to_string(bytes) + " bytes";
}

}  // namespace langmon::sim

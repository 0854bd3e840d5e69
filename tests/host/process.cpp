#include "process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "build_paths.h"

extern char** environ;

namespace langmon::host::testing {

namespace {

using Clock = std::chrono::steady_clock;

std::vector<char*> Argv(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  return argv;
}

int StatusOf(int wstatus) {
  if (WIFEXITED(wstatus)) return WEXITSTATUS(wstatus);
  if (WIFSIGNALED(wstatus)) return 128 + WTERMSIG(wstatus);
  return -1;
}

}  // namespace

namespace {

// The parent's ends of the child's standard streams; -1 once closed.
struct ChildPipes {
  int in = -1;
  int out = -1;
  int err = -1;
};

void CloseEnd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

// Starts the program with its standard streams on pipes; -1 when it cannot.
pid_t Spawn(const std::vector<std::string>& args, ChildPipes& pipes) {
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC)) {
    ADD_FAILURE() << "pipe failed";
    return -1;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  pid_t pid = -1;
  std::vector<char*> argv = Argv(args);
  const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  close(err[1]);
  pipes = {in[1], out[0], err[0]};
  if (rc != 0) {
    ADD_FAILURE() << "cannot start " << args[0] << ": " << strerror(rc);
    CloseEnd(pipes.in);
    CloseEnd(pipes.out);
    CloseEnd(pipes.err);
    return -1;
  }
  fcntl(pipes.in, F_SETFL, O_NONBLOCK);
  return pid;
}

// Reads what is there; closes the end at the end of the stream.
void ReadSome(int& fd, short revents, std::string& to) {
  if (fd < 0 || !(revents & (POLLIN | POLLHUP | POLLERR))) return;
  char buffer[8192];
  const ssize_t n = read(fd, buffer, sizeof buffer);
  if (n > 0) {
    to.append(buffer, static_cast<std::size_t>(n));
  } else if (n == 0 || errno != EINTR) {
    CloseEnd(fd);
  }
}

// Writes what the pipe takes; closes the end once everything is fed.
void FeedSome(int& fd, short revents, const std::string& input, std::size_t& fed) {
  if (fd < 0 || !(revents & (POLLOUT | POLLERR | POLLHUP))) return;
  const ssize_t n = write(fd, input.data() + fed, input.size() - fed);
  if (n > 0) fed += static_cast<std::size_t>(n);
  if (n < 0 || fed == input.size()) CloseEnd(fd);
}

}  // namespace

ProcessResult Run(const std::vector<std::string>& args, const std::string& input,
                  std::chrono::milliseconds limit) {
  ProcessResult result;
  // A program that exits before reading all its input must not take the
  // test down with it.
  signal(SIGPIPE, SIG_IGN);
  ChildPipes pipes;
  const pid_t pid = Spawn(args, pipes);
  if (pid < 0) return result;
  if (input.empty()) CloseEnd(pipes.in);
  std::size_t fed = 0;
  const auto deadline = Clock::now() + limit;
  bool killed = false;
  while (pipes.out >= 0 || pipes.err >= 0) {
    pollfd fds[3] = {{pipes.out, POLLIN, 0}, {pipes.err, POLLIN, 0}, {pipes.in, POLLOUT, 0}};
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0 && !killed) {
      kill(pid, SIGKILL);
      killed = true;
      ADD_FAILURE() << args[0] << " ran too long and was killed";
    }
    if (poll(fds, 3, left > 0 ? static_cast<int>(std::min<long long>(left, 1000)) : 100) < 0 &&
        errno != EINTR)
      break;
    ReadSome(pipes.out, fds[0].revents, result.out);
    ReadSome(pipes.err, fds[1].revents, result.err);
    FeedSome(pipes.in, fds[2].revents, input, fed);
  }
  CloseEnd(pipes.in);
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  result.status = StatusOf(wstatus);
  return result;
}

int WaitForExit(pid_t pid, const std::string& what, std::chrono::milliseconds limit) {
  const auto end = Clock::now() + limit;
  int wstatus = 0;
  for (pid_t done; (done = waitpid(pid, &wstatus, WNOHANG)) != pid;) {
    if (done < 0 && errno != EINTR) {
      ADD_FAILURE() << "waiting for " << what << ": " << strerror(errno);
      return -1;
    }
    if (Clock::now() > end) {
      kill(pid, SIGKILL);
      waitpid(pid, &wstatus, 0);
      ADD_FAILURE() << what << " was still running after "
                    << std::chrono::duration_cast<std::chrono::seconds>(limit).count()
                    << " s and was killed";
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return StatusOf(wstatus);
}

ProcessResult RunLangmon(std::vector<std::string> args, const std::string& input,
                         std::chrono::milliseconds limit) {
  args.insert(args.begin(), build_paths::kCli);
  return Run(args, input, limit);
}

ProcessResult RunWithStdout(const std::vector<std::string>& args, int out) {
  ProcessResult result;
  int err[2];
  if (pipe2(err, O_CLOEXEC)) {
    ADD_FAILURE() << "pipe failed";
    return result;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out, 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t pipeSignal;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &pipeSignal);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  pid_t pid = -1;
  std::vector<char*> argv = Argv(args);
  const int rc = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  close(err[1]);
  if (rc != 0) {
    ADD_FAILURE() << "cannot start " << args[0] << ": " << strerror(rc);
    close(err[0]);
    return result;
  }
  char buffer[4096];
  for (ssize_t n; (n = read(err[0], buffer, sizeof buffer)) != 0;)
    if (n > 0)
      result.err.append(buffer, static_cast<std::size_t>(n));
    else if (errno != EINTR)
      break;
  close(err[0]);
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  result.status = StatusOf(wstatus);
  return result;
}

PrinterServer::PrinterServer(const std::vector<std::string>& options) {
  std::vector<std::string> args = {build_paths::kPrinter, "--port", "0"};
  args.insert(args.end(), options.begin(), options.end());
  int out[2];
  if (pipe2(out, O_CLOEXEC)) {
    ADD_FAILURE() << "pipe failed";
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  std::vector<char*> argv = Argv(args);
  const int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  out_ = out[0];
  if (rc != 0) {
    ADD_FAILURE() << "cannot start langmon-printer: " << strerror(rc);
    pid_ = -1;
    return;
  }
  // The first line names the port: "listening on 127.0.0.1:PORT".
  std::string line;
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (line.find('\n') == std::string::npos && Clock::now() < deadline) {
    pollfd p{out_, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    char c[256];
    const ssize_t n = read(out_, c, sizeof c);
    if (n <= 0) break;
    line.append(c, static_cast<std::size_t>(n));
  }
  const std::size_t colon = line.rfind(':', line.find('\n'));
  if (line.rfind("listening on 127.0.0.1:", 0) != 0 || colon == std::string::npos) {
    ADD_FAILURE() << "langmon-printer did not say where it listens: " << line;
    return;
  }
  port_ = static_cast<unsigned>(std::stoul(line.substr(colon + 1)));
}

PrinterServer::~PrinterServer() { Stop(); }

int PrinterServer::Stop() {
  if (pid_ < 0) return -1;
  kill(pid_, SIGTERM);
  const int status = WaitForExit(pid_, "langmon-printer", std::chrono::seconds(30));
  pid_ = -1;
  if (out_ >= 0) close(out_);
  out_ = -1;
  return status;
}

int Connect(unsigned port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

void Send(int fd, const std::string& text) {
  ASSERT_EQ(::send(fd, text.data(), text.size(), MSG_NOSIGNAL), static_cast<ssize_t>(text.size()));
}

Received ReceiveReplies(int fd, int count, std::chrono::milliseconds limit) {
  Received r;
  const auto end = Clock::now() + limit;
  while (std::count(r.bytes.begin(), r.bytes.end(), '\f') < count && Clock::now() < end) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 20) <= 0) continue;
    char buffer[4096];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n < 0) {
      r.error = errno;
      break;
    }
    if (n == 0) {
      r.closed = true;
      break;
    }
    r.bytes.append(buffer, static_cast<std::size_t>(n));
    r.pieces.push_back(static_cast<std::size_t>(n));
  }
  return r;
}

std::string SettingsFile(const std::string& values, const std::string& printer) {
  const std::string path = TempPath("settings.reg");
  WriteFile(
      path,
      "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Print\\Printers\\" +
          printer + "\\PrinterDriverData]\n" + values);
  return path;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

namespace {

// A folder of this test process's own, made afresh (a process ID alone
// repeats across runs, and a folder left by an earlier run would be in the
// way), and removed with everything in it when the process that made it
// ends; a forked child that exits leaves it alone.
class TempFolder {
 public:
  TempFolder() : owner_(getpid()) {
    const char* dir = std::getenv("TMPDIR");
    std::string pattern = std::string(dir && *dir ? dir : "/tmp") + "/langmon-test-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
      std::fprintf(stderr, "cannot make a temporary folder: %s\n", std::strerror(errno));
      std::abort();
    }
    path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ignored;
    if (getpid() == owner_) std::filesystem::remove_all(path_, ignored);
  }
  const std::string& Path() const { return path_; }

 private:
  pid_t owner_;
  std::string path_;
};

}  // namespace

std::string TempPath(const std::string& stem) {
  static const TempFolder folder;
  static std::atomic<int> counter{0};
  return folder.Path() + "/" + std::to_string(counter++) + "-" + stem;
}

}  // namespace langmon::host::testing

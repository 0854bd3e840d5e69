// The machine's floor for a fleet read: the same request/reply round trips
// as a configuration read, with none of the monitor, the host or the
// workers around them.
//
//   round_trip_floor [--per-process N] PRINTERS_FILE [ROUND_TRIPS]
//
// One thread per printer of a langmon-printer printers file connects and
// makes ROUND_TRIPS (default 27: the echo probe and the 26 queries of a
// read) "@PJL ECHO" round trips one after another, each waiting for its
// reply, as the monitor's exchange does; all threads run at once, in one
// process, or with --per-process N in forked processes of N threads each
// (N = 18: the shape of a fleet's worker processes, one printer on each port
// the monitor serves). Prints the wall time in seconds; exit status 1 when a
// printer failed. The fleet benchmark runs it
// beside `langmon config --printers` against the same printers: what the
// machine's processors and kernel allow for that many round trips at once
// is the fleet read's best case.
#include <netdb.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

const char kEntry[] = "\x1b%-12345X@PJL \n";

struct Target {
  std::string host, port;
};

// "socket://HOST:PORT NAME" lines; comments and other lines are left out.
std::vector<Target> ReadPrinters(const char* path) {
  std::vector<Target> targets;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("socket://", 0) != 0) continue;
    const std::string address = line.substr(9, line.find(' ') - 9);
    const std::size_t colon = address.rfind(':');
    if (colon == std::string::npos) continue;
    targets.push_back({address.substr(0, colon), address.substr(colon + 1)});
  }
  return targets;
}

int Connect(const Target& target) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(target.host.c_str(), target.port.c_str(), &hints, &found) != 0) return -1;
  const int fd = ::socket(found->ai_family, found->ai_socktype, found->ai_protocol);
  if (fd >= 0 && ::connect(fd, found->ai_addr, found->ai_addrlen) != 0) {
    ::close(fd);
    ::freeaddrinfo(found);
    return -1;
  }
  ::freeaddrinfo(found);
  return fd;
}

// The round trips on one printer; false when one failed.
bool RoundTrips(const Target& target, int count) {
  const int fd = Connect(target);
  if (fd < 0) return false;
  bool ok = ::send(fd, kEntry, sizeof kEntry - 1, MSG_NOSIGNAL) == sizeof kEntry - 1;
  for (int i = 0; ok && i < count; ++i) {
    const std::string query = "@PJL ECHO " + std::to_string(i) + "\r\n";
    ok = ::send(fd, query.data(), query.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(query.size());
    // The reply ends with a form feed.
    for (char buffer[512]; ok;) {
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      ok = n > 0;
      if (ok && buffer[n - 1] == '\f') break;
    }
  }
  ::close(fd);
  return ok;
}

// The printers targets[begin, end), one thread each; how many failed.
int RunThreads(const std::vector<Target>& targets, std::size_t begin, std::size_t end, int count) {
  std::atomic<int> failed{0};
  std::vector<std::thread> threads;
  for (std::size_t i = begin; i < end; ++i)
    threads.emplace_back([&failed, &target = targets[i], count] {
      if (!RoundTrips(target, count)) ++failed;
    });
  for (std::thread& thread : threads) thread.join();
  return failed.load();
}

// The printers in forked processes of `perProcess` threads each; how many
// processes had a printer fail or could not be started.
int RunProcesses(const std::vector<Target>& targets, std::size_t perProcess, int count) {
  std::vector<pid_t> children;
  int failed = 0;
  for (std::size_t begin = 0; begin < targets.size(); begin += perProcess) {
    const pid_t pid = ::fork();
    if (pid == 0)
      std::_Exit(
          RunThreads(targets, begin, std::min(begin + perProcess, targets.size()), count) ? 1 : 0);
    if (pid < 0) {
      ++failed;  // the processes already started are still waited for
      break;
    }
    children.push_back(pid);
  }
  for (const pid_t pid : children) {
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
      ++failed;
  }
  return failed;
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t perProcess = 0;
  if (argc >= 3 && std::strcmp(argv[1], "--per-process") == 0) {
    perProcess = static_cast<std::size_t>(std::atoi(argv[2]));
    argc -= 2;
    argv += 2;
    if (perProcess == 0) argc = 0;  // a usage error
  }
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: round_trip_floor [--per-process N] PRINTERS_FILE [ROUND_TRIPS]\n");
    return 2;
  }
  const std::vector<Target> targets = ReadPrinters(argv[1]);
  const int count = argc == 3 ? std::atoi(argv[2]) : 27;
  if (targets.empty() || count <= 0) {
    std::fprintf(stderr, "round_trip_floor: no printers in %s, or no round trips\n", argv[1]);
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  const int failed = perProcess ? RunProcesses(targets, perProcess, count)
                                : RunThreads(targets, 0, targets.size(), count);
  const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
  std::printf("%.6f\n", wall.count());
  if (failed > 0)
    std::fprintf(stderr, "round_trip_floor: %d %s failed\n", failed,
                 perProcess ? "processes" : "printers");
  return failed > 0 ? 1 : 0;
}

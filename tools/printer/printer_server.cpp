#include "printer_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

namespace langmon::sim {

namespace {

constexpr int kIdlePollMs = 50;

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// A socket address as text: "10.0.0.5:49152", "[::1]:49152". (Appended
// piece by piece: GCC 12 at -O3 takes "[" + std::string + "]:" for an
// overlapping copy.)
std::string AddressText(const sockaddr_storage& addr) {
  char text[INET6_ADDRSTRLEN] = "?";
  std::string out;
  unsigned port = 0;
  if (addr.ss_family == AF_INET6) {
    const auto& in6 = reinterpret_cast<const sockaddr_in6&>(addr);
    ::inet_ntop(AF_INET6, &in6.sin6_addr, text, sizeof text);
    out.append("[").append(text).append("]");
    port = ntohs(in6.sin6_port);
  } else {
    const auto& in = reinterpret_cast<const sockaddr_in&>(addr);
    ::inet_ntop(AF_INET, &in.sin_addr, text, sizeof text);
    out.append(text);
    port = ntohs(in.sin_port);
  }
  return out.append(":").append(std::to_string(port));
}

std::string Peer(int fd) {
  sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  if (::getpeername(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return "?";
  return AddressText(addr);
}

// A numeric IPv4 or IPv6 address and a port as a socket address.
bool ToSocketAddress(const std::string& address, unsigned port, sockaddr_storage& addr,
                     socklen_t& len) {
  addr = {};
  auto& in = reinterpret_cast<sockaddr_in&>(addr);
  auto& in6 = reinterpret_cast<sockaddr_in6&>(addr);
  if (::inet_pton(AF_INET, address.c_str(), &in.sin_addr) == 1) {
    in.sin_family = AF_INET;
    in.sin_port = htons(static_cast<std::uint16_t>(port));
    len = sizeof in;
    return true;
  }
  if (::inet_pton(AF_INET6, address.c_str(), &in6.sin6_addr) == 1) {
    in6.sin6_family = AF_INET6;
    in6.sin6_port = htons(static_cast<std::uint16_t>(port));
    len = sizeof in6;
    return true;
  }
  return false;
}

// Sends everything, waiting for room as needed; false when the peer is gone
// or the server is stopping.
bool SendAll(int fd, const char* data, std::size_t size, const std::atomic<bool>& stopping) {
  while (size > 0) {
    const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      data += n;
      size -= static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (stopping.load()) return false;
      pollfd p{fd, POLLOUT, 0};
      ::poll(&p, 1, kIdlePollMs);
      continue;
    }
    return false;
  }
  return true;
}

}  // namespace

struct PrinterServer::Connection {
  int fd = -1;
  std::string peer;
  std::thread thread;
  std::atomic<bool> done{false};
};

PrinterServer::PrinterServer(SimPrinter& printer, ServerOptions options)
    : printer_(printer), options_(std::move(options)) {}

PrinterServer::~PrinterServer() {
  Stop();
  Reap(true);
  CloseFd(listenFd_);
  CloseFd(wakePipe_[0]);
  CloseFd(wakePipe_[1]);
}

AddressScope ScopeOfAddress(const std::string& address) {
  sockaddr_storage addr{};
  socklen_t len = 0;
  if (!ToSocketAddress(address, 0, addr, len)) return AddressScope::Invalid;
  if (addr.ss_family == AF_INET6) {
    const in6_addr& a = reinterpret_cast<const sockaddr_in6&>(addr).sin6_addr;
    if (IN6_IS_ADDR_UNSPECIFIED(&a)) return AddressScope::Any;
    return IN6_IS_ADDR_LOOPBACK(&a) ? AddressScope::Loopback : AddressScope::Interface;
  }
  const std::uint32_t a = ntohl(reinterpret_cast<const sockaddr_in&>(addr).sin_addr.s_addr);
  if (a == INADDR_ANY) return AddressScope::Any;
  return (a >> 24) == 127 ? AddressScope::Loopback : AddressScope::Interface;
}

bool PrinterServer::Listen(std::string& error) {
  if (::pipe2(wakePipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
    error = std::string("pipe: ") + std::strerror(errno);
    return false;
  }
  sockaddr_storage addr{};
  socklen_t len = 0;
  if (options_.port > 65535 || !ToSocketAddress(options_.address, options_.port, addr, len)) {
    error = "bad address " + options_.address + " or port " + std::to_string(options_.port);
    return false;
  }
  listenFd_ = ::socket(addr.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) {
    error = std::string("socket: ") + std::strerror(errno);
    return false;
  }
  const int one = 1;
  ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
      ::listen(listenFd_, 16) != 0) {
    error = "cannot listen on " + AddressText(addr) + ": " + std::strerror(errno);
    return false;
  }
  len = sizeof addr;
  ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
  endpoint_ = AddressText(addr);
  port_ = addr.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6&>(addr).sin6_port)
                                     : ntohs(reinterpret_cast<sockaddr_in&>(addr).sin_port);
  return true;
}

std::string PrinterServer::Endpoint() const { return endpoint_; }

void PrinterServer::Stop() {
  stopping_.store(true);
  if (wakePipe_[1] >= 0) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakePipe_[1], &byte, 1);
  }
}

void PrinterServer::Reap(bool all) {
  std::list<std::unique_ptr<Connection>> finished;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    for (auto it = connections_.begin(); it != connections_.end();) {
      if (all || (*it)->done.load()) {
        if (all && (*it)->fd >= 0) ::shutdown((*it)->fd, SHUT_RDWR);
        finished.push_back(std::move(*it));
        it = connections_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& c : finished) {
    if (c->thread.joinable()) c->thread.join();
    CloseFd(c->fd);
  }
}

void PrinterServer::Admit(int fd) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (connections_.size() >= options_.maxConnections) {
    if (options_.verbose)
      std::fprintf(stderr, "%srefused %s: too many connections\n", Who().c_str(), Peer(fd).c_str());
    ::close(fd);
    return;
  }
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  auto connection = std::make_unique<Connection>();
  connection->fd = fd;
  connection->peer = Peer(fd);
  Connection* raw = connection.get();
  try {
    raw->thread = std::thread([this, raw] { Serve(raw); });
  } catch (const std::system_error& e) {
    // The process is at its thread limit: this client is refused, the
    // server and its other connections go on.
    std::fprintf(stderr, "%srefused %s: cannot start a thread for it (%s)\n", Who().c_str(),
                 raw->peer.c_str(), e.what());
    ::close(fd);
    return;
  }
  ++accepted_;
  connections_.push_back(std::move(connection));
}

void PrinterServer::Run() {
  while (!stopping_.load()) {
    pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
    const int ready = ::poll(fds, 2, 200);
    Reap(false);
    if (ready <= 0 || stopping_.load()) continue;
    if (!(fds[0].revents & POLLIN)) continue;
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    Admit(fd);
  }
  // Connections still waiting in the backlog are refused from here on.
  CloseFd(listenFd_);
  Reap(true);
}

namespace {

// How long a connection waits for input: until its next reply is ready, at
// most kIdlePollMs.
int WaitFor(std::chrono::milliseconds untilReadable) {
  if (untilReadable.count() < 0) return kIdlePollMs;
  return static_cast<int>(std::min<long long>(untilReadable.count(), kIdlePollMs));
}

// Hands what the client sent within `timeout` to the channel. False when
// the connection failed; `peerClosed` once the client has sent all it will.
bool Receive(int fd, SimChannel& channel, int timeout, bool& peerClosed) {
  pollfd p{fd, POLLIN, 0};
  if (::poll(&p, 1, timeout) <= 0) return true;
  char buffer[8192];
  const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
  if (n > 0) {
    channel.Write(buffer, static_cast<std::size_t>(n));
  } else if (n == 0) {
    peerClosed = true;
  } else if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
    return false;
  }
  return true;
}

// Sends everything the channel has ready, pausing between the pieces of a
// split reply. False when the client is gone or the server is stopping.
bool SendReady(int fd, SimChannel& channel, unsigned pauseMs, const std::atomic<bool>& stopping) {
  char buffer[8192];
  for (;;) {
    const std::size_t n = channel.Read(buffer, sizeof buffer, std::chrono::milliseconds(0));
    if (n == 0) return true;
    if (!SendAll(fd, buffer, n, stopping)) return false;
    if (pauseMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
  }
}

}  // namespace

void PrinterServer::Serve(Connection* c) {
  if (options_.verbose)
    std::fprintf(stderr, "%sconnection from %s\n", Who().c_str(), c->peer.c_str());
  std::unique_ptr<SimChannel> channel = printer_.OpenChannel();
  const unsigned pauseMs = printer_.Faults().splitSizes.empty() ? 0 : options_.splitPauseMs;
  bool peerClosed = false;
  bool reset = false;
  while (!stopping_.load()) {
    const auto wait = channel->TimeUntilReadable();
    if (peerClosed) {
      // The client sent all it will; deliver what is still owed, then close.
      if (wait.count() < 0) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(WaitFor(wait)));
    } else if (!Receive(c->fd, *channel, WaitFor(wait), peerClosed)) {
      break;
    }
    if (!SendReady(c->fd, *channel, pauseMs, stopping_)) break;
    if (options_.resetAfter > 0 && channel->Replies() >= options_.resetAfter &&
        channel->Pending() == 0) {
      reset = true;
      break;
    }
  }
  Close(c, reset);
}

void PrinterServer::Close(Connection* c, bool reset) {
  if (reset) {
    // SO_LINGER with a zero time makes close() send RST instead of FIN.
    linger off{1, 0};
    ::setsockopt(c->fd, SOL_SOCKET, SO_LINGER, &off, sizeof off);
  }
  {
    std::lock_guard<std::mutex> guard(mutex_);
    CloseFd(c->fd);
  }
  if (options_.verbose) {
    std::fprintf(stderr, "%s%s %s\n", Who().c_str(), reset ? "reset" : "closed", c->peer.c_str());
  }
  c->done.store(true);
}

}  // namespace langmon::sim

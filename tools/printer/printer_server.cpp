#include "printer_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <set>
#include <utility>

#include "plumbing.h"

namespace langmon::printer {

namespace {

using Clock = std::chrono::steady_clock;
using ports::CloseFd;
using sim::SimChannel;
using sim::SimPrinter;

constexpr int kMaxEvents = 256;
constexpr std::size_t kIoSize = 8192;
constexpr int kAcceptBatch = 64;
// When accept fails for want of descriptors or memory, the listener rests
// this long instead of waking the loop again at once.
constexpr auto kAcceptRest = std::chrono::milliseconds(100);

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

}  // namespace

struct PrinterServer::Connection {
  PrinterServer* server = nullptr;
  int fd = -1;
  std::string peer;  // kept for the verbose lines only
  std::unique_ptr<SimChannel> channel;
  unsigned pauseMs = 0;                              // between the pieces of a split reply
  std::string unsent;                                // reply bytes the socket had no room for yet
  Clock::time_point notBefore{};                     // the next piece's pause
  Clock::time_point due = Clock::time_point::max();  // in the timer queue unless max
  std::uint32_t events = 0;                          // what the loop watches for
  bool peerClosed = false;                           // the client sent all it will
};

PrinterServer::PrinterServer(SimPrinter& printer, ServerOptions options)
    : printer_(printer), options_(std::move(options)) {}

PrinterServer::~PrinterServer() {
  for (auto& c : connections_) CloseFd(c->fd);  // a loop that did not run to its end
  connections_.clear();
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

void PrinterServer::Run() {
  ServerLoop loop;
  std::string error;
  if (!loop.Open({this}, error)) {
    std::fprintf(stderr, "%s%s\n", Who().c_str(), error.c_str());
    return;
  }
  loop.Run();
}

// ---- the loop --------------------------------------------------------------------

namespace {

// What an epoll event is about: the kind in the low bits of its tag, the
// server or connection in the rest (both are aligned to at least 4).
enum class Kind : std::uintptr_t { Listener = 1, Wake = 2, Connection = 3 };
constexpr std::uintptr_t kKindBits = 3;

constexpr std::uint32_t kIn = EPOLLIN, kOut = EPOLLOUT;

std::uint64_t Tag(Kind kind, const void* object) {
  return reinterpret_cast<std::uintptr_t>(object) | static_cast<std::uintptr_t>(kind);
}

}  // namespace

struct LoopState {
  using Connection = PrinterServer::Connection;

  std::vector<PrinterServer*> servers;
  int epoll = -1;
  std::size_t live = 0;  // servers not yet stopped
  std::set<std::pair<Clock::time_point, Connection*>> timers;
  std::set<std::pair<Clock::time_point, PrinterServer*>> resting;  // listeners out of descriptors

  ~LoopState() { CloseFd(epoll); }
  // Adds a descriptor to the set (EPOLL_CTL_ADD) or changes what it is
  // watched for (EPOLL_CTL_MOD).
  bool Control(int op, int fd, std::uint32_t events, std::uint64_t tag) {
    epoll_event e{};
    e.events = events;
    e.data.u64 = tag;
    return ::epoll_ctl(epoll, op, fd, &e) == 0;
  }
  bool Add(int fd, std::uint32_t events, std::uint64_t tag) {
    return Control(EPOLL_CTL_ADD, fd, events, tag);
  }
  void Watch(Connection* c, std::uint32_t events);
  void Schedule(Connection* c, Clock::time_point due);
  int TimeoutMs(Clock::time_point now) const;
  void Dispatch(const epoll_event& event, Clock::time_point now, bool& woken);
  void Accept(PrinterServer* s, Clock::time_point now);
  void Admit(PrinterServer* s, int fd);
  bool Receive(Connection* c);
  bool Flush(Connection* c);
  void Serve(Connection* c, Clock::time_point now);
  void RunTimers(Clock::time_point now);
  void Close(Connection* c, bool reset);
  void Shut(PrinterServer* s);
  bool Open(const std::vector<PrinterServer*>& servers, std::string& error);
  void Run();
};

void LoopState::Watch(Connection* c, std::uint32_t events) {
  if (events == c->events) return;
  Control(EPOLL_CTL_MOD, c->fd, events, Tag(Kind::Connection, c));
  c->events = events;
}

void LoopState::Schedule(Connection* c, Clock::time_point due) {
  if (due == c->due) return;
  if (c->due != Clock::time_point::max()) timers.erase({c->due, c});
  c->due = due;
  if (due != Clock::time_point::max()) timers.insert({due, c});
}

// Until the next reply or resting listener is due, rounded up so that the
// loop does not wake a little early and spin; -1: nothing is due.
int LoopState::TimeoutMs(Clock::time_point now) const {
  Clock::time_point next = Clock::time_point::max();
  if (!timers.empty()) next = timers.begin()->first;
  if (!resting.empty()) next = std::min(next, resting.begin()->first);
  if (next == Clock::time_point::max()) return -1;
  if (next <= now) return 0;
  const auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - now).count();
  return static_cast<int>(std::min<long long>(wait, 60000));
}

void LoopState::Dispatch(const epoll_event& event, Clock::time_point now, bool& woken) {
  const auto kind = static_cast<Kind>(event.data.u64 & kKindBits);
  void* object = reinterpret_cast<void*>(static_cast<std::uintptr_t>(event.data.u64 & ~kKindBits));
  if (kind == Kind::Listener) {
    Accept(static_cast<PrinterServer*>(object), now);
  } else if (kind == Kind::Wake) {
    char drain[64];
    while (::read(static_cast<PrinterServer*>(object)->wakePipe_[0], drain, sizeof drain) > 0) {
    }
    woken = true;
  } else {
    auto* c = static_cast<Connection*>(object);
    // A hang-up with nothing more to read: the client is gone both ways.
    if ((event.events & (EPOLLHUP | EPOLLERR)) && c->peerClosed) return Close(c, false);
    if ((event.events & (EPOLLIN | EPOLLHUP | EPOLLERR)) && !c->peerClosed && !Receive(c))
      return Close(c, false);
    Serve(c, now);
  }
}

void LoopState::Accept(PrinterServer* s, Clock::time_point now) {
  for (int i = 0; i < kAcceptBatch; ++i) {
    const int fd = ::accept4(s->listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd >= 0) {
      s->outOfDescriptors_ = false;
      Admit(s, fd);
      continue;
    }
    if (errno == EINTR || errno == ECONNABORTED) continue;
    if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
      // Level-triggered, the waiting client would wake the loop at once
      // again: the listener rests, and the client waits in the backlog.
      if (!s->outOfDescriptors_)
        std::fprintf(stderr, "%scannot accept a connection (%s): clients wait until one closes\n",
                     s->Who().c_str(), std::strerror(errno));
      s->outOfDescriptors_ = true;
      Control(EPOLL_CTL_MOD, s->listenFd_, 0, Tag(Kind::Listener, s));
      resting.insert({now + kAcceptRest, s});
    }
    return;
  }
}

void LoopState::Admit(PrinterServer* s, int fd) {
  const bool verbose = s->options_.verbose;
  if (s->connections_.size() >= s->options_.maxConnections) {
    if (verbose)
      std::fprintf(stderr, "%srefused %s: too many connections\n", s->Who().c_str(),
                   Peer(fd).c_str());
    ::close(fd);
    return;
  }
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  auto c = std::make_unique<Connection>();
  c->server = s;
  c->fd = fd;
  if (verbose) c->peer = Peer(fd);
  c->channel = s->printer_.OpenChannel();
  c->pauseMs = s->printer_.Faults().splitSizes.empty() ? 0 : s->options_.splitPauseMs;
  c->events = kIn;
  if (!Add(fd, kIn, Tag(Kind::Connection, c.get()))) {
    std::fprintf(stderr, "%srefused %s: cannot watch it (%s)\n", s->Who().c_str(), Peer(fd).c_str(),
                 std::strerror(errno));
    CloseFd(c->fd);
    return;
  }
  ++s->accepted_;
  if (verbose) std::fprintf(stderr, "%sconnection from %s\n", s->Who().c_str(), c->peer.c_str());
  s->connections_.push_back(std::move(c));
}

// Hands what the client sent to the channel. False when the connection
// failed.
bool LoopState::Receive(Connection* c) {
  char buffer[kIoSize];
  const ssize_t n = ::recv(c->fd, buffer, sizeof buffer, 0);
  if (n > 0) {
    c->channel->Write(buffer, static_cast<std::size_t>(n));
    return true;
  }
  if (n == 0) {
    c->peerClosed = true;
    Watch(c, c->unsent.empty() ? 0 : kOut);
    return true;
  }
  return errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK;
}

// Sends what is left of a reply, as far as the socket takes it. False when
// the client is gone.
bool LoopState::Flush(Connection* c) {
  while (!c->unsent.empty()) {
    const ssize_t n = ::send(c->fd, c->unsent.data(), c->unsent.size(), MSG_NOSIGNAL);
    if (n > 0) {
      c->unsent.erase(0, static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      Watch(c, kOut | (c->peerClosed ? 0 : kIn));
      return true;
    }
    return false;
  }
  Watch(c, c->peerClosed ? 0 : kIn);
  return true;
}

// Sends every reply that is due, then closes the connection when it is
// done with (the client has sent all it will and is owed nothing, or the
// reset is due), or sets the time to look at it again.
void LoopState::Serve(Connection* c, Clock::time_point now) {
  if (!Flush(c)) return Close(c, false);
  char buffer[kIoSize];
  while (c->unsent.empty() && now >= c->notBefore) {
    const std::size_t n = c->channel->Read(buffer, sizeof buffer, std::chrono::milliseconds(0));
    if (n == 0) break;
    c->unsent.assign(buffer, n);
    if (!Flush(c)) return Close(c, false);
    if (c->pauseMs > 0) c->notBefore = now + std::chrono::milliseconds(c->pauseMs);
  }
  if (!c->unsent.empty()) return Schedule(c, Clock::time_point::max());
  const SimChannel& channel = *c->channel;
  const unsigned resetAfter = c->server->options_.resetAfter;
  if (channel.Pending() == 0) {
    if (resetAfter > 0 && channel.Replies() >= resetAfter) return Close(c, true);
    if (c->peerClosed) return Close(c, false);
  }
  Schedule(c, std::max(channel.ReadyAt(), c->notBefore));
}

void LoopState::RunTimers(Clock::time_point now) {
  // Taken out first: serving a connection sets its next time, which must
  // wait for the next turn of the loop.
  std::vector<Connection*> due;
  while (!timers.empty() && timers.begin()->first <= now) {
    Connection* c = timers.begin()->second;
    timers.erase(timers.begin());
    c->due = Clock::time_point::max();
    due.push_back(c);
  }
  for (Connection* c : due) Serve(c, now);
  while (!resting.empty() && resting.begin()->first <= now) {
    PrinterServer* s = resting.begin()->second;
    resting.erase(resting.begin());
    Control(EPOLL_CTL_MOD, s->listenFd_, kIn, Tag(Kind::Listener, s));
  }
}

void LoopState::Close(Connection* c, bool reset) {
  PrinterServer* s = c->server;
  if (reset) {
    // SO_LINGER with a zero time makes close() send RST instead of FIN.
    linger off{1, 0};
    ::setsockopt(c->fd, SOL_SOCKET, SO_LINGER, &off, sizeof off);
  }
  Schedule(c, Clock::time_point::max());
  ::epoll_ctl(epoll, EPOLL_CTL_DEL, c->fd, nullptr);
  CloseFd(c->fd);
  if (s->options_.verbose)
    std::fprintf(stderr, "%s%s %s\n", s->Who().c_str(), reset ? "reset" : "closed",
                 c->peer.c_str());
  s->connections_.remove_if([c](const std::unique_ptr<Connection>& p) { return p.get() == c; });
}

// A stopped server: connections still waiting in the backlog are refused
// from here on, and open ones are shut down.
void LoopState::Shut(PrinterServer* s) {
  ::epoll_ctl(epoll, EPOLL_CTL_DEL, s->listenFd_, nullptr);
  ::epoll_ctl(epoll, EPOLL_CTL_DEL, s->wakePipe_[0], nullptr);
  CloseFd(s->listenFd_);
  for (auto it = resting.begin(); it != resting.end();)
    it = it->second == s ? resting.erase(it) : std::next(it);
  while (!s->connections_.empty()) {
    Connection* c = s->connections_.front().get();
    ::shutdown(c->fd, SHUT_RDWR);
    Close(c, false);
  }
  --live;
}

ServerLoop::ServerLoop() : state_(std::make_unique<LoopState>()) {}
ServerLoop::~ServerLoop() = default;

bool ServerLoop::Open(const std::vector<PrinterServer*>& servers, std::string& error) {
  return state_->Open(servers, error);
}

void ServerLoop::Run() { state_->Run(); }

bool LoopState::Open(const std::vector<PrinterServer*>& given, std::string& error) {
  epoll = ::epoll_create1(EPOLL_CLOEXEC);
  if (epoll < 0) {
    error = std::string("epoll: ") + std::strerror(errno);
    return false;
  }
  for (PrinterServer* s : given) {
    if (s->listenFd_ < 0) continue;
    const int flags = ::fcntl(s->listenFd_, F_GETFL);
    if (flags < 0 || ::fcntl(s->listenFd_, F_SETFL, flags | O_NONBLOCK) != 0 ||
        !Add(s->listenFd_, kIn, Tag(Kind::Listener, s)) ||
        !Add(s->wakePipe_[0], kIn, Tag(Kind::Wake, s))) {
      error = s->Who() + "cannot watch the listening socket: " + std::strerror(errno);
      return false;
    }
    servers.push_back(s);
  }
  live = servers.size();
  return true;
}

void LoopState::Run() {
  epoll_event events[kMaxEvents];
  while (live > 0) {
    const int n = ::epoll_wait(epoll, events, kMaxEvents, TimeoutMs(Clock::now()));
    if (n < 0 && errno != EINTR) {
      std::fprintf(stderr, "langmon-printer: epoll_wait: %s\n", std::strerror(errno));
      break;
    }
    const Clock::time_point now = Clock::now();
    bool woken = false;
    // Each connection comes at most once in a batch and only its own event
    // closes it; stopped servers are shut after the batch, whose later
    // events may still name their connections.
    for (int i = 0; i < n; ++i) Dispatch(events[i], now, woken);
    if (woken)
      for (PrinterServer* s : servers)
        if (s->listenFd_ >= 0 && s->stopping_.load()) Shut(s);
    RunTimers(Clock::now());
  }
  for (PrinterServer* s : servers)
    if (s->listenFd_ >= 0) Shut(s);
}

}  // namespace langmon::printer

#include "misbehaving_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

namespace langmon::testing {

namespace {

constexpr std::size_t kMostFillers = 16;

sockaddr_in Loopback(unsigned port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  return address;
}

// Starts a connect to the port; true when it completed within a moment.
bool ConnectsAtOnce(unsigned port, int& fd) {
  fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  const sockaddr_in address = Loopback(port);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return true;
  pollfd p{fd, POLLOUT, 0};
  return ::poll(&p, 1, 200) > 0;
}

bool IsQuery(const std::string& line) {
  return line.rfind("@PJL ECHO", 0) == 0 || line.rfind("@PJL DMINFO", 0) == 0;
}

}  // namespace

const std::string MisbehavingServer::kGarbage =
    "@PJL USTATUS DEVICE\r\nCODE=10001\r\n\f\x1b\x01\xfe@@\f\"0000\"\r\n\f";

const std::string MisbehavingServer::kWrongReply =
    "@PJL DMINFO ASCIIHEX=\"00000401ffffff\"\r\n\"800000040401ffffff08020001\"\r\n\f";

MisbehavingServer::MisbehavingServer(Misbehaviour how, unsigned count,
                                     std::chrono::milliseconds delay)
    : how_(how), count_(count), delay_(delay) {
  Listen(how == Misbehaviour::FullBacklog ? 0 : SOMAXCONN);
  if (how == Misbehaviour::FullBacklog) {
    FillBacklog();
    return;
  }
  if (::pipe2(wake_, O_CLOEXEC) != 0) ADD_FAILURE() << "pipe failed";
  serve_ = std::thread([this] { Serve(); });
}

MisbehavingServer::~MisbehavingServer() {
  if (wake_[1] >= 0 && ::write(wake_[1], "x", 1) != 1) ADD_FAILURE() << "cannot wake the server";
  // Once the accepting thread is gone, no handler is added any more.
  if (serve_.joinable()) serve_.join();
  for (std::thread& t : handlers_) t.join();
  for (int fd : kept_) ::close(fd);
  for (int fd : {listenFd_, wake_[0], wake_[1]})
    if (fd >= 0) ::close(fd);
}

void MisbehavingServer::Listen(int backlog) {
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = Loopback(0);
  socklen_t size = sizeof address;
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
      ::listen(listenFd_, backlog) != 0 ||
      ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &size) != 0)
    ADD_FAILURE() << "cannot listen on loopback";
  port_ = ntohs(address.sin_port);
}

// Connections nobody accepts fill the queue; from the first that does not
// complete on, every connect waits for ever.
void MisbehavingServer::FillBacklog() {
  for (std::size_t i = 0; i < kMostFillers; ++i) {
    int fd = -1;
    const bool completed = ConnectsAtOnce(port_, fd);
    kept_.push_back(fd);
    if (!completed) return;
  }
  ADD_FAILURE() << "the listen backlog never filled";
}

unsigned long MisbehavingServer::Connections() const { return accepted_.load(); }

std::string MisbehavingServer::Received() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return received_;
}

void MisbehavingServer::Serve() {
  for (;;) {
    pollfd p[2] = {{listenFd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (::poll(p, 2, -1) < 0 || (p[1].revents & POLLIN)) return;
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    ++accepted_;
    std::lock_guard<std::mutex> guard(mutex_);
    if (how_ == Misbehaviour::AcceptAndClose) {
      ::close(fd);
    } else {
      kept_.push_back(fd);
      if (how_ != Misbehaviour::NeverRead) handlers_.emplace_back([this, fd] { Handle(fd); });
    }
  }
}

// Reads until the client closes or the server goes, answering as the kind
// says.
void MisbehavingServer::Handle(int fd) {
  char buffer[16384];
  std::string pending;
  unsigned answered = 0;
  for (;;) {
    pollfd p[2] = {{fd, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (::poll(p, 2, -1) < 0 || (p[1].revents & POLLIN)) return;
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) {
      // The client is done (or gone): close as a printer does.
      std::lock_guard<std::mutex> guard(mutex_);
      std::erase(kept_, fd);
      ::close(fd);
      return;
    }
    {
      std::lock_guard<std::mutex> guard(mutex_);
      received_.append(buffer, static_cast<std::size_t>(n));
    }
    if (how_ == Misbehaviour::Garbage) {
      ::send(fd, kGarbage.data(), kGarbage.size(), MSG_NOSIGNAL);
    } else if (how_ != Misbehaviour::NeverAnswer) {
      pending.append(buffer, static_cast<std::size_t>(n));
      if (!Answer(fd, pending, answered)) return;
    }
  }
}

bool MisbehavingServer::Answer(int fd, std::string& pending, unsigned& answered) {
  for (std::size_t end = pending.find('\n'); end != std::string::npos; end = pending.find('\n')) {
    const std::string line = pending.substr(0, end + 1);
    pending.erase(0, end + 1);
    if (!IsQuery(line)) continue;
    if (how_ == Misbehaviour::ResetAfterReplies && answered == count_) {
      const linger abort{1, 0};
      ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
      std::lock_guard<std::mutex> guard(mutex_);
      std::erase(kept_, fd);
      ::close(fd);  // a reset, with the query unanswered
      return false;
    }
    if (how_ == Misbehaviour::ProbeOnly && line.rfind("@PJL DMINFO", 0) == 0) continue;
    std::this_thread::sleep_for(delay_);
    const bool wrong = how_ == Misbehaviour::WrongReplies && line.rfind("@PJL DMINFO", 0) == 0;
    const std::string reply = wrong ? kWrongReply : line + "\f";
    ::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
    ++answered;
  }
  return true;
}

}  // namespace langmon::testing

// Loopback TCP servers that misbehave the ways printers and networks do, for
// tests that drive the socket port monitor or the langmon command against
// them. Each serves on threads of the test process for as long as it lives.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace langmon::testing {

// The kinds that answer at all answer as a printer that holds no objects
// does: each ECHO or DMINFO line comes back with a form feed behind it, so
// the ECHO probe succeeds and every query is matched but carries no value.
enum class Misbehaviour {
  AcceptAndClose,     // every connection closed at once, nothing read
  NeverAnswer,        // everything read, nothing ever sent back
  NeverRead,          // connections kept, nothing read: writes stall once buffers fill
  ResetAfterReplies,  // answers `count` lines on a connection, resets it at the next
  FullBacklog,        // the listen backlog is full: a connect never completes
  SlowReplies,        // answers every line `delay` late
  Garbage,            // every piece read is answered with bytes that are no reply
  WrongReplies,       // ECHO answered; every DMINFO answered as if another object was asked
  ProbeOnly,          // ECHO answered, no DMINFO: a configuration read takes 90 s
};

class MisbehavingServer {
 public:
  explicit MisbehavingServer(Misbehaviour how, unsigned count = 0,
                             std::chrono::milliseconds delay = {});
  ~MisbehavingServer();
  MisbehavingServer(const MisbehavingServer&) = delete;
  MisbehavingServer& operator=(const MisbehavingServer&) = delete;

  unsigned Port() const { return port_; }
  std::string Uri() const { return "socket://127.0.0.1:" + std::to_string(port_); }
  // Connections accepted so far (none ever for FullBacklog).
  unsigned long Connections() const;
  // Everything read from clients, all connections in arrival order.
  std::string Received() const;

  // What Garbage answers with: PJL-looking lines, form feeds, control and
  // high bytes, none of them a reply to anything.
  static const std::string kGarbage;
  // What WrongReplies answers every DMINFO query with: a whole reply, for an
  // object no query of the monitor names.
  static const std::string kWrongReply;

 private:
  void Listen(int backlog);
  void FillBacklog();
  void Serve();
  void Handle(int fd);
  // Answers the whole lines in `pending`; false once the connection is reset.
  bool Answer(int fd, std::string& pending, unsigned& answered);

  Misbehaviour how_;
  unsigned count_;
  std::chrono::milliseconds delay_;
  int listenFd_ = -1;
  int wake_[2] = {-1, -1};
  unsigned port_ = 0;
  std::atomic<unsigned long> accepted_{0};
  mutable std::mutex mutex_;
  std::string received_;
  std::vector<int> kept_;  // connections held open (and the backlog's fillers)
  std::thread serve_;
  std::vector<std::thread> handlers_;  // one per connection read from
};

}  // namespace langmon::testing

// The TCP side of langmon-printer: serves one simulated printer to any
// number of clients on a TCP port, on loopback unless told otherwise. Each
// connection gets its own channel on the printer (its own parser and output)
// while all share the objects.
//
// One thread serves everything: Run() serves one server, a ServerLoop any
// number of them (a fleet) with one epoll loop. A reply held back by its delay is a
// timer in that loop, so a printer's latency never holds up another printer
// or another connection, and a fleet of hundreds costs one thread.
#pragma once

#include <atomic>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "sim_printer.h"

namespace langmon::printer {

// Where a numeric address given to listen on leads.
enum class AddressScope {
  Invalid,    // not a numeric IPv4 or IPv6 address
  Loopback,   // 127.0.0.0/8 or ::1: this machine only
  Any,        // 0.0.0.0 or ::: every address of this machine
  Interface,  // one address of this machine, reachable from its network
};
AddressScope ScopeOfAddress(const std::string& address);

struct ServerOptions {
  std::string address = "127.0.0.1";  // numeric IPv4 or IPv6
  unsigned port = 9100;               // 0: any free port
  // Close a connection abruptly (RST, SO_LINGER 0) once this many replies
  // have been sent on it; 0: never.
  unsigned resetAfter = 0;
  // Pause between the pieces of a split reply, so that each piece reaches
  // the client in its own segment.
  unsigned splitPauseMs = 5;
  unsigned maxConnections = 64;
  bool verbose = false;  // one line per connection on stderr
  std::string name;      // put before those lines, when not empty
};

class PrinterServer {
 public:
  PrinterServer(sim::SimPrinter& printer, ServerOptions options);
  ~PrinterServer();
  PrinterServer(const PrinterServer&) = delete;
  PrinterServer& operator=(const PrinterServer&) = delete;

  // Creates the listening socket. False with a message on failure.
  bool Listen(std::string& error);
  // The bound port (the chosen one when asked for port 0).
  unsigned Port() const { return port_; }
  // The bound address and port: "127.0.0.1:9100", "[::]:9100".
  std::string Endpoint() const;
  // Serves until Stop(); then closes every connection and returns. (A
  // ServerLoop of this one server.)
  void Run();
  // Makes Run() return. Safe from any thread and from a signal handler.
  void Stop();
  // Connections accepted so far.
  unsigned long Accepted() const { return accepted_.load(); }

 private:
  friend struct LoopState;
  struct Connection;
  // The verbose line's start: the server's name, when it has one.
  std::string Who() const { return options_.name.empty() ? "" : options_.name + ": "; }

  sim::SimPrinter& printer_;
  ServerOptions options_;
  int listenFd_ = -1;
  int wakePipe_[2] = {-1, -1};
  unsigned port_ = 0;
  std::string endpoint_;
  std::atomic<bool> stopping_{false};
  std::atomic<unsigned long> accepted_{0};
  // Owned by the serving thread.
  std::list<std::unique_ptr<Connection>> connections_;
  bool outOfDescriptors_ = false;  // said once until a connection is accepted again
};

// Serves any number of servers on the thread that calls Run(): their
// listening sockets, wake pipes and connections in one epoll set, and every
// reply held back by its delay in one timer queue.
struct LoopState;
class ServerLoop {
 public:
  ServerLoop();
  ~ServerLoop();
  ServerLoop(const ServerLoop&) = delete;
  ServerLoop& operator=(const ServerLoop&) = delete;

  // Takes the servers (each has listened; servers that have not are left
  // out). False with a message when the loop cannot be set up.
  bool Open(const std::vector<PrinterServer*>& servers, std::string& error);
  // Serves until every server has been stopped; by then each has closed
  // its listening socket and its connections.
  void Run();

 private:
  std::unique_ptr<LoopState> state_;
};

}  // namespace langmon::printer

// langmon-printer's printers: one, or with --fleet N independent ones in
// one process. Each printer has its own SimPrinter (its own copy of the
// objects, its own records and faults) and its own PrinterServer on its own
// port. A few threads serve them all, one per processor, each running a
// ServerLoop (printer_server.h) for its share of the printers: a reply held
// back by one printer's latency is a timer there, and never waits behind
// another printer's.
//
// Who may call what: everything but Stop() and Finished() from the thread
// that made the fleet; Stop() and Finished() from any thread, Stop() from a
// signal handler too, once Start() has returned.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "printer_config.h"
#include "printer_server.h"

namespace langmon::printer {

// How a printer of the fleet behaves.
enum class Role {
  Answers,
  Silent,  // answers nothing and keeps the connection
  Resets,  // resets the connection after its first reply
};

// The roles of `count` printers: round(share × count) silent and as many
// resetting, the rest answering. A Fisher-Yates shuffle driven by mt19937
// (whose output the C++ standard fixes) picks them, so a seed picks the
// same printers with every compiler and library. The shares are 0 to 1 and
// together at most 1.
std::vector<Role> ChooseRoles(unsigned count, double silentShare, double resetShare,
                              std::uint32_t seed);

// The printers' names, in the order of their ports: sim-1, sim-2, ...
std::string PrinterName(std::size_t index);

class SimulatedFleet {
 public:
  // One printer per role, each with `config` (its own copy) and the server
  // `options`; printer i listens on options.port + i, or on a free port
  // each when options.port is 0.
  SimulatedFleet(const sim::PrinterConfig& config, const ServerOptions& options,
                 const std::vector<Role>& roles);
  ~SimulatedFleet();
  SimulatedFleet(const SimulatedFleet&) = delete;
  SimulatedFleet& operator=(const SimulatedFleet&) = delete;

  // Every printer listens, or none does: false with a message naming the
  // printer whose port failed.
  bool Listen(std::string& error);
  // Serves every printer on the threads started for them. False with a
  // message when a thread cannot be started; the fleet is then stopped.
  bool Start(std::string& error);
  // Makes every server return; safe from a signal handler.
  void Stop();
  // True once every server has returned (after Stop(), or when none could
  // be served).
  bool Finished() const { return running_.load() == 0; }
  // Waits until every server has returned (after Stop()).
  void Wait();

  std::size_t Size() const { return printers_.size(); }
  sim::SimPrinter& Printer(std::size_t i) { return *printers_[i]; }
  Role RoleOf(std::size_t i) const { return roles_[i]; }
  // "listening on 127.0.0.1:9100", with " (silent)" or " (resets)".
  std::string ListeningLine(std::size_t i) const;
  // The printers file for `langmon --printers`: comment lines naming the
  // silent and resetting printers, then "socket://ADDRESS:PORT sim-N".
  std::string PrintersFile() const;
  unsigned long Accepted() const;
  std::uint64_t Replies() const;

 private:
  std::vector<Role> roles_;
  std::vector<std::unique_ptr<sim::SimPrinter>> printers_;
  std::vector<std::unique_ptr<PrinterServer>> servers_;
  // One loop and thread per processor (at most one per printer), each
  // serving every n-th printer: a burst of replies is sent on every core.
  std::vector<std::unique_ptr<ServerLoop>> loops_;
  std::vector<std::thread> threads_;
  std::atomic<std::size_t> running_{0};  // loops whose thread has not yet returned
};

// Makes room for `printers` printers' descriptors (a listening socket and a
// wake pipe each, and a connection): raises the soft RLIMIT_NOFILE to the
// hard one when it is too low. False with a message when even the hard
// limit is too low.
bool EnsureOpenFiles(unsigned printers, std::string& error);

}  // namespace langmon::printer

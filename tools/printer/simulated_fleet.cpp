#include "simulated_fleet.h"

#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <numeric>
#include <random>
#include <system_error>

#include "printers_file.h"

namespace langmon::printer {

namespace {

using namespace langmon::sim;

// Descriptors a printer needs: its listening socket, its wake pipe's two
// ends and one connection; and what the process needs besides.
constexpr rlim_t kFilesPerPrinter = 4;
constexpr rlim_t kFilesBesides = 64;

unsigned Share(double share, unsigned count) {
  return static_cast<unsigned>(std::floor(share * count + 0.5));
}

}  // namespace

std::vector<Role> ChooseRoles(unsigned count, double silentShare, double resetShare,
                              std::uint32_t seed) {
  std::vector<unsigned> order(count);
  std::iota(order.begin(), order.end(), 0u);
  std::mt19937 random(seed);
  for (unsigned i = count; i > 1; --i) std::swap(order[i - 1], order[random() % i]);
  const unsigned silent = std::min(Share(silentShare, count), count);
  const unsigned resets = std::min(Share(resetShare, count), count - silent);
  std::vector<Role> roles(count, Role::Answers);
  for (unsigned i = 0; i < silent + resets; ++i)
    roles[order[i]] = i < silent ? Role::Silent : Role::Resets;
  return roles;
}

std::string PrinterName(std::size_t index) { return "sim-" + std::to_string(index + 1); }

SimulatedFleet::SimulatedFleet(const PrinterConfig& config, const ServerOptions& options,
                               const std::vector<Role>& roles)
    : roles_(roles) {
  for (std::size_t i = 0; i < roles_.size(); ++i) {
    PrinterConfig own = config;
    ServerOptions serverOptions = options;
    if (options.port != 0) serverOptions.port = options.port + static_cast<unsigned>(i);
    if (roles_.size() > 1) serverOptions.name = PrinterName(i);
    if (roles_[i] == Role::Silent) own.faults.silent = true;
    if (roles_[i] == Role::Resets) serverOptions.resetAfter = 1;
    auto printer = std::make_unique<SimPrinter>();
    ApplyPrinterConfig(own, *printer);
    printer->SetTranscriptLimit(0);  // nothing here reads it back
    servers_.push_back(std::make_unique<PrinterServer>(*printer, serverOptions));
    printers_.push_back(std::move(printer));
  }
}

SimulatedFleet::~SimulatedFleet() {
  Stop();
  Wait();
  servers_.clear();  // before the printers they serve
}

bool SimulatedFleet::Listen(std::string& error) {
  for (std::size_t i = 0; i < servers_.size(); ++i) {
    if (!servers_[i]->Listen(error)) {
      if (servers_.size() > 1) error = PrinterName(i) + ": " + error;
      return false;
    }
  }
  return true;
}

bool SimulatedFleet::Start(std::string& error) {
  const std::size_t count =
      std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, servers_.size());
  std::vector<std::vector<PrinterServer*>> shares(count);
  for (std::size_t i = 0; i < servers_.size(); ++i) shares[i % count].push_back(servers_[i].get());
  for (const auto& share : shares) {
    loops_.push_back(std::make_unique<ServerLoop>());
    if (!loops_.back()->Open(share, error)) break;
    try {
      ServerLoop* loop = loops_.back().get();
      ++running_;
      threads_.emplace_back([this, loop] {
        loop->Run();
        --running_;
      });
    } catch (const std::system_error& e) {
      --running_;
      error = std::string("cannot start a thread to serve the printers (") + e.what() + ")";
      break;
    }
  }
  if (threads_.size() == count) return true;
  Stop();
  Wait();
  return false;
}

void SimulatedFleet::Stop() {
  for (auto& server : servers_) server->Stop();
}

void SimulatedFleet::Wait() {
  for (std::thread& thread : threads_)
    if (thread.joinable()) thread.join();
  threads_.clear();
}

std::string SimulatedFleet::ListeningLine(std::size_t i) const {
  static const char* const kSuffix[] = {"", " (silent)", " (resets)"};
  return "listening on " + servers_[i]->Endpoint() + kSuffix[static_cast<int>(roles_[i])];
}

std::string SimulatedFleet::PrintersFile() const {
  std::string silent, resets;
  std::vector<PrintersEntry> printers;
  for (std::size_t i = 0; i < servers_.size(); ++i) {
    // Appended piece by piece: GCC 12 at -O3 takes " " + std::string for an
    // overlapping copy.
    if (roles_[i] == Role::Silent) silent.append(" ").append(PrinterName(i));
    if (roles_[i] == Role::Resets) resets.append(" ").append(PrinterName(i));
    printers.push_back({"socket://" + servers_[i]->Endpoint(), PrinterName(i)});
  }
  std::vector<std::string> comments = {std::to_string(servers_.size()) + " simulated printers"};
  if (!silent.empty()) comments.push_back("silent:" + silent);
  if (!resets.empty()) comments.push_back("resets:" + resets);
  return WritePrintersText(comments, printers);
}

unsigned long SimulatedFleet::Accepted() const {
  unsigned long total = 0;
  for (const auto& server : servers_) total += server->Accepted();
  return total;
}

std::uint64_t SimulatedFleet::Replies() const {
  std::uint64_t total = 0;
  for (const auto& printer : printers_) total += printer->RepliesSent();
  return total;
}

bool EnsureOpenFiles(unsigned printers, std::string& error) {
  const rlim_t needed = kFilesPerPrinter * printers + kFilesBesides;
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY ||
      limit.rlim_cur >= needed)
    return true;
  if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < needed) {
    error = std::to_string(printers) + " printers need about " + std::to_string(needed) +
            " open files and this machine allows " + std::to_string(limit.rlim_max) +
            " (ulimit -Hn): serve at most " +
            std::to_string((limit.rlim_max - std::min(limit.rlim_max, kFilesBesides)) /
                           kFilesPerPrinter) +
            " printers, or raise the limit";
    return false;
  }
  limit.rlim_cur = limit.rlim_max;
  if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) {
    error = std::string("cannot raise the open-file limit: ") + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace langmon::printer

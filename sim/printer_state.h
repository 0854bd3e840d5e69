// The state one simulated printer shares among its channels and ports.
// Internal to sim/: sim_printer.cpp keeps it, sim_port_monitor.cpp reaches
// it through the port handles. Every field is guarded by `mutex`.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "port_monitor_table.h"
#include "sim_printer.h"

namespace langmon::sim {

// Each record list keeps at most this many entries, so a long-running host
// does not grow without bound.
constexpr std::size_t kMaxRecordEntries = 100000;
constexpr std::size_t kDefaultTranscriptLimit = 16u << 20;

template <typename T>
void PushBounded(std::vector<T>& list, T item) {
  if (list.size() < kMaxRecordEntries) list.push_back(std::move(item));
}

struct SimPort;

struct SimPrinter::State {
  mutable std::mutex mutex;
  SimObjectMap objects;
  std::string deviceId = kDefaultDeviceId;
  SimFaults faults;  // silentObjects held in lowercase

  std::string transcript;
  std::size_t transcriptLimit = kDefaultTranscriptLimit;
  SimPrinter::TranscriptSink transcriptSink;
  std::uint64_t bytesWritten = 0;
  std::vector<std::string> pjlLines;
  std::vector<std::string> queries;
  std::vector<SimSetRecord> sets;
  std::vector<std::string> testPages;
  std::uint64_t jobBytes = 0;
  std::uint64_t echoes = 0;
  std::uint64_t replies = 0;
  std::vector<std::string> portOps;
  COMMTIMEOUTS lastTimeouts{};
  std::set<SimPort*> ports;
};

// The port-monitor entry points (sim_port_monitor.cpp); OpenPort takes the
// printer's State as its context.
const portmonitor::PortOperations& SimPortOperations();
// Cuts the ports still open off a printer that is going: every later call
// on them but ClosePort fails. The caller holds state.mutex.
void DetachPorts(SimPrinter::State& state);

}  // namespace langmon::sim

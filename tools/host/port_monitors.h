// The port monitor behind the monitor's port, made from a device URI.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "device_uri.h"
#include "platform/platform.h"

namespace langmon::sim {
class SimPrinter;
}

namespace langmon::host {

class PortMonitor {
 public:
  virtual ~PortMonitor() = default;
  // The port monitor's table, for OpenPortEx; its OpenPort reaches this
  // port monitor's target.
  virtual const MONITOR& Table() const = 0;
  // A readable account of the port monitor's last failure (may be empty).
  virtual std::string LastMessage() const { return {}; }
  // The simulated printer behind a sim: port; null for other kinds.
  virtual sim::SimPrinter* Printer() { return nullptr; }
  // How many bytes of the last document the printer is known to have taken,
  // when the port monitor can tell more than its writes did (a socket port
  // counts what the printer acknowledged); none otherwise.
  virtual std::optional<std::uint64_t> BytesTaken() const { return std::nullopt; }
};

// The time bounds of the port monitors of one run.
struct PortLimits {
  DWORD connectTimeoutMs = 10000;  // each connect of a socket port
  // The end of the run: the socket and local port monitors wait no longer
  // and fail every call after it. The simulated printer never blocks longer
  // than a read time-out.
  std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
};

// Makes the port monitor a URI names, bound by `limits`. For sim:FILE.json
// the objects (and device ID) are loaded from the file. Returns null with
// `error` set when the objects file cannot be read or is malformed, or the
// kind is not available.
std::unique_ptr<PortMonitor> MakePortMonitor(const DeviceUri& uri, const PortLimits& limits,
                                             std::string& error);

}  // namespace langmon::host

// The port monitor behind the monitor's port, made from a device URI.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "device_uri.h"
#include "platform/platform.h"
#include "sim_printer.h"

namespace langmon::host {

// How much of a document reached the printer.
struct Taken {
  std::uint64_t acknowledged = 0;  // by the printer's TCP
  // The connection failed: the printer drops what it had not read, so what
  // it acknowledged is not known to have reached it.
  bool dropped = false;
};

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
  // What the printer made of the last document, when the port monitor can
  // tell more than its writes did (a socket port counts what the printer
  // acknowledged); none otherwise.
  virtual std::optional<Taken> LastDocumentTaken() const { return std::nullopt; }
  // Confirms that the printer took the request just made, for a port
  // monitor that can tell (a socket port: every byte acknowledged, the
  // connection closed without a reset); false with `error` when it did not.
  // The others have nothing more to confirm once their writes succeeded.
  virtual bool ConfirmRequest(std::string& /*error*/) { return true; }
  // When the printer was last seen taking data, for a port monitor that can
  // see it inside a call (a socket port: sends and acknowledgements); none
  // otherwise, and then only the returns of the writes tell.
  virtual std::optional<std::chrono::steady_clock::time_point> LastProgress() const {
    return std::nullopt;
  }
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

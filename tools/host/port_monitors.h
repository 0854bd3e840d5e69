// The port monitor behind the monitor's port, made from a device URI.
#pragma once

#include <memory>
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
};

// Makes the port monitor a URI names. For sim:FILE.json the objects (and
// device ID) are loaded from the file. Returns null with `error` set when the
// objects file cannot be read or is malformed, or the kind is not available.
std::unique_ptr<PortMonitor> MakePortMonitor(const DeviceUri& uri, std::string& error);

}  // namespace langmon::host

#include "port_monitors.h"

#include "local_port.h"
#include "printer_config.h"
#include "sim_printer.h"
#include "socket_port.h"

namespace langmon::host {

namespace {

class SimPortMonitor : public PortMonitor {
 public:
  SimPortMonitor() : table_(printer_.MonitorTable()) {}
  const MONITOR& Table() const override { return table_; }
  sim::SimPrinter* Printer() override { return &printer_; }

 private:
  sim::SimPrinter printer_;
  MONITOR table_;
};

class SocketPortMonitor : public PortMonitor {
 public:
  explicit SocketPortMonitor(net::SocketTarget target)
      : target_(std::move(target)), table_(net::SocketPortMonitorTable()) {}
  const MONITOR& Table() const override { return table_; }
  // The socket port monitor looks its target up by port name; the empty
  // name serves any port.
  void BindNextOpen() override { net::SetSocketTarget("", target_); }
  std::string LastMessage() const override { return net::SocketPortLastMessage(); }

 private:
  net::SocketTarget target_;
  MONITOR table_;
};

class LocalPortMonitor : public PortMonitor {
 public:
  explicit LocalPortMonitor(LocalPortTarget target) : target_(std::move(target)) {}
  const MONITOR& Table() const override { return LocalPortMonitorTable(); }
  void BindNextOpen() override { host::BindNextOpen(target_); }
  std::string LastMessage() const override { return LocalPortLastMessage(); }

 private:
  LocalPortTarget target_;
};

}  // namespace

std::unique_ptr<PortMonitor> MakePortMonitor(const DeviceUri& uri, std::string& error) {
  switch (uri.kind) {
    case DeviceKind::Sim: {
      auto sim = std::make_unique<SimPortMonitor>();
      if (!uri.path.empty()) {
        // The same file langmon-printer --objects reads: objects, device ID
        // and faults.
        sim::PrinterConfig config;
        if (!sim::LoadPrinterConfig(uri.path, config, error)) return nullptr;
        sim::ApplyPrinterConfig(config, *sim->Printer());
      }
      if (!sim->Table().pfnOpenPort) {
        error = "no room for another simulated printer in this process";
        return nullptr;
      }
      return sim;
    }
    case DeviceKind::Parallel:
      return std::make_unique<LocalPortMonitor>(LocalPortTarget{LocalPortKind::Parallel, uri.path});
    case DeviceKind::Usb:
      return std::make_unique<LocalPortMonitor>(LocalPortTarget{LocalPortKind::Usb, uri.path});
    case DeviceKind::File:
      return std::make_unique<LocalPortMonitor>(LocalPortTarget{LocalPortKind::File, uri.path});
    case DeviceKind::Socket: {
      net::SocketTarget target;
      target.host = uri.host;
      target.port = uri.port;
      return std::make_unique<SocketPortMonitor>(target);
    }
  }
  error = "unknown device kind";
  return nullptr;
}

}  // namespace langmon::host

#include "port_monitors.h"

#include "local_port.h"
#include "printer_config.h"
#include "sim_printer.h"
#include "socket_port.h"

namespace langmon::host {

namespace {

class SimPortMonitor : public PortMonitor {
 public:
  const MONITOR& Table() const override { return printer_.MonitorTable(); }
  sim::SimPrinter* Printer() override { return &printer_; }

 private:
  sim::SimPrinter printer_;
};

class SocketPort : public PortMonitor {
 public:
  explicit SocketPort(ports::SocketTarget target) : monitor_(std::move(target)) {}
  const MONITOR& Table() const override { return monitor_.Table(); }
  std::string LastMessage() const override { return ports::LastMessage(); }
  std::optional<Taken> LastDocumentTaken() const override {
    const ports::DocumentDelivery delivery = monitor_.LastDocument();
    if (!delivery.ended) return std::nullopt;
    return Taken{delivery.acknowledged, delivery.dropped};
  }
  bool ConfirmRequest(std::string& error) override { return monitor_.ConfirmRequest(error); }
  std::optional<std::chrono::steady_clock::time_point> LastProgress() const override {
    return monitor_.LastProgress();
  }

 private:
  ports::SocketPortMonitor monitor_;
};

class LocalPort : public PortMonitor {
 public:
  explicit LocalPort(ports::LocalPortTarget target) : monitor_(std::move(target)) {}
  const MONITOR& Table() const override { return monitor_.Table(); }
  std::string LastMessage() const override { return ports::LastMessage(); }

 private:
  ports::LocalPortMonitor monitor_;
};

}  // namespace

namespace {

std::unique_ptr<PortMonitor> MakeForKind(const DeviceUri& uri, const PortLimits& limits,
                                         std::string& error) {
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
      return sim;
    }
    case DeviceKind::Parallel:
      return std::make_unique<LocalPort>(
          ports::LocalPortTarget{ports::LocalPortKind::Parallel, uri.path, limits.deadline});
    case DeviceKind::Usb:
      return std::make_unique<LocalPort>(
          ports::LocalPortTarget{ports::LocalPortKind::Usb, uri.path, limits.deadline});
    case DeviceKind::File:
      return std::make_unique<LocalPort>(
          ports::LocalPortTarget{ports::LocalPortKind::File, uri.path, limits.deadline});
    case DeviceKind::Socket: {
      ports::SocketTarget target;
      target.host = uri.host;
      target.port = uri.port;
      target.connectTimeoutMs = limits.connectTimeoutMs;
      target.deadline = limits.deadline;
      return std::make_unique<SocketPort>(target);
    }
  }
  error = "unknown device kind";
  return nullptr;
}

}  // namespace

std::unique_ptr<PortMonitor> MakePortMonitor(const DeviceUri& uri, const PortLimits& limits,
                                             std::string& error) {
  std::unique_ptr<PortMonitor> made = MakeForKind(uri, limits, error);
  if (made && !made->Table().pfnOpenPort) {
    error = "no room for another port monitor in this process";
    return nullptr;
  }
  return made;
}

}  // namespace langmon::host

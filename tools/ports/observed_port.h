// A port-monitor table that wraps another one and reports every call to
// observers: the trace of the PJL conversation, the progress line of a
// configuration read, and the record of the first failure of the port
// monitor (its error code and readable message) all come from here.
//
// The wrapper's slots mirror the inner table: a slot the inner table leaves
// null stays null, so the monitor sees exactly what the inner port monitor
// offers.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "port_monitor_table.h"

namespace langmon::ports {

class PortObserver {
 public:
  virtual ~PortObserver() = default;
  virtual void OnOpen(std::u16string_view /*portName*/, bool /*ok*/) {}
  virtual void OnStartDoc(DWORD /*jobId*/, bool /*ok*/) {}
  // `written` bytes of `data` were taken (the whole of `requested` on success).
  virtual void OnWrite(const BYTE* /*data*/, DWORD /*requested*/, DWORD /*written*/, bool /*ok*/) {}
  // Called for every read; `got` may be 0.
  virtual void OnRead(const BYTE* /*data*/, DWORD /*got*/, bool /*ok*/) {}
  virtual void OnEndDoc() {}
  virtual void OnClose() {}
  virtual void OnTimeouts(const COMMTIMEOUTS& /*timeouts*/) {}
  virtual void OnPrinterData(DWORD /*controlId*/, bool /*ok*/, DWORD /*returned*/) {}
  // A call of the inner port monitor failed.
  virtual void OnFailure(std::string_view /*operation*/, DWORD /*error*/,
                         const std::string& /*message*/) {}
};

struct PortFailure {
  std::string operation;  // "OpenPort", "WritePort", ...
  DWORD error = 0;
  std::string message;  // from the inner port monitor, may be empty
};

class ObservedPortMonitor {
 public:
  // `lastMessage` asks the inner port monitor for a readable account of its
  // last failure (may be empty).
  ObservedPortMonitor(const MONITOR& inner, std::function<std::string()> lastMessage);
  ObservedPortMonitor(const ObservedPortMonitor&) = delete;
  ObservedPortMonitor& operator=(const ObservedPortMonitor&) = delete;

  void AddObserver(PortObserver* observer);

  // The table to hand to OpenPortEx; its OpenPort reaches this wrapper.
  MONITOR* Table() { return table_.ForOpenPortEx(); }

  // The first failure of the inner port monitor since the last Reset.
  bool HasFailure() const;
  PortFailure FirstFailure() const;
  void ResetFailure();

  // Internal, for the table's entry points.
  const MONITOR& Inner() const { return inner_; }
  // Observers only watch: nothing they do may fail the port call, and no
  // exception may leave a table entry point.
  template <class Call>
  void Notify(Call&& call) noexcept {
    try {
      std::vector<PortObserver*> observers;
      {
        std::lock_guard<std::mutex> guard(mutex_);
        observers = observers_;
      }
      for (PortObserver* o : observers) call(*o);
    } catch (...) {
    }
  }
  void RecordFailure(std::string_view operation);

 private:
  MONITOR inner_;
  std::function<std::string()> lastMessage_;
  std::vector<PortObserver*> observers_;
  mutable std::mutex mutex_;
  bool failed_ = false;
  PortFailure failure_;
  portmonitor::PortMonitorTable table_;  // last: its OpenPort may run once it is made
};

}  // namespace langmon::ports

#include "fake_port_monitor.h"

#include <algorithm>
#include <cstring>

namespace langmon::testing {

namespace {

struct FakePort {
  FakePortMonitor* owner;
  WString name;
};

FakePortMonitor* OwnerOf(HANDLE port) { return static_cast<FakePort*>(port)->owner; }

BOOL Fail(FakePortMonitor* m) {
  SetLastError(m->failError);
  return FALSE;
}

BOOL FakeOpenPort(void* context, LPWSTR name, PHANDLE handle) {
  auto* m = static_cast<FakePortMonitor*>(context);
  m->Record({"OpenPort", name ? WString(name) : WString(), 0, {}});
  if (m->failOpenPort) return Fail(m);
  *handle = new FakePort{m, name ? WString(name) : WString()};
  return TRUE;
}

BOOL WINAPI FakeStartDocPort(HANDLE port, LPWSTR printer, DWORD jobId, DWORD, LPBYTE) {
  FakePortMonitor* m = OwnerOf(port);
  m->Record({"StartDocPort", printer ? WString(printer) : WString(), jobId, {}});
  return m->failStartDocPort ? Fail(m) : TRUE;
}

BOOL WINAPI FakeWritePort(HANDLE port, LPBYTE data, DWORD count, LPDWORD written) {
  FakePortMonitor* m = OwnerOf(port);
  std::string bytes(reinterpret_cast<const char*>(data), count);
  if (m->failWritePort) {
    m->Record({"WritePort", {}, count, bytes});
    if (written) *written = 0;
    return Fail(m);
  }
  const DWORD accepted = count > m->shortWriteBy ? count - m->shortWriteBy : 0;
  bytes.resize(accepted);
  m->Record({"WritePort", {}, count, bytes});
  if (written) *written = accepted;
  return TRUE;
}

BOOL WINAPI FakeReadPort(HANDLE port, LPBYTE buffer, DWORD size, LPDWORD read) {
  FakePortMonitor* m = OwnerOf(port);
  if (m->recordCalls) m->Record({"ReadPort", {}, size, {}});
  if (read) *read = 0;
  if (m->failReadPort) return Fail(m);
  std::lock_guard<std::mutex> guard(m->mutex);
  if (m->reads.empty() || size == 0) return TRUE;
  std::string& chunk = m->reads.front();
  const DWORD n = std::min<DWORD>(size, static_cast<DWORD>(chunk.size()));
  std::memcpy(buffer, chunk.data(), n);
  chunk.erase(0, n);
  if (chunk.empty()) m->reads.pop_front();
  if (read) *read = n + m->overReportReadBy;
  return TRUE;
}

BOOL WINAPI FakeEndDocPort(HANDLE port) {
  OwnerOf(port)->Record({"EndDocPort", {}, 0, {}});
  return TRUE;
}

BOOL WINAPI FakeClosePort(HANDLE port) {
  auto* fake = static_cast<FakePort*>(port);
  fake->owner->Record({"ClosePort", fake->name, 0, {}});
  delete fake;
  return TRUE;
}

BOOL WINAPI FakeGetPrinterDataFromPort(HANDLE port, DWORD controlId, LPWSTR valueName, LPWSTR,
                                       DWORD, LPWSTR out, DWORD cbOut, LPDWORD returned) {
  FakePortMonitor* m = OwnerOf(port);
  m->Record({"GetPrinterDataFromPort", valueName ? WString(valueName) : WString(), controlId, {}});
  if (m->failGetPrinterData) return Fail(m);
  const DWORD n = std::min<DWORD>(cbOut, static_cast<DWORD>(m->printerData.size()));
  if (out && n) std::memcpy(out, m->printerData.data(), n);
  if (returned) *returned = n;
  return TRUE;
}

BOOL WINAPI FakeSetPortTimeOuts(HANDLE port, LPCOMMTIMEOUTS timeouts, DWORD reserved) {
  FakePortMonitor* m = OwnerOf(port);
  m->Record({"SetPortTimeOuts", {}, timeouts ? timeouts->ReadTotalTimeoutConstant : 0, {}});
  std::lock_guard<std::mutex> guard(m->mutex);
  m->lastTimeoutsReserved = reserved;
  if (timeouts) m->lastTimeouts = *timeouts;
  return TRUE;
}

constexpr portmonitor::PortOperations kFakeOperations = {
    .OpenPort = &FakeOpenPort,
    .StartDocPort = &FakeStartDocPort,
    .WritePort = &FakeWritePort,
    .ReadPort = &FakeReadPort,
    .EndDocPort = &FakeEndDocPort,
    .ClosePort = &FakeClosePort,
    .GetPrinterDataFromPort = &FakeGetPrinterDataFromPort,
    .SetPortTimeOuts = &FakeSetPortTimeOuts,
};

}  // namespace

FakePortMonitor::FakePortMonitor() : bound_(kFakeOperations, this) { table = bound_.Table(); }

void FakePortMonitor::QueueRead(const std::string& bytes) {
  std::lock_guard<std::mutex> guard(mutex);
  reads.push_back(bytes);
}

void FakePortMonitor::Record(FakeCall call) {
  if (!recordCalls && call.op != "OpenPort" && call.op != "ClosePort") return;
  std::lock_guard<std::mutex> guard(mutex);
  calls_.push_back(std::move(call));
}

std::vector<FakeCall> FakePortMonitor::Calls() const {
  std::lock_guard<std::mutex> guard(mutex);
  return calls_;
}

std::vector<std::string> FakePortMonitor::Ops() const {
  std::vector<std::string> ops;
  for (const FakeCall& c : Calls()) ops.push_back(c.op);
  return ops;
}

std::string FakePortMonitor::Written() const {
  std::string all;
  for (const FakeCall& c : Calls())
    if (c.op == "WritePort") all += c.data;
  return all;
}

void FakePortMonitor::ClearCalls() {
  std::lock_guard<std::mutex> guard(mutex);
  calls_.clear();
}

}  // namespace langmon::testing

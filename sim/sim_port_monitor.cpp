// The simulated printer as a port monitor: each port is a channel on the
// printer, and the port handle leads to its printer's state.
#include <algorithm>
#include <cstring>

#include "printer_state.h"

namespace langmon::sim {

namespace {

constexpr std::uint32_t kPortMagic = 0x53494D50;  // "SIMP"

}  // namespace

struct SimPort {
  std::uint32_t magic = kPortMagic;
  SimPrinter::State* state = nullptr;  // null once the printer is gone
  std::unique_ptr<SimChannel> channel;
  COMMTIMEOUTS timeouts{0, 0, SimPrinter::kDefaultReadTimeoutMs, 0, 0};
};

namespace {

SimPort* PortOf(HANDLE handle) {
  auto* port = static_cast<SimPort*>(handle);
  if (port == nullptr || port->magic != kPortMagic) return nullptr;
  return port;
}

// The port's printer, or null (last error set) when the handle is bad or
// the printer has been destroyed.
SimPort* LivePort(HANDLE handle) {
  SimPort* port = PortOf(handle);
  if (port == nullptr || port->state == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return port;
}

void RecordOp(SimPrinter::State* state, const char* op) {
  std::lock_guard<std::mutex> guard(state->mutex);
  PushBounded(state->portOps, std::string(op));
}

BOOL SimOpenPort(void* context, LPWSTR, PHANDLE handle) {
  if (handle == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto* state = static_cast<SimPrinter::State*>(context);
  try {
    auto port = std::make_unique<SimPort>();
    port->state = state;
    port->channel = std::make_unique<SimChannel>(state);
    std::lock_guard<std::mutex> guard(state->mutex);
    PushBounded(state->portOps, std::string("OpenPort"));
    state->ports.insert(port.get());
    *handle = port.release();
    return TRUE;
  } catch (...) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
}

BOOL WINAPI SimStartDocPort(HANDLE handle, LPWSTR, DWORD, DWORD, LPBYTE) {
  SimPort* port = LivePort(handle);
  if (port == nullptr) return FALSE;
  RecordOp(port->state, "StartDocPort");
  return TRUE;
}

BOOL WINAPI SimEndDocPort(HANDLE handle) {
  SimPort* port = LivePort(handle);
  if (port == nullptr) return FALSE;
  RecordOp(port->state, "EndDocPort");
  return TRUE;
}

BOOL WINAPI SimWritePort(HANDLE handle, LPBYTE buffer, DWORD size, LPDWORD written) {
  if (written) *written = 0;
  SimPort* port = LivePort(handle);
  if (port == nullptr) return FALSE;
  if (buffer == nullptr && size != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  try {
    port->channel->Write(buffer, size);
  } catch (...) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  if (written) *written = size;
  return TRUE;
}

BOOL WINAPI SimReadPort(HANDLE handle, LPBYTE buffer, DWORD size, LPDWORD read) {
  if (read) *read = 0;
  SimPort* port = LivePort(handle);
  if (port == nullptr) return FALSE;
  COMMTIMEOUTS t;
  {
    std::lock_guard<std::mutex> guard(port->state->mutex);
    t = port->timeouts;
  }
  const std::uint64_t total = static_cast<std::uint64_t>(t.ReadTotalTimeoutConstant) +
                              static_cast<std::uint64_t>(t.ReadTotalTimeoutMultiplier) * size;
  const std::size_t n = port->channel->Read(
      buffer, size, std::chrono::milliseconds(std::min<std::uint64_t>(total, 0xFFFFFFFFu)));
  if (read) *read = static_cast<DWORD>(n);
  return TRUE;
}

BOOL WINAPI SimClosePort(HANDLE handle) {
  SimPort* port = PortOf(handle);
  if (port == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (port->state != nullptr) {
    std::lock_guard<std::mutex> guard(port->state->mutex);
    PushBounded(port->state->portOps, std::string("ClosePort"));
    port->state->ports.erase(port);
  }
  port->magic = 0;
  delete port;
  return TRUE;
}

BOOL WINAPI SimSetPortTimeOuts(HANDLE handle, LPCOMMTIMEOUTS timeouts, DWORD) {
  SimPort* port = LivePort(handle);
  if (port == nullptr) return FALSE;
  if (timeouts == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard<std::mutex> guard(port->state->mutex);
  port->timeouts = *timeouts;
  port->state->lastTimeouts = *timeouts;
  PushBounded(port->state->portOps, std::string("SetPortTimeOuts"));
  return TRUE;
}

BOOL WINAPI SimGetPrinterDataFromPort(HANDLE handle, DWORD controlId, LPWSTR, LPWSTR, DWORD,
                                      LPWSTR outBuffer, DWORD outSize, LPDWORD returned) {
  SimPort* port = LivePort(handle);
  if (port == nullptr) return FALSE;
  if (controlId != IOCTL_PAR_QUERY_DEVICE_ID) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  std::string id;
  {
    std::lock_guard<std::mutex> guard(port->state->mutex);
    PushBounded(port->state->portOps, std::string("GetPrinterDataFromPort"));
    id = port->state->deviceId.substr(0, kMaxDeviceIdLength);
  }
  // IEEE 1284: a big-endian 16-bit length that counts its own two bytes.
  const DWORD needed = static_cast<DWORD>(id.size() + 2);
  if (returned) *returned = needed;
  if (outBuffer == nullptr || outSize < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  auto* out = reinterpret_cast<unsigned char*>(outBuffer);
  out[0] = static_cast<unsigned char>(needed >> 8);
  out[1] = static_cast<unsigned char>(needed & 0xFF);
  std::memcpy(out + 2, id.data(), id.size());
  return TRUE;
}

constexpr portmonitor::PortOperations kSimOperations = {
    .OpenPort = &SimOpenPort,
    .StartDocPort = &SimStartDocPort,
    .WritePort = &SimWritePort,
    .ReadPort = &SimReadPort,
    .EndDocPort = &SimEndDocPort,
    .ClosePort = &SimClosePort,
    .GetPrinterDataFromPort = &SimGetPrinterDataFromPort,
    .SetPortTimeOuts = &SimSetPortTimeOuts,
};

}  // namespace

const portmonitor::PortOperations& SimPortOperations() { return kSimOperations; }

void DetachPorts(SimPrinter::State& state) {
  for (SimPort* port : state.ports) {
    port->state = nullptr;
    port->channel.reset();
  }
  state.ports.clear();
}

}  // namespace langmon::sim

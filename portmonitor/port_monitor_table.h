// The one way to make a port monitor's MONITOR table and to bind its OpenPort
// to the object behind it.
//
// The monitor's OpenPortEx calls the port monitor's OpenPort with nothing but
// the port name and the place for the handle, so an OpenPort cannot learn
// from its arguments which of several port monitor objects it serves. Every
// later entry point gets the port monitor's own handle and finds its port,
// and from there its object, through it. Only OpenPort needs another way,
// and the one thing that tells two tables' OpenPort apart is its address:
//
// A PortMonitorTable takes one of kOpenPortSlots fixed OpenPort entry points
// for its lifetime and binds it to (Open, context). Copies of its table
// reach the same object, on any thread, also through a table that wraps it.
// When the PortMonitorTable goes, its slot is freed: OpenPort through an old
// copy of the table fails with ERROR_INVALID_HANDLE. With every slot taken
// the table has no OpenPort, which OpenPortEx refuses with
// ERROR_INVALID_PRINT_MONITOR. The object must outlive every call into its
// table, as any port monitor must outlive its ports.
//
// Header only, so that the DLL's load test, which links nothing but the DLL
// and GoogleTest, makes its port monitor the same way.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <utility>

#include "platform/platform.h"

namespace langmon::portmonitor {

// A port monitor's entry points: OpenPort with the context its table was
// made with, the others as they stand in MONITOR. A null entry point leaves
// its slot null; the slots this record does not name are always null.
struct PortOperations {
  BOOL (*OpenPort)(void* context, LPWSTR name, PHANDLE handle) = nullptr;
  decltype(MONITOR::pfnStartDocPort) StartDocPort = nullptr;
  decltype(MONITOR::pfnWritePort) WritePort = nullptr;
  decltype(MONITOR::pfnReadPort) ReadPort = nullptr;
  decltype(MONITOR::pfnEndDocPort) EndDocPort = nullptr;
  decltype(MONITOR::pfnClosePort) ClosePort = nullptr;
  decltype(MONITOR::pfnGetPrinterDataFromPort) GetPrinterDataFromPort = nullptr;
  decltype(MONITOR::pfnSetPortTimeOuts) SetPortTimeOuts = nullptr;
};

// How many tables may have an OpenPort at once in one process.
inline constexpr std::size_t kOpenPortSlots = 64;

namespace detail {

struct Binding {
  BOOL (*open)(void* context, LPWSTR name, PHANDLE handle);
  void* context;
};

inline std::atomic<const Binding*> g_openPortSlots[kOpenPortSlots];

template <std::size_t Slot>
BOOL WINAPI OpenPortThroughSlot(LPWSTR name, PHANDLE handle) {
  const Binding* binding = g_openPortSlots[Slot].load(std::memory_order_acquire);
  if (!binding) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return binding->open(binding->context, name, handle);
}

template <std::size_t... Slots>
constexpr auto MakeOpenPortEntries(std::index_sequence<Slots...>) {
  return std::array<decltype(MONITOR::pfnOpenPort), sizeof...(Slots)>{
      &OpenPortThroughSlot<Slots>...};
}

inline constexpr auto kOpenPortEntries =
    MakeOpenPortEntries(std::make_index_sequence<kOpenPortSlots>{});

}  // namespace detail

class PortMonitorTable {
 public:
  PortMonitorTable(const PortOperations& operations, void* context)
      : binding_{operations.OpenPort, context} {
    table_.pfnStartDocPort = operations.StartDocPort;
    table_.pfnWritePort = operations.WritePort;
    table_.pfnReadPort = operations.ReadPort;
    table_.pfnEndDocPort = operations.EndDocPort;
    table_.pfnClosePort = operations.ClosePort;
    table_.pfnGetPrinterDataFromPort = operations.GetPrinterDataFromPort;
    table_.pfnSetPortTimeOuts = operations.SetPortTimeOuts;
    if (operations.OpenPort) TakeSlot();
  }
  ~PortMonitorTable() {
    if (slot_ < kOpenPortSlots)
      detail::g_openPortSlots[slot_].store(nullptr, std::memory_order_release);
  }
  PortMonitorTable(const PortMonitorTable&) = delete;
  PortMonitorTable& operator=(const PortMonitorTable&) = delete;

  const MONITOR& Table() const { return table_; }
  // The table as OpenPortEx takes it: not const, though it is only read.
  MONITOR* ForOpenPortEx() { return &table_; }

 private:
  void TakeSlot() {
    for (std::size_t slot = 0; slot < kOpenPortSlots; ++slot) {
      const detail::Binding* expected = nullptr;
      if (detail::g_openPortSlots[slot].compare_exchange_strong(expected, &binding_,
                                                                std::memory_order_acq_rel)) {
        slot_ = slot;
        table_.pfnOpenPort = detail::kOpenPortEntries[slot];
        return;
      }
    }
  }

  detail::Binding binding_;
  std::size_t slot_ = kOpenPortSlots;  // none
  MONITOR table_{};
};

}  // namespace langmon::portmonitor

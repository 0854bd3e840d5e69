// WritePort through the monitor against the port monitor's own WritePort,
// with the same sink behind both: a port monitor that copies the data into
// its device buffer. The monitor's share is what a print job pays per write
// for passing through it.
#include <benchmark/benchmark.h>

#include <cstring>

#include "bench_support.h"
#include "port/port_ops.h"
#include "port_monitor_table.h"

namespace {

constexpr DWORD kMaxWrite = 64 * 1024;
alignas(4096) unsigned char g_device[kMaxWrite];
// The data written: the same bytes at the same address for both sides, half
// a page away from the device buffer's alignment. How the source lies
// against the destination (4 KiB aliasing) changes the copy's speed by more
// than the monitor costs.
alignas(4096) unsigned char g_data[kMaxWrite + 4096];
unsigned char* const kSource = g_data + 2048;
int g_sinkHandle;

BOOL SinkOpenPort(void*, LPWSTR, PHANDLE handle) {
  *handle = &g_sinkHandle;
  return TRUE;
}
BOOL WINAPI SinkStartDocPort(HANDLE, LPWSTR, DWORD, DWORD, LPBYTE) { return TRUE; }
BOOL WINAPI SinkWritePort(HANDLE, LPBYTE data, DWORD count, LPDWORD written) {
  std::memcpy(g_device, data, count);
  *written = count;
  return TRUE;
}
BOOL WINAPI SinkReadPort(HANDLE, LPBYTE, DWORD, LPDWORD read) {
  *read = 0;
  return TRUE;
}
BOOL WINAPI SinkEndDocPort(HANDLE) { return TRUE; }
BOOL WINAPI SinkClosePort(HANDLE) { return TRUE; }

langmon::portmonitor::PortMonitorTable g_sink(
    {
        .OpenPort = &SinkOpenPort,
        .StartDocPort = &SinkStartDocPort,
        .WritePort = &SinkWritePort,
        .ReadPort = &SinkReadPort,
        .EndDocPort = &SinkEndDocPort,
        .ClosePort = &SinkClosePort,
    },
    nullptr);

// The table the direct calls go through: not a constant, so the call stays
// an indirect call as it is for the monitor.
MONITOR g_direct = g_sink.Table();

void BM_WritePortDirect(benchmark::State& state) {
  const DWORD size = static_cast<DWORD>(state.range(0));
  unsigned char* data = kSource;
  HANDLE handle = nullptr;
  g_direct.pfnOpenPort(nullptr, &handle);
  for (auto _ : state) {
    DWORD written = 0;
    benchmark::DoNotOptimize(g_direct.pfnWritePort(handle, data, size, &written));
    benchmark::DoNotOptimize(written);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * size);
}

void BM_WritePortThroughMonitor(benchmark::State& state) {
  const DWORD size = static_cast<DWORD>(state.range(0));
  unsigned char* data = kSource;
  MONITOR sink = g_sink.Table();
  HANDLE port = langmon::bench::OpenPort(sink, "LPT1:", "Bench printer");
  if (!port) {
    state.SkipWithError("cannot open the port");
    return;
  }
  // A document in progress: writes are forwarded.
  WCHAR printer[] = LM_W("Bench printer");
  langmon::MonitorTable()->Monitor.pfnStartDocPort(port, printer, 1, 1, nullptr);
  const MONITOR& monitor = langmon::MonitorTable()->Monitor;
  for (auto _ : state) {
    DWORD written = 0;
    benchmark::DoNotOptimize(monitor.pfnWritePort(port, data, size, &written));
    benchmark::DoNotOptimize(written);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * size);
  monitor.pfnEndDocPort(port);
  langmon::bench::ClosePort(port);
}

BENCHMARK(BM_WritePortDirect)->Arg(1)->Arg(4096)->Arg(65536);
BENCHMARK(BM_WritePortThroughMonitor)->Arg(1)->Arg(4096)->Arg(65536);

}  // namespace

// A full "GetConfigObjects" against the in-process simulated printer, which
// answers every object: the entry text, the probe, 25 queries and the exit
// text, each exchange through the monitor's WritePort and ReadPort.
//
// For comparison, the same 26 request/reply round trips made straight on
// the simulated printer's port-monitor table, without the monitor: what is
// left over is the monitor's own share (framing, the registry look-up for
// the time-out, building the queries, scanning and decoding the replies).
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench_support.h"
#include "pjl/pjl_internal.h"
#include "requests/requests.h"
#include "sim_printer.h"

namespace {

using langmon::sim::SimPrinter;

// The simulated printer's WritePort and ReadPort, counted: how many calls a
// request makes into the port monitor is a figure that does not depend on
// how busy the machine is.
MONITOR g_counted;
long g_writes = 0, g_reads = 0;

BOOL WINAPI CountedWritePort(HANDLE port, LPBYTE data, DWORD count, LPDWORD written) {
  ++g_writes;
  return g_counted.pfnWritePort(port, data, count, written);
}
BOOL WINAPI CountedReadPort(HANDLE port, LPBYTE buffer, DWORD size, LPDWORD read) {
  ++g_reads;
  return g_counted.pfnReadPort(port, buffer, size, read);
}

void BM_GetConfigSimPrinter(benchmark::State& state) {
  SimPrinter printer;
  printer.SetTranscriptLimit(0);
  g_counted = printer.MonitorTable();
  MONITOR table = g_counted;
  table.pfnWritePort = &CountedWritePort;
  table.pfnReadPort = &CountedReadPort;
  g_writes = g_reads = 0;
  HANDLE port = langmon::bench::OpenPort(table, "LPT1:", "Bench printer");
  if (!port) {
    state.SkipWithError("cannot open the port");
    return;
  }
  langmon::ConfigRecord record{};
  for (auto _ : state) {
    if (!langmon::bench::ReadFullConfig(port, &record)) {
      state.SkipWithError("the printer did not answer every object");
      break;
    }
    // Keep the printer's records from growing over the run.
    state.PauseTiming();
    printer.ClearRecords();
    state.ResumeTiming();
  }
  const double requests = static_cast<double>(state.iterations());
  state.counters["writes_per_request"] = static_cast<double>(g_writes) / requests;
  state.counters["reads_per_request"] = static_cast<double>(g_reads) / requests;
  langmon::bench::ClosePort(port);
}

// The requests a full read writes, each followed by its reply.
std::vector<std::string> FullReadRequests() {
  std::vector<std::string> requests;
  char text[256];
  langmon::BuildEchoRequest(text, 815);
  requests.push_back(text);
  for (const langmon::ReadStep& step : langmon::kPrinterReadSteps) {
    langmon::BuildQueryLine(text, langmon::SettingAt(step.Position).ObjectId);
    requests.push_back(text);
  }
  return requests;
}

void BM_SimRoundTripsOnly(benchmark::State& state) {
  SimPrinter printer;
  printer.SetTranscriptLimit(0);
  MONITOR table = printer.MonitorTable();
  HANDLE handle = nullptr;
  WCHAR name[] = LM_W("LPT1:");
  if (!table.pfnOpenPort(name, &handle)) {
    state.SkipWithError("cannot open the port");
    return;
  }
  COMMTIMEOUTS timeOuts{10, 0, 10, 0, 0};
  table.pfnSetPortTimeOuts(handle, &timeOuts, 0);
  std::vector<std::string> requests = FullReadRequests();
  std::string entry = langmon::kEntryText, exitText = langmon::kExitText;
  std::vector<char> buffer(langmon::kCollectionBufferSize);
  for (auto _ : state) {
    DWORD n = 0;
    table.pfnWritePort(handle, reinterpret_cast<LPBYTE>(entry.data()),
                       static_cast<DWORD>(entry.size()), &n);
    for (std::string& request : requests) {
      table.pfnWritePort(handle, reinterpret_cast<LPBYTE>(request.data()),
                         static_cast<DWORD>(request.size()), &n);
      DWORD got = 0;
      table.pfnReadPort(handle, reinterpret_cast<LPBYTE>(buffer.data()),
                        static_cast<DWORD>(buffer.size()), &got);
      if (got == 0 || buffer[got - 1] != '\f') {
        state.SkipWithError("no whole reply in one read");
        break;
      }
    }
    table.pfnWritePort(handle, reinterpret_cast<LPBYTE>(exitText.data()),
                       static_cast<DWORD>(exitText.size()), &n);
    state.PauseTiming();
    printer.ClearRecords();
    state.ResumeTiming();
  }
  table.pfnClosePort(handle);
}

BENCHMARK(BM_GetConfigSimPrinter)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SimRoundTripsOnly)->Unit(benchmark::kMicrosecond);

}  // namespace

// A full configuration read over loopback TCP: the monitor on an LPT port
// whose port monitor is the host tools' socket port monitor, against
// langmon-printer's server (the simulated printer served on 127.0.0.1),
// compared with the same 26 request/reply round trips made straight on the
// socket port monitor, on the same kind of connection, without the monitor.
//
// Both sides use the read time-outs the monitor sets by default (10 ms);
// every reply is complete long before that, so neither waits for a time-out.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "pjl/pjl_internal.h"
#include "printer_server.h"
#include "requests/requests.h"
#include "socket_port.h"

namespace {

using langmon::printer::PrinterServer;
using langmon::sim::SimPrinter;

// langmon-printer's server on a free loopback port, for the life of the object.
struct LoopbackPrinter {
  SimPrinter printer;
  std::unique_ptr<PrinterServer> server;
  std::thread thread;
  std::unique_ptr<langmon::ports::SocketPortMonitor> monitor;  // the socket port monitor for it
  bool ok = false;

  LoopbackPrinter() {
    printer.SetTranscriptLimit(0);
    langmon::printer::ServerOptions options;
    options.port = 0;
    server = std::make_unique<PrinterServer>(printer, options);
    std::string error;
    if (!server->Listen(error)) return;
    thread = std::thread([this] { server->Run(); });
    langmon::ports::SocketTarget target;
    target.host = "127.0.0.1";
    target.port = server->Port();
    monitor = std::make_unique<langmon::ports::SocketPortMonitor>(target);
    ok = true;
  }
  ~LoopbackPrinter() {
    server->Stop();
    if (thread.joinable()) thread.join();
  }
};

void BM_TcpGetConfigThroughMonitor(benchmark::State& state) {
  LoopbackPrinter loopback;
  if (!loopback.ok) {
    state.SkipWithError("cannot listen on loopback");
    return;
  }
  MONITOR table = loopback.monitor->Table();
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
    state.PauseTiming();
    loopback.printer.ClearRecords();
    state.ResumeTiming();
  }
  state.counters["round_trips"] = 26;
  langmon::bench::ClosePort(port);
}

void BM_TcpBareRoundTrips(benchmark::State& state) {
  LoopbackPrinter loopback;
  if (!loopback.ok) {
    state.SkipWithError("cannot listen on loopback");
    return;
  }
  MONITOR table = loopback.monitor->Table();
  HANDLE handle = nullptr;
  WCHAR name[] = LM_W("LPT2:");
  if (!table.pfnOpenPort(name, &handle)) {
    state.SkipWithError("cannot open the socket port");
    return;
  }
  COMMTIMEOUTS timeOuts{10, 0, 10, 0, 0};
  table.pfnSetPortTimeOuts(handle, &timeOuts, 0);

  std::vector<std::string> requests;
  char text[256];
  langmon::BuildEchoRequest(text, 815);
  requests.push_back(text);
  for (const langmon::ReadStep& step : langmon::kPrinterReadSteps) {
    langmon::BuildQueryLine(text, langmon::SettingAt(step.Position).ObjectId);
    requests.push_back(text);
  }
  std::string entry = langmon::kEntryText, exitText = langmon::kExitText;
  std::vector<char> buffer(langmon::kCollectionBufferSize);
  for (auto _ : state) {
    DWORD n = 0;
    table.pfnWritePort(handle, reinterpret_cast<LPBYTE>(entry.data()),
                       static_cast<DWORD>(entry.size()), &n);
    for (std::string& request : requests) {
      table.pfnWritePort(handle, reinterpret_cast<LPBYTE>(request.data()),
                         static_cast<DWORD>(request.size()), &n);
      // Read until the reply's form feed.
      for (int polls = 0;; ++polls) {
        DWORD got = 0;
        if (!table.pfnReadPort(handle, reinterpret_cast<LPBYTE>(buffer.data()),
                               static_cast<DWORD>(buffer.size()), &got) ||
            polls > 500) {
          state.SkipWithError("no reply");
          break;
        }
        if (got > 0 && buffer[got - 1] == '\f') break;
      }
    }
    table.pfnWritePort(handle, reinterpret_cast<LPBYTE>(exitText.data()),
                       static_cast<DWORD>(exitText.size()), &n);
    state.PauseTiming();
    loopback.printer.ClearRecords();
    state.ResumeTiming();
  }
  table.pfnClosePort(handle);
}

BENCHMARK(BM_TcpGetConfigThroughMonitor)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_TcpBareRoundTrips)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

// Reading a .reg file of stored settings and loading it into the host
// registry, as `langmon --settings` does, for files of 20 000 and 200 000
// dword values and for an export of 400 print queues (each with its
// printer key, its driver-data key of 26 dwords, a string and a continued
// hex value). Time per value must stay the same as the file grows: the
// reader finds values through hash tables, and the host registry keeps a
// key's values in one.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "reg_file.h"

namespace {

using langmon::host::LeftOut;
using langmon::host::RegFile;
using langmon::host::RegFileError;

const char kPrinters[] =
    "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Print\\Printers\\";

std::string DriverDataKey(const std::string& printer) {
  return "[" + std::string(kPrinters) + printer + "\\PrinterDriverData]\n";
}

std::string DwordFile(long values) {
  std::string text = "REGEDIT4\n\n" + DriverDataKey("Bench");
  char line[64];
  for (long i = 0; i < values; ++i) {
    std::snprintf(line, sizeof line, "\"dwValue%ld\"=dword:%08lx\n", i, i);
    text += line;
  }
  return text;
}

std::string QueuesFile(int queues) {
  std::string text = "Windows Registry Editor Version 5.00\n\n";
  for (int q = 0; q < queues; ++q) {
    const std::string printer = "Queue " + std::to_string(q);
    text += "[" + std::string(kPrinters) + printer + "]\n\"Name\"=\"" + printer +
            "\"\n\"Attributes\"=dword:00000840\n" + DriverDataKey(printer);
    for (int s = 0; s < 26; ++s) text += "\"dwSetting" + std::to_string(s) + "\"=dword:00000001\n";
    text += "\"Model\"=\"Laser\"\n\"Blob\"=hex:01,02,03,04,05,06,07,08,\\\n  09,0a,0b,0c\n\n";
  }
  return text;
}

// Parses the text and loads printer `printer`'s values, as one run does;
// the registry key is deleted again between iterations, outside the timing.
void ReadAndLoad(benchmark::State& state, const std::string& text, const std::u16string& printer,
                 long expected) {
  for (auto _ : state) {
    RegFile file;
    RegFileError error;
    std::vector<LeftOut> leftOut;
    std::string loadError;
    if (!langmon::host::ParseRegFile(text, file, error) ||
        langmon::host::LoadPrinterSettings(file, printer, leftOut, loadError) != expected) {
      state.SkipWithError("the file did not load");
      break;
    }
    state.PauseTiming();
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, u"System\\CurrentControlSet\\Control\\Print\\Printers");
    state.ResumeTiming();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<long>(text.size()));
}

void BM_ReadRegFileDwords(benchmark::State& state) {
  const std::string text = DwordFile(state.range(0));
  ReadAndLoad(state, text, u"Bench", state.range(0));
  state.counters["ns_per_value"] = benchmark::Counter(
      static_cast<double>(state.range(0)),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_ReadRegFileQueues(benchmark::State& state) {
  ReadAndLoad(state, QueuesFile(400), u"Queue 399", 26);
}

BENCHMARK(BM_ReadRegFileDwords)->Arg(20000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadRegFileQueues)->Unit(benchmark::kMillisecond);

}  // namespace

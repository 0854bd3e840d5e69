// The reply scanner on noise-heavy input against a bare memchr over the
// same bytes.
//
// The noise is what a busy back channel may carry between replies: status
// text, complete replies to other requests (each from "@" to a form feed)
// and bytes that are neither. ScanReply must look at every byte; memchr for
// a byte that does not occur is the floor for looking at every byte once.
// ExchangeQuery adds the reading: 64 reads of 4 KiB of noise each, then the
// reply it waits for.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench_support.h"
#include "pjl/pjl_internal.h"
#include "port_monitor_table.h"

namespace {

constexpr char kRequest[] = "@PJL DMINFO ASCIIHEX=\"0000050103030104\"\r\n";

// `size` bytes of noise: printable junk with a foreign reply about every
// 256 bytes, ending in junk without "@" (so that a scan keeps nothing).
std::string Noise(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string noise;
  while (noise.size() < size) {
    if (random() % 256 == 0) {
      noise += "@PJL INFO STATUS\r\nCODE=10001\r\nDISPLAY=\"READY\"\r\nONLINE=TRUE\r\n\f";
    } else {
      char c = static_cast<char>(' ' + random() % 95);
      if (c == '@') c = '#';
      noise += c;
    }
  }
  noise.resize(size);
  const std::size_t lastAt = noise.rfind('@');
  if (lastAt != std::string::npos && noise.find('\f', lastAt) == std::string::npos)
    noise[lastAt] = '#';
  return noise;
}

void BM_ScanReplyNoise(benchmark::State& state) {
  const DWORD size = langmon::kCollectionBufferSize - 1;
  const std::string noise = Noise(size, 1);
  std::vector<char> collection(langmon::kCollectionBufferSize);
  std::memcpy(collection.data(), noise.data(), size);
  char reply[langmon::kReplyBufferSize];
  DWORD replyLength = 0;
  const DWORD compare = static_cast<DWORD>(std::strlen(kRequest)) - 1;
  for (auto _ : state) {
    DWORD held = size;
    benchmark::DoNotOptimize(
        langmon::ScanReply(kRequest, compare, reply, &replyLength, collection.data(), &held));
    benchmark::DoNotOptimize(held);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * size);
}

void BM_MemchrNoise(benchmark::State& state) {
  const std::size_t size = static_cast<std::size_t>(state.range(0));
  const std::string noise = Noise(size, 1);
  for (auto _ : state) {
    // A byte the noise never holds: every byte is looked at.
    benchmark::DoNotOptimize(std::memchr(noise.data(), '\x01', size));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * size);
}

// ---- ExchangeQuery over a port that delivers the noise in 4 KiB reads ----------

struct NoisePort {
  std::string noise;
  std::string reply;
  std::size_t at = 0;  // bytes of noise delivered in this exchange
  bool replied = false;
} g_noise;
int g_noiseHandle;

BOOL NoiseOpenPort(void*, LPWSTR, PHANDLE handle) {
  *handle = &g_noiseHandle;
  return TRUE;
}
BOOL WINAPI NoiseStartDocPort(HANDLE, LPWSTR, DWORD, DWORD, LPBYTE) { return TRUE; }
BOOL WINAPI NoiseWritePort(HANDLE, LPBYTE, DWORD count, LPDWORD written) {
  g_noise.at = 0;
  g_noise.replied = false;
  *written = count;
  return TRUE;
}
BOOL WINAPI NoiseReadPort(HANDLE, LPBYTE buffer, DWORD size, LPDWORD read) {
  constexpr std::size_t kChunk = 4096;
  *read = 0;
  if (g_noise.at < g_noise.noise.size()) {
    const std::size_t n =
        std::min({kChunk, g_noise.noise.size() - g_noise.at, static_cast<std::size_t>(size)});
    std::memcpy(buffer, g_noise.noise.data() + g_noise.at, n);
    g_noise.at += n;
    *read = static_cast<DWORD>(n);
  } else if (!g_noise.replied && size >= g_noise.reply.size()) {
    std::memcpy(buffer, g_noise.reply.data(), g_noise.reply.size());
    g_noise.replied = true;
    *read = static_cast<DWORD>(g_noise.reply.size());
  }
  return TRUE;
}
BOOL WINAPI NoiseEndDocPort(HANDLE) { return TRUE; }
BOOL WINAPI NoiseClosePort(HANDLE) { return TRUE; }

void BM_ExchangeQueryNoise(benchmark::State& state) {
  const std::size_t size = static_cast<std::size_t>(state.range(0));
  g_noise.noise = Noise(size, 2);
  // The request repeated up to its CR, then the value record.
  g_noise.reply =
      std::string(kRequest, sizeof kRequest - 2) + "\n\"80000005010303010408020001\"\r\n\f";
  langmon::portmonitor::PortMonitorTable table(
      {
          .OpenPort = &NoiseOpenPort,
          .StartDocPort = &NoiseStartDocPort,
          .WritePort = &NoiseWritePort,
          .ReadPort = &NoiseReadPort,
          .EndDocPort = &NoiseEndDocPort,
          .ClosePort = &NoiseClosePort,
      },
      nullptr);
  HANDLE port = langmon::bench::OpenPort(*table.ForOpenPortEx(), "LPT2:", "Bench printer");
  if (!port) {
    state.SkipWithError("cannot open the port");
    return;
  }
  langmon::SetFlags(static_cast<langmon::PortEntry*>(port), langmon::PortActive);
  char reply[langmon::kReplyBufferSize];
  DWORD replyLength = 0;
  for (auto _ : state) {
    if (!langmon::ExchangeQuery(static_cast<langmon::PortEntry*>(port), kRequest, reply,
                                &replyLength)) {
      state.SkipWithError("the reply behind the noise was not matched");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * size);
  langmon::bench::ClosePort(port);
}

BENCHMARK(BM_ScanReplyNoise);
BENCHMARK(BM_MemchrNoise)->Arg(langmon::kCollectionBufferSize - 1)->Arg(256 * 1024);
BENCHMARK(BM_ExchangeQueryNoise)->Arg(256 * 1024);

}  // namespace

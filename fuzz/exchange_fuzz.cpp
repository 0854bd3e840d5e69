// Arbitrary printer output, cut into arbitrary reads, through ExchangeQuery.
//
// Input layout:
//   byte 0      which request is sent (DMINFO queries, an ECHO probe, a
//               two-byte request)
//   bytes 1-4   the tick count at the start, little-endian (so the
//               unsigned time arithmetic is exercised across the wrap)
//   then        reads, each a size byte followed by that many bytes of
//               printer output (fewer at the end of the input). Sizes below
//               0xF0 are taken as they are, 0 being a silent read; 0xF0 and
//               up stand for 512, 1024, ... 8192 bytes, enough to fill the
//               collection buffer.
//
// The clock advances 50 ms per reading, so every exchange ends after at most
// 100 reads without a real wait. Besides the sanitizers, the contract of the
// exchange is checked: on success the reply buffer holds one complete reply
// that repeats the request and nothing behind it is touched; on failure the
// caller's buffer and length are untouched.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "monitor_fixture.h"
#include "pjl/pjl_internal.h"

namespace {

using langmon::testing::FakePortMonitor;
using langmon::testing::SeamScope;

constexpr unsigned char kSentinel = 0xA5;
constexpr DWORD kTickStep = 50;

// The port monitor's write, replaced so that the request written can be
// checked without recording every read (which would slow the target down).
std::string g_written;

BOOL WINAPI CaptureWrite(HANDLE, LPBYTE data, DWORD count, LPDWORD written) {
  g_written.assign(reinterpret_cast<const char*>(data), count);
  *written = count;
  return TRUE;
}

struct Harness {
  FakePortMonitor fake;
  SeamScope scope{true};
  langmon::PortEntry* entry = nullptr;
  std::string requests[4];
};

Harness& TheHarness() {
  static Harness* harness = [] {
    auto* h = new Harness;
    h->fake.recordCalls = false;
    h->fake.table.pfnWritePort = &CaptureWrite;
    HANDLE port = langmon::testing::OpenMonitorPort(h->fake, LM_W("LPT1:"), LM_W("Fuzz"));
    if (!port) std::abort();
    h->entry = static_cast<langmon::PortEntry*>(port);
    char text[langmon::kEchoRequestSize * 2];
    langmon::BuildQueryLine(text, "050103030104");
    h->requests[0] = text;
    langmon::BuildQueryLine(text, "07020f0101070101");
    h->requests[1] = text;
    langmon::BuildEchoRequest(text, 815);
    h->requests[2] = text;
    h->requests[3] = "@\r\n";
    h->scope.step = kTickStep;
    return h;
  }();
  return *harness;
}

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 5) return 0;
  Harness& h = TheHarness();
  const std::string& request = h.requests[data[0] % 4];
  std::uint32_t start;
  std::memcpy(&start, data + 1, sizeof start);
  h.scope.now = start;

  h.fake.reads.clear();
  g_written.clear();
  for (std::size_t at = 5; at < size;) {
    const unsigned code = data[at++];
    std::size_t n = code < 0xF0 ? code : (code - 0xEF) * 512u;
    if (n > size - at) n = size - at;
    h.fake.QueueRead(std::string(reinterpret_cast<const char*>(data + at), n));
    at += n;
  }
  langmon::SetFlags(h.entry, langmon::PortActive);

  // The reply buffer sits at the end of a heap block of exactly its size, so
  // a write past it is caught.
  auto* reply = new char[langmon::kReplyBufferSize];
  std::memset(reply, kSentinel, langmon::kReplyBufferSize);
  DWORD length = 0xFFFFFFFF;
  const BOOL matched = langmon::ExchangeQuery(h.entry, request.c_str(), reply, &length);

  Check(g_written == request);
  const std::size_t compare = request.size() - 1;
  if (matched) {
    Check(length >= compare && length <= langmon::kMaxReplyLength);
    Check(std::memcmp(reply, request.data(), compare) == 0);
    Check(reply[length - 1] == '\f');
    Check(std::memchr(reply, '\f', length - 1) == nullptr);
    for (std::size_t i = length; i < langmon::kReplyBufferSize; ++i)
      Check(static_cast<unsigned char>(reply[i]) == kSentinel);
  } else {
    Check(length == 0xFFFFFFFF);
    for (std::size_t i = 0; i < langmon::kReplyBufferSize; ++i)
      Check(static_cast<unsigned char>(reply[i]) == kSentinel);
  }
  delete[] reply;
  return 0;
}

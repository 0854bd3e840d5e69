// A whole "GetConfigObjects" request through the monitor's table, on an LPT
// port whose port monitor plays back arbitrary printer output cut into
// arbitrary reads.
//
// Input layout: a sequence of reads, each a size byte followed by that many
// bytes of printer output (fewer at the end of the input). Every ReadPort
// call of the monitor takes the next read; once the input is used up every
// read delivers nothing, as from a printer that fell silent. Size 0 is a
// read that delivers nothing.
//
// In the printer output two bytes stand for text the printer would know
// from what it was sent, so that the fuzzer can answer a request it cannot
// predict (the ECHO token comes from the clock):
//   0xFE  the request last written, up to its CR (the part a reply repeats)
//   0xFD  the object identifier of the last DMINFO query
// They are expanded when the read happens.
//
// The clock is virtual and advances 500 ms per reading, so every exchange
// ends after at most ten polls without a real wait. Besides the sanitizers
// the request's contract is checked: TRUE with last error 87; the record is
// either the built-in defaults (the probe went unanswered) or one made of
// answers, with only known presence bits and 0 in every setting whose bit
// is clear; on the wire the entry text, the probe, DMINFO queries for known
// objects in step order, and the exit text; nothing written past the
// 108-byte output buffer.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "config/config.h"
#include "monitor_fixture.h"
#include "pjl/pjl.h"
#include "port_monitor_table.h"
#include "requests/requests.h"

namespace {

using langmon::ConfigRecord;
using langmon::testing::SeamScope;

constexpr DWORD kTickStep = 500;
constexpr unsigned char kEchoRequest = 0xFE;
constexpr unsigned char kLastObjectId = 0xFD;

// ---- the scripted port monitor ----------------------------------------------------

struct Script {
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
  std::size_t at = 0;
  std::string lastRequest;   // the last text written, whole
  std::string lastObjectId;  // of the last DMINFO query
  std::vector<std::string> writes;
};
Script g_script;

int g_portHandle;

BOOL ScriptOpenPort(void*, LPWSTR, PHANDLE handle) {
  *handle = &g_portHandle;
  return TRUE;
}
BOOL WINAPI ScriptStartDocPort(HANDLE, LPWSTR, DWORD, DWORD, LPBYTE) { return TRUE; }
BOOL WINAPI ScriptEndDocPort(HANDLE) { return TRUE; }
BOOL WINAPI ScriptClosePort(HANDLE) { return TRUE; }
BOOL WINAPI ScriptSetPortTimeOuts(HANDLE, LPCOMMTIMEOUTS, DWORD) { return TRUE; }

constexpr std::string_view kQuery = langmon::kQueryPrefix;

BOOL WINAPI ScriptWritePort(HANDLE, LPBYTE data, DWORD count, LPDWORD written) {
  std::string text(reinterpret_cast<const char*>(data), count);
  if (text.compare(0, kQuery.size(), kQuery) == 0) {
    const std::size_t close = text.find('"', kQuery.size());
    g_script.lastObjectId = text.substr(kQuery.size(), close - kQuery.size());
  }
  g_script.lastRequest = text;
  g_script.writes.push_back(std::move(text));
  *written = count;
  return TRUE;
}

BOOL WINAPI ScriptReadPort(HANDLE, LPBYTE buffer, DWORD size, LPDWORD read) {
  *read = 0;
  Script& s = g_script;
  if (s.at >= s.size) return TRUE;
  std::size_t n = s.data[s.at++];
  if (n > s.size - s.at) n = s.size - s.at;
  std::string out;
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char byte = s.data[s.at + i];
    if (byte == kEchoRequest) {
      const std::size_t lf = s.lastRequest.rfind('\n');
      out += s.lastRequest.substr(0, lf == std::string::npos ? s.lastRequest.size() : lf);
    } else if (byte == kLastObjectId) {
      out += s.lastObjectId;
    } else {
      out += static_cast<char>(byte);
    }
  }
  s.at += n;
  const DWORD delivered = static_cast<DWORD>(std::min<std::size_t>(out.size(), size));
  std::memcpy(buffer, out.data(), delivered);
  *read = delivered;
  return TRUE;
}

// ---- the harness --------------------------------------------------------------------

constexpr langmon::portmonitor::PortOperations kScriptOperations = {
    .OpenPort = &ScriptOpenPort,
    .StartDocPort = &ScriptStartDocPort,
    .WritePort = &ScriptWritePort,
    .ReadPort = &ScriptReadPort,
    .EndDocPort = &ScriptEndDocPort,
    .ClosePort = &ScriptClosePort,
    .SetPortTimeOuts = &ScriptSetPortTimeOuts,
};

struct Harness {
  SeamScope scope{true};
  langmon::portmonitor::PortMonitorTable table{kScriptOperations, nullptr};
  HANDLE port = nullptr;
};

Harness& TheHarness() {
  static Harness* harness = [] {
    auto* h = new Harness;
    h->scope.step = kTickStep;
    langmon::testing::EnsureMonitorInitialised();
    WCHAR port[] = LM_W("LPT1:");
    WCHAR printer[] = LM_W("Fuzzed printer without stored settings");
    if (!langmon::MonitorTable()->Monitor.pfnOpenPortEx(port, printer, &h->port,
                                                        h->table.ForOpenPortEx()))
      std::abort();
    return h;
  }();
  return *harness;
}

void Check(bool condition) {
  if (!condition) std::abort();
}

// The object a read step asks for.
const char* StepObject(std::size_t step) {
  return langmon::SettingAt(langmon::kPrinterReadSteps[step].Position).ObjectId;
}

void CheckRecord(const ConfigRecord& record, bool fromPrinter) {
  if (!fromPrinter) {
    // No stored settings for this printer: the built-in defaults.
    Check(record.CfgFlags == langmon::kStoredConfigMask);
    for (const langmon::Setting& setting : langmon::kSettings)
      Check(record.*setting.Field == setting.Default);
    return;
  }
  Check((record.CfgFlags & ~0xDBFFFFu) == 0);
  for (const langmon::Setting& setting : langmon::kSettings) {
    if (setting.PresenceBit != langmon::kNoPresenceBit && !(record.CfgFlags & setting.PresenceBit))
      Check(record.*setting.Field == 0);
  }
  Check(record.TestPage == 0);
  Check(record.Tray3Installed <= 1);
}

void CheckWire(bool fromPrinter) {
  const std::vector<std::string>& w = g_script.writes;
  Check(w.size() >= 3);
  Check(w.front() == langmon::kEntryText);
  Check(w.back() == langmon::kExitText);
  Check(w[1].rfind(langmon::kEchoPrefix, 0) == 0);
  if (!fromPrinter) {
    Check(w.size() == 3);
    return;
  }
  // The queries, each for a known object, in step order, none twice.
  std::size_t next = 0;
  for (std::size_t i = 2; i + 1 < w.size(); ++i) {
    const std::string& q = w[i];
    Check(q.compare(0, kQuery.size(), kQuery) == 0);
    Check(q.size() >= 3 && q.compare(q.size() - 3, 3, "\"\r\n") == 0);
    const std::string id = q.substr(kQuery.size(), q.size() - kQuery.size() - 3);
    while (next < langmon::kPrinterReadStepCount && id != StepObject(next)) ++next;
    Check(next < langmon::kPrinterReadStepCount);
    ++next;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Harness& h = TheHarness();
  g_script = Script{};
  g_script.data = data;
  g_script.size = size;

  // The record goes into a heap block of exactly its size.
  auto* out = new ConfigRecord;
  std::memset(out, 0xEE, sizeof *out);
  WCHAR valueName[] = LM_W("GetConfigObjects");
  DWORD returned = 0xDDDDDDDD;
  SetLastError(0);
  const BOOL ok = langmon::MonitorTable()->Monitor.pfnGetPrinterDataFromPort(
      h.port, 0, valueName, nullptr, 0, reinterpret_cast<LPWSTR>(out), sizeof *out, &returned);
  Check(ok == TRUE);
  Check(GetLastError() == ERROR_INVALID_PARAMETER);
  Check(returned == 0xDDDDDDDD);
  // A record from the printer can never carry the stored-settings mask:
  // the probe went unanswered exactly when the record has it.
  const bool fromPrinter = out->CfgFlags != langmon::kStoredConfigMask;
  CheckRecord(*out, fromPrinter);
  CheckWire(fromPrinter);
  delete out;
  return 0;
}

#include <atomic>
#include <cstring>

#include "monitor/monitor.h"

namespace langmon {

namespace {

CRITICAL_SECTION g_monitorLock;
// 0: never initialised, 1: being initialised, 2: usable.
std::atomic<int> g_lockState{0};
PortEntry* g_portTable = nullptr;

std::atomic_ref<DWORD> FlagsOf(const PortEntry* entry) {
  return std::atomic_ref<DWORD>(const_cast<PortEntry*>(entry)->Flags);
}

}  // namespace

DWORD SetFlags(PortEntry* entry, DWORD bits) { return FlagsOf(entry).fetch_or(bits); }
DWORD ClearFlags(PortEntry* entry, DWORD bits) { return FlagsOf(entry).fetch_and(~bits); }

void InitializeMonitorLock() {
  int expected = 0;
  if (g_lockState.compare_exchange_strong(expected, 1)) {
    InitializeCriticalSection(&g_monitorLock);
    g_lockState.store(2);
    return;
  }
  // Another thread is initialising it right now: wait until it is usable.
  while (g_lockState.load() != 2) {
  }
}

void LockMonitor() { EnterCriticalSection(&g_monitorLock); }
void UnlockMonitor() { LeaveCriticalSection(&g_monitorLock); }

const PortEntry* FirstPortEntry() { return g_portTable; }

LPWSTR DuplicateWideString(LPCWSTR string) {
  if (!string) return nullptr;
  const std::size_t bytes = 2 * (static_cast<std::size_t>(lstrlenW(string)) + 1);
  auto* copy = static_cast<LPWSTR>(LocalAlloc(LMEM_ZEROINIT, bytes));
  if (copy) std::memcpy(copy, string, bytes);
  return copy;
}

void FreeWideString(LPWSTR string) {
  if (string) LocalFree(string);
}

const PortEntry* FindPortEntry(const PortEntry* first, LPCWSTR portName) {
  if (!portName) return nullptr;
  for (const PortEntry* entry = first; entry; entry = entry->Next)
    if (lstrcmpiW(entry->PortName, portName) == 0) return entry;
  return nullptr;
}

BOOL MatchNumberedPort(const char* ansiName, DWORD kinds) {
  const std::size_t n = std::strlen(ansiName);
  if (!(n == 4 || (n == 5 && ansiName[4] == ':'))) return FALSE;
  char folded[3];
  for (int i = 0; i < 3; ++i) folded[i] = static_cast<char>(ansiName[i] | 0x20);
  const bool digit = ansiName[3] >= '1' && ansiName[3] <= '9';
  if ((kinds & kMatchLpt) && std::memcmp(folded, "lpt", 3) == 0 && digit) return TRUE;
  if ((kinds & kMatchCom) && std::memcmp(folded, "com", 3) == 0 && digit) return TRUE;
  return FALSE;
}

namespace {

DWORD PortKindOf(LPCWSTR portName) {
  // A name whose ANSI form does not fit the buffer cannot have the numbered
  // shape: the conversion fails, the buffer stays an empty string and only
  // the FILE: test remains.
  char ansi[256] = {};
  if (WideCharToMultiByte(CP_ACP, 0, portName, -1, ansi, sizeof ansi, nullptr, nullptr) == 0)
    ansi[0] = '\0';
  ansi[sizeof ansi - 1] = '\0';
  if (MatchNumberedPort(ansi, kMatchCom)) return SerialPort;
  if (MatchNumberedPort(ansi, kMatchLpt)) return ParallelPort;
  if (lstrcmpiW(portName, LM_W("FILE:")) == 0) return FilePort;
  return 0;
}

}  // namespace

BOOL ServesConfigurationRequests(LPCWSTR portName) {
  return PortKindOf(portName) == ParallelPort ? TRUE : FALSE;
}

PortEntry* NewPortEntry(LPCWSTR portName, LPCWSTR printerName) {
  if (!portName) return nullptr;
  const std::size_t nameBytes = 2 * (static_cast<std::size_t>(lstrlenW(portName)) + 1);
  const std::size_t size = sizeof(PortEntry) + nameBytes;
  auto* entry = static_cast<PortEntry*>(LocalAlloc(LMEM_ZEROINIT, size));
  if (!entry) return nullptr;
  auto* nameCopy = reinterpret_cast<LPWSTR>(reinterpret_cast<BYTE*>(entry) + sizeof(PortEntry));
  std::memcpy(nameCopy, portName, nameBytes);
  entry->PortName = nameCopy;
  entry->Size = static_cast<DWORD>(size);
  entry->Next = nullptr;
  entry->Signature = kPortEntrySignature;
  entry->PrinterName = DuplicateWideString(printerName);
  entry->PrinterHandle = nullptr;
  entry->Flags = PortKindOf(portName);

  PortEntry*& head = g_portTable;
  if (!head) {
    head = entry;
  } else {
    PortEntry* last = head;
    while (last->Next) last = last->Next;
    last->Next = entry;
  }
  return entry;
}

BOOL RemovePortEntry(PortEntry* entry) {
  PortEntry*& head = g_portTable;
  if (!entry || !head) return FALSE;
  if (head == entry) {
    head = entry->Next;
  } else {
    PortEntry* previous = head;
    while (previous->Next && previous->Next != entry) previous = previous->Next;
    if (!previous->Next) return FALSE;
    previous->Next = entry->Next;
  }
  if (entry->PrinterHandle) SpoolerClosePrinter(entry->PrinterHandle);
  FreeWideString(entry->PrinterName);
  LocalFree(entry);
  return TRUE;
}

BOOL CopyPrinterName(const PortEntry* entry, WCHAR* buffer, std::size_t capacity) {
  if (capacity == 0) return FALSE;
  buffer[0] = 0;
  BOOL copied = FALSE;
  LockMonitor();
  if (entry->PrinterName) {
    const std::size_t length = static_cast<std::size_t>(lstrlenW(entry->PrinterName));
    if (length < capacity) {
      std::memcpy(buffer, entry->PrinterName, 2 * (length + 1));
      copied = TRUE;
    }
  }
  UnlockMonitor();
  return copied;
}

}  // namespace langmon

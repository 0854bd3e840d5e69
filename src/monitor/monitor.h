// The monitor frame: the port entry record, its flag word, the port table and
// the one monitor lock that guards it. The monitor's own code and its tests
// use this; hosts use monitor_api.h.
#pragma once

#include <atomic>

#include "monitor/monitor_api.h"
#include "platform/platform.h"

namespace langmon {

// Flag bits of PortEntry::Flags.
constexpr DWORD InDocument = 0x01;
constexpr DWORD ParallelPort = 0x02;
constexpr DWORD SerialPort = 0x04;
constexpr DWORD FilePort = 0x08;
constexpr DWORD PortActive = 0x10;

constexpr DWORD kPortEntrySignature = 0x4F50;  // "PO" in memory

// The monitor's record for one open port; its address is the port handle.
// One zero-filled block from the local heap holds the record followed by the
// port name.
struct PortEntry {
  DWORD Signature;
  DWORD Size;
  PortEntry* Next;
  LPWSTR PortName;
  DWORD Flags;  // reached only through the flag helpers below
  LPWSTR PrinterName;
  DWORD JobId;
  HANDLE PortMonitorHandle;
  HANDLE PrinterHandle;
  MONITOR Monitor;  // only the fourteen NT 4.0 slots are ever copied
};

// The flag word is changed with and without the monitor lock from several
// threads, so every access is a single atomic operation on it.
// Inline: WritePort and ReadPort test the flag word on every call of a
// print job, and an out-of-line call there costs more than the test.
inline DWORD LoadFlags(const PortEntry* entry) {
  return std::atomic_ref<DWORD>(const_cast<PortEntry*>(entry)->Flags).load();
}
// Sets bits; returns the flag word as it was before.
DWORD SetFlags(PortEntry* entry, DWORD bits);
// Clears bits; returns the flag word as it was before.
DWORD ClearFlags(PortEntry* entry, DWORD bits);

// The monitor lock. InitializeMonitorLock makes it usable; a repeated call
// leaves a lock that is already initialised alone.
void InitializeMonitorLock();
void LockMonitor();
void UnlockMonitor();

// The port table is changed only by NewPortEntry and RemovePortEntry, and
// read only under the monitor lock. FirstPortEntry gives its first entry
// (null when empty) for walking it.
const PortEntry* FirstPortEntry();

LPWSTR DuplicateWideString(LPCWSTR string);
void FreeWideString(LPWSTR string);
const PortEntry* FindPortEntry(const PortEntry* first, LPCWSTR portName);
constexpr DWORD kMatchLpt = 0x1;
constexpr DWORD kMatchCom = 0x2;
BOOL MatchNumberedPort(const char* ansiName, DWORD kinds);
PortEntry* NewPortEntry(LPCWSTR portName, LPCWSTR printerName);
BOOL RemovePortEntry(PortEntry* entry);

// Copies the entry's printer name into a caller's buffer while holding the
// monitor lock, so that a StartDocPort replacing the name on another thread
// can never hand the reader a freed string. Returns FALSE (with an empty
// buffer) when the entry has no printer name or the name and its terminator
// do not fit in `capacity` characters.
BOOL CopyPrinterName(const PortEntry* entry, WCHAR* buffer, std::size_t capacity);

}  // namespace langmon

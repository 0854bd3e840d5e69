// The one header through which the monitor reaches the Win32 API.
//
// On Windows this is the real SDK (kernel32, advapi32, winspool). On Linux it
// is a compact implementation of exactly the subset the monitor, its tests
// and the host tools use (platform_linux.cpp): UTF-16 strings, a thread-local
// last error, critical sections, the local heap, an in-memory
// HKEY_LOCAL_MACHINE registry and a 32-bit tick counter. It is also the one
// place where Win32 error codes are spelled: every other file names them.
// Nothing else in src/ includes a system header that is specific to one
// platform. Hooks for tests of the Linux layer are in platform_testing.h.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
// winsplp.h needs the types of winspool.h: keep the order.
// clang-format off
#include <windows.h>
#include <winspool.h>
// winsplp.h needs winspool.h's declarations first.
#include <winsplp.h>
// clang-format on

// Wide literal that is a UTF-16 string on both platforms.
#define LM_W_(s) L##s
#define LM_W(s) LM_W_(s)

#else  // Linux: our own subset of the Win32 surface

#include <mutex>

#define LM_W_(s) u##s
#define LM_W(s) LM_W_(s)

#define WINAPI
#define CALLBACK
#define APIENTRY

typedef int BOOL;
typedef std::uint8_t BYTE;
typedef std::uint16_t WORD;
typedef std::uint32_t DWORD;
typedef std::int32_t LONG;
typedef std::uint32_t UINT;
typedef char CHAR;
typedef char16_t WCHAR;
typedef void VOID;
typedef void* HANDLE;
typedef void* HWND;
typedef void* HINSTANCE;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef std::size_t SIZE_T;
typedef DWORD ACCESS_MASK;
typedef ACCESS_MASK REGSAM;
typedef BYTE* LPBYTE;
typedef BYTE* PBYTE;
typedef DWORD* LPDWORD;
typedef DWORD* PDWORD;
typedef HANDLE* PHANDLE;
typedef HANDLE* LPHANDLE;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef CHAR* LPSTR;
typedef const CHAR* LPCSTR;
typedef BOOL* LPBOOL;
typedef void* HLOCAL;

struct LmRegKey;
typedef LmRegKey* HKEY;
typedef HKEY* PHKEY;
typedef HANDLE HKEYMONITOR;

#define TRUE 1
#define FALSE 0

// winerror.h values.
#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_OUTOFMEMORY 14L
#define ERROR_GEN_FAILURE 31L
#define ERROR_NOT_SUPPORTED 50L
#define ERROR_NETNAME_DELETED 64L
#define ERROR_BAD_NET_NAME 67L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_BROKEN_PIPE 109L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_BUSY 170L
#define ERROR_MORE_DATA 234L
#define ERROR_CONNECTION_REFUSED 1225L
#define ERROR_GRACEFUL_DISCONNECT 1226L
#define ERROR_NETWORK_UNREACHABLE 1231L
#define ERROR_HOST_UNREACHABLE 1232L
#define ERROR_CONNECTION_ABORTED 1236L
#define ERROR_TIMEOUT 1460L
#define ERROR_INVALID_PRINTER_NAME 1801L
#define ERROR_INVALID_PRINT_MONITOR 3007L

#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3

#define LMEM_FIXED 0x0000
#define LMEM_ZEROINIT 0x0040
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)

#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_NOTIFY 0x0010
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define KEY_ALL_ACCESS 0xF003F
#define REG_OPTION_NON_VOLATILE 0

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_MULTI_SZ 7
#define REG_QWORD 11

#define REG_CREATED_NEW_KEY 1
#define REG_OPENED_EXISTING_KEY 2

#define CP_ACP 0

#define JOB_CONTROL_PAUSE 1
#define JOB_CONTROL_RESUME 2
#define JOB_CONTROL_CANCEL 3

// Predefined root keys: distinct non-null sentinels. Only HKEY_LOCAL_MACHINE
// is backed by a tree.
#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000000u)))
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000001u)))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000002u)))

struct COMMTIMEOUTS {
  DWORD ReadIntervalTimeout;
  DWORD ReadTotalTimeoutMultiplier;
  DWORD ReadTotalTimeoutConstant;
  DWORD WriteTotalTimeoutMultiplier;
  DWORD WriteTotalTimeoutConstant;
};
typedef COMMTIMEOUTS* LPCOMMTIMEOUTS;

// A critical section is a recursive mutex, as on Windows (the owning thread
// may enter again). The storage is raw so that the record stays plain; it is
// constructed by InitializeCriticalSection.
struct CRITICAL_SECTION {
  alignas(std::recursive_mutex) unsigned char storage[sizeof(std::recursive_mutex)];
  bool initialised;
};
typedef CRITICAL_SECTION* LPCRITICAL_SECTION;

struct PRINTER_DEFAULTSW;
typedef PRINTER_DEFAULTSW* LPPRINTER_DEFAULTSW;

// The NT 4.0 port-monitor table: fourteen entry points in their fixed order.
struct MONITOR {
  BOOL(WINAPI* pfnEnumPorts)
  (LPWSTR pName, DWORD Level, LPBYTE pPorts, DWORD cbBuf, LPDWORD pcbNeeded, LPDWORD pcReturned);
  BOOL(WINAPI* pfnOpenPort)(LPWSTR pName, PHANDLE pHandle);
  BOOL(WINAPI* pfnOpenPortEx)
  (LPWSTR pPortName, LPWSTR pPrinterName, PHANDLE pHandle, MONITOR* pMonitor);
  BOOL(WINAPI* pfnStartDocPort)
  (HANDLE hPort, LPWSTR pPrinterName, DWORD JobId, DWORD Level, LPBYTE pDocInfo);
  BOOL(WINAPI* pfnWritePort)(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten);
  BOOL(WINAPI* pfnReadPort)(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuffer, LPDWORD pcbRead);
  BOOL(WINAPI* pfnEndDocPort)(HANDLE hPort);
  BOOL(WINAPI* pfnClosePort)(HANDLE hPort);
  BOOL(WINAPI* pfnAddPort)(LPWSTR pName, HWND hWnd, LPWSTR pMonitorName);
  BOOL(WINAPI* pfnAddPortEx)(LPWSTR pName, DWORD Level, LPBYTE lpBuffer, LPWSTR lpMonitorName);
  BOOL(WINAPI* pfnConfigurePort)(LPWSTR pName, HWND hWnd, LPWSTR pPortName);
  BOOL(WINAPI* pfnDeletePort)(LPWSTR pName, HWND hWnd, LPWSTR pPortName);
  BOOL(WINAPI* pfnGetPrinterDataFromPort)
  (HANDLE hPort, DWORD ControlID, LPWSTR pValueName, LPWSTR lpInBuffer, DWORD cbInBuffer,
   LPWSTR lpOutBuffer, DWORD cbOutBuffer, LPDWORD lpcbReturned);
  BOOL(WINAPI* pfnSetPortTimeOuts)(HANDLE hPort, LPCOMMTIMEOUTS lpCTO, DWORD reserved);
};
typedef MONITOR* LPMONITOR;

struct MONITOREX {
  DWORD dwMonitorSize;
  MONITOR Monitor;
};
typedef MONITOREX* LPMONITOREX;

// Kernel
DWORD GetLastError();
void SetLastError(DWORD code);
DWORD GetTickCount();
HLOCAL LocalAlloc(UINT flags, SIZE_T bytes);
HLOCAL LocalFree(HLOCAL mem);
void InitializeCriticalSection(LPCRITICAL_SECTION cs);
void DeleteCriticalSection(LPCRITICAL_SECTION cs);
void EnterCriticalSection(LPCRITICAL_SECTION cs);
void LeaveCriticalSection(LPCRITICAL_SECTION cs);
int lstrlenW(LPCWSTR s);
int lstrcmpW(LPCWSTR a, LPCWSTR b);
int lstrcmpiW(LPCWSTR a, LPCWSTR b);
// Code page 0 only: characters below 0x80 map to themselves, every other
// character becomes '?', as a single-byte code page without it would do.
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int cchWide, LPSTR multi,
                        int cbMulti, LPCSTR defaultChar, LPBOOL usedDefault);

// Registry: a process-wide in-memory tree under HKEY_LOCAL_MACHINE. Key
// names compare without regard to letter case; values keep their type.
LONG RegOpenKeyExW(HKEY root, LPCWSTR subKey, DWORD options, REGSAM sam, PHKEY result);
LONG RegCreateKeyExW(HKEY root, LPCWSTR subKey, DWORD reserved, LPWSTR cls, DWORD options,
                     REGSAM sam, void* security, PHKEY result, LPDWORD disposition);
LONG RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                      LPDWORD cbData);
LONG RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD cbData);
LONG RegDeleteValueW(HKEY key, LPCWSTR name);
LONG RegDeleteTreeW(HKEY key, LPCWSTR subKey);
LONG RegCloseKey(HKEY key);

// Spooler client calls. The Linux build has no spooler: these fail with
// ERROR_NOT_SUPPORTED; hosts and tests supply their own through the seams.
BOOL OpenPrinterW(LPWSTR name, LPHANDLE printer, LPPRINTER_DEFAULTSW defaults);
BOOL SetJobW(HANDLE printer, DWORD jobId, DWORD level, LPBYTE job, DWORD command);
BOOL ClosePrinter(HANDLE printer);

#endif  // platform

#ifndef IOCTL_PAR_QUERY_DEVICE_ID
#define IOCTL_PAR_QUERY_DEVICE_ID 0x0016000C
#endif

namespace langmon {

// Size of the NT 4.0 table: fourteen entry points. Later SDKs append slots
// to MONITOR; they lie outside what the monitor reports and copies.
constexpr std::size_t kMonitorSlots = 14;
constexpr DWORD kMonitorSize = static_cast<DWORD>(kMonitorSlots * sizeof(void*));
static_assert(offsetof(MONITOR, pfnSetPortTimeOuts) + sizeof(void*) == kMonitorSize,
              "MONITOR must begin with the fourteen NT 4.0 slots");

// The monitor's calls into the spooler client and the tick counter. Monitor
// code makes them through these functions only, which have two variants:
//   direct_calls.cpp  calls OpenPrinterW, SetJobW, ClosePrinter and
//                     GetTickCount themselves; linked into langmon.dll only,
//                     so the DLL that runs inside the spooler holds no
//                     writable pointer to any of them;
//   seams.cpp         calls through g_Seams, which tests and the Linux host
//                     replace; linked into langmon_core, the static library
//                     that tests, fuzzers, benchmarks and hosts use.
// Monitor code that used g_Seams directly would not link into the DLL.
BOOL SpoolerOpenPrinter(LPWSTR name, LPHANDLE printer);
BOOL SpoolerSetJob(HANDLE printer, DWORD jobId, DWORD command);
BOOL SpoolerClosePrinter(HANDLE printer);
DWORD TickCount();

// The replaceable table behind the seams.cpp variant. It starts out holding
// the real calls; DefaultSeams() gives them back.
struct SpoolerSeams {
  BOOL(WINAPI* OpenPrinter)(LPWSTR name, LPHANDLE printer, LPPRINTER_DEFAULTSW defaults);
  BOOL(WINAPI* SetJob)(HANDLE printer, DWORD jobId, DWORD level, LPBYTE job, DWORD command);
  BOOL(WINAPI* ClosePrinter)(HANDLE printer);
  DWORD(WINAPI* GetTickCount)();
};

extern SpoolerSeams g_Seams;
SpoolerSeams DefaultSeams();

}  // namespace langmon

// The Linux implementation of the Win32 subset declared in platform.h.
#if !defined(_WIN32)

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/platform.h"
#include "platform/platform_testing.h"

namespace {

thread_local DWORD t_lastError = 0;

std::atomic<unsigned> g_allocCountdown{0};

// ---- registry -------------------------------------------------------------

char16_t FoldAscii(char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c; }

// Key and value names compare without regard to ASCII letter case. Hash
// tables keep a look-up constant-time however many values a key holds (a
// settings file may load hundreds of thousands).
struct FoldHash {
  std::size_t operator()(const std::u16string& s) const {
    std::size_t h = 1469598103934665603ull;  // FNV-1a
    for (char16_t c : s) h = (h ^ FoldAscii(c)) * 1099511628211ull;
    return h;
  }
};

struct FoldEqual {
  bool operator()(const std::u16string& a, const std::u16string& b) const {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
      if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
    return true;
  }
};

template <typename T>
using FoldMap = std::unordered_map<std::u16string, T, FoldHash, FoldEqual>;

struct Value {
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

struct Node {
  FoldMap<std::shared_ptr<Node>> children;
  FoldMap<Value> values;
  bool deleted = false;
  // As a key whose security grants this caller reading only: opening it
  // with any right beyond KEY_READ is refused with ERROR_ACCESS_DENIED.
  bool readOnly = false;
};

struct Registry {
  std::mutex lock;
  std::shared_ptr<Node> localMachine = std::make_shared<Node>();
  long openHandles = 0;
};

Registry& TheRegistry() {
  static Registry* registry = new Registry();  // lives as long as the process
  return *registry;
}

}  // namespace

struct LmRegKey {
  std::shared_ptr<Node> node;
  REGSAM access;  // the rights asked for when the key was opened
};

namespace {

std::u16string FromWide(LPCWSTR s) { return s ? std::u16string(s) : std::u16string(); }

// Resolves a handle to its node; the registry lock is held by the caller.
std::shared_ptr<Node> NodeOf(HKEY key) {
  if (key == HKEY_LOCAL_MACHINE) return TheRegistry().localMachine;
  if (key == HKEY_CLASSES_ROOT || key == HKEY_CURRENT_USER || key == nullptr) return nullptr;
  return key->node;
}

std::vector<std::u16string> SplitPath(LPCWSTR path) {
  std::vector<std::u16string> parts;
  std::u16string current;
  for (const char16_t* p = path; p && *p; ++p) {
    if (*p == u'\\') {
      if (!current.empty()) parts.push_back(current);
      current.clear();
    } else {
      current.push_back(*p);
    }
  }
  if (!current.empty()) parts.push_back(current);
  return parts;
}

// Rights a handle was granted: a predefined root key grants everything.
REGSAM AccessOf(HKEY key) { return key == HKEY_LOCAL_MACHINE ? KEY_ALL_ACCESS : key->access; }

LONG OpenOrCreate(HKEY root, LPCWSTR subKey, REGSAM access, bool create, PHKEY result,
                  LPDWORD disposition) {
  if (!result) return ERROR_INVALID_PARAMETER;
  Registry& reg = TheRegistry();
  std::lock_guard<std::mutex> guard(reg.lock);
  std::shared_ptr<Node> node = NodeOf(root);
  if (!node || node->deleted) return ERROR_INVALID_HANDLE;
  bool created = false;
  for (const std::u16string& part : SplitPath(subKey)) {
    auto it = node->children.find(part);
    if (it == node->children.end()) {
      if (!create) return ERROR_FILE_NOT_FOUND;
      it = node->children.emplace(part, std::make_shared<Node>()).first;
      created = true;
    }
    node = it->second;
  }
  if (node->readOnly && (access & ~static_cast<REGSAM>(KEY_READ)) != 0) return ERROR_ACCESS_DENIED;
  *result = new (std::nothrow) LmRegKey{node, access};
  if (!*result) return ERROR_NOT_ENOUGH_MEMORY;
  ++reg.openHandles;
  if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

void MarkDeleted(Node& node) {
  node.deleted = true;
  for (auto& child : node.children) MarkDeleted(*child.second);
}

char16_t FoldForCompare(char16_t c) { return FoldAscii(c); }

}  // namespace

DWORD GetLastError() { return t_lastError; }
void SetLastError(DWORD code) { t_lastError = code; }

DWORD GetTickCount() {
  using namespace std::chrono;
  const auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
  return static_cast<DWORD>(static_cast<std::uint64_t>(ms));  // wraps at 2^32, as on Windows
}

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) {
  unsigned n = g_allocCountdown.load();
  while (n != 0) {
    if (g_allocCountdown.compare_exchange_weak(n, n - 1)) {
      if (n == 1) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
      }
      break;
    }
  }
  void* p =
      (flags & LMEM_ZEROINIT) ? std::calloc(1, bytes ? bytes : 1) : std::malloc(bytes ? bytes : 1);
  if (!p) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return p;
}

HLOCAL LocalFree(HLOCAL mem) {
  std::free(mem);
  return nullptr;
}

void LmFailLocalAllocAfter(unsigned n) { g_allocCountdown.store(n); }

void InitializeCriticalSection(LPCRITICAL_SECTION cs) {
  new (cs->storage) std::recursive_mutex();
  cs->initialised = true;
}

void DeleteCriticalSection(LPCRITICAL_SECTION cs) {
  if (!cs->initialised) return;
  reinterpret_cast<std::recursive_mutex*>(cs->storage)->~recursive_mutex();
  cs->initialised = false;
}

void EnterCriticalSection(LPCRITICAL_SECTION cs) {
  reinterpret_cast<std::recursive_mutex*>(cs->storage)->lock();
}

void LeaveCriticalSection(LPCRITICAL_SECTION cs) {
  reinterpret_cast<std::recursive_mutex*>(cs->storage)->unlock();
}

int lstrlenW(LPCWSTR s) {
  if (!s) return 0;
  int n = 0;
  while (s[n]) ++n;
  return n;
}

int lstrcmpW(LPCWSTR a, LPCWSTR b) {
  if (!a) a = u"";
  if (!b) b = u"";
  while (*a && *a == *b) ++a, ++b;
  return (*a < *b) ? -1 : (*a > *b) ? 1 : 0;
}

int lstrcmpiW(LPCWSTR a, LPCWSTR b) {
  if (!a) a = u"";
  if (!b) b = u"";
  while (*a && FoldForCompare(*a) == FoldForCompare(*b)) ++a, ++b;
  const char16_t x = FoldForCompare(*a), y = FoldForCompare(*b);
  return (x < y) ? -1 : (x > y) ? 1 : 0;
}

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int cchWide, LPSTR multi,
                        int cbMulti, LPCSTR defaultChar, LPBOOL usedDefault) {
  if (codePage != CP_ACP || flags != 0 || !wide || cchWide == 0 || cbMulti < 0 ||
      (cbMulti > 0 && !multi)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const int units = cchWide < 0 ? lstrlenW(wide) + 1 : cchWide;
  const char replacement = defaultChar ? *defaultChar : '?';
  BOOL replaced = FALSE;
  int out = 0;
  for (int i = 0; i < units; ++i) {
    char16_t c = wide[i];
    char b;
    if (c < 0x80) {
      b = static_cast<char>(c);
    } else {
      b = replacement;
      replaced = TRUE;
      if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units && wide[i + 1] >= 0xDC00 &&
          wide[i + 1] <= 0xDFFF)
        ++i;  // a surrogate pair is one character
    }
    if (cbMulti > 0) {
      if (out >= cbMulti) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
      }
      multi[out] = b;
    }
    ++out;
  }
  if (usedDefault) *usedDefault = replaced;
  return out;
}

static LONG RegOpenKeyExWImpl(HKEY root, LPCWSTR subKey, DWORD, REGSAM access, PHKEY result) {
  return OpenOrCreate(root, subKey, access, false, result, nullptr);
}

static LONG RegCreateKeyExWImpl(HKEY root, LPCWSTR subKey, DWORD, LPWSTR, DWORD, REGSAM access,
                                void*, PHKEY result, LPDWORD disposition) {
  return OpenOrCreate(root, subKey, access, true, result, disposition);
}

static LONG RegQueryValueExWImpl(HKEY key, LPCWSTR name, LPDWORD, LPDWORD type, LPBYTE data,
                                 LPDWORD cbData) {
  if (data && !cbData) return ERROR_INVALID_PARAMETER;
  Registry& reg = TheRegistry();
  std::lock_guard<std::mutex> guard(reg.lock);
  std::shared_ptr<Node> node = NodeOf(key);
  if (!node || node->deleted) return ERROR_INVALID_HANDLE;
  if (!(AccessOf(key) & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  auto it = node->values.find(FromWide(name));
  if (it == node->values.end()) return ERROR_FILE_NOT_FOUND;
  const Value& v = it->second;
  if (type) *type = v.type;
  const DWORD size = static_cast<DWORD>(v.data.size());
  if (data) {
    if (*cbData < size) {
      *cbData = size;
      return ERROR_MORE_DATA;
    }
    if (size) std::memcpy(data, v.data.data(), size);
  }
  if (cbData) *cbData = size;
  return ERROR_SUCCESS;
}

static LONG RegSetValueExWImpl(HKEY key, LPCWSTR name, DWORD, DWORD type, const BYTE* data,
                               DWORD cbData) {
  if (cbData && !data) return ERROR_INVALID_PARAMETER;
  Registry& reg = TheRegistry();
  std::lock_guard<std::mutex> guard(reg.lock);
  std::shared_ptr<Node> node = NodeOf(key);
  if (!node || node->deleted) return ERROR_INVALID_HANDLE;
  if (!(AccessOf(key) & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  Value& v = node->values[FromWide(name)];
  v.type = type;
  v.data.assign(data, data + cbData);
  return ERROR_SUCCESS;
}

static LONG RegDeleteValueWImpl(HKEY key, LPCWSTR name) {
  Registry& reg = TheRegistry();
  std::lock_guard<std::mutex> guard(reg.lock);
  std::shared_ptr<Node> node = NodeOf(key);
  if (!node || node->deleted) return ERROR_INVALID_HANDLE;
  if (!(AccessOf(key) & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  return node->values.erase(FromWide(name)) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

static LONG RegDeleteTreeWImpl(HKEY key, LPCWSTR subKey) {
  Registry& reg = TheRegistry();
  std::lock_guard<std::mutex> guard(reg.lock);
  std::shared_ptr<Node> node = NodeOf(key);
  if (!node || node->deleted) return ERROR_INVALID_HANDLE;
  const std::vector<std::u16string> parts = SplitPath(subKey);
  if (parts.empty()) {  // empty subkey: delete everything below the key, keep the key
    for (auto& child : node->children) MarkDeleted(*child.second);
    node->children.clear();
    node->values.clear();
    return ERROR_SUCCESS;
  }
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    auto it = node->children.find(parts[i]);
    if (it == node->children.end()) return ERROR_FILE_NOT_FOUND;
    node = it->second;
  }
  auto it = node->children.find(parts.back());
  if (it == node->children.end()) return ERROR_FILE_NOT_FOUND;
  MarkDeleted(*it->second);
  node->children.erase(it);
  return ERROR_SUCCESS;
}

namespace {

// The registry stand-in uses standard containers; an allocation failure is
// reported as a registry error and never escapes into the monitor.
template <typename F>
LONG Guarded(F&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

}  // namespace

LONG RegOpenKeyExW(HKEY root, LPCWSTR subKey, DWORD options, REGSAM sam, PHKEY result) {
  return Guarded([&] { return RegOpenKeyExWImpl(root, subKey, options, sam, result); });
}

LONG RegCreateKeyExW(HKEY root, LPCWSTR subKey, DWORD reserved, LPWSTR cls, DWORD options,
                     REGSAM sam, void* security, PHKEY result, LPDWORD disposition) {
  return Guarded([&] {
    return RegCreateKeyExWImpl(root, subKey, reserved, cls, options, sam, security, result,
                               disposition);
  });
}

LONG RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                      LPDWORD cbData) {
  return Guarded([&] { return RegQueryValueExWImpl(key, name, reserved, type, data, cbData); });
}

LONG RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD cbData) {
  return Guarded([&] { return RegSetValueExWImpl(key, name, reserved, type, data, cbData); });
}

LONG RegDeleteValueW(HKEY key, LPCWSTR name) {
  return Guarded([&] { return RegDeleteValueWImpl(key, name); });
}

LONG RegDeleteTreeW(HKEY key, LPCWSTR subKey) {
  return Guarded([&] { return RegDeleteTreeWImpl(key, subKey); });
}

LONG RegCloseKey(HKEY key) {
  if (key == HKEY_LOCAL_MACHINE || key == HKEY_CLASSES_ROOT || key == HKEY_CURRENT_USER)
    return ERROR_SUCCESS;
  if (!key) return ERROR_INVALID_HANDLE;
  Registry& reg = TheRegistry();
  {
    std::lock_guard<std::mutex> guard(reg.lock);
    --reg.openHandles;
  }
  delete key;
  return ERROR_SUCCESS;
}

LONG LmSetRegistryKeyReadOnly(HKEY key, BOOL readOnly) {
  Registry& reg = TheRegistry();
  std::lock_guard<std::mutex> guard(reg.lock);
  std::shared_ptr<Node> node = NodeOf(key);
  if (!node || node->deleted) return ERROR_INVALID_HANDLE;
  node->readOnly = readOnly != FALSE;
  return ERROR_SUCCESS;
}

long LmOpenRegistryKeyCount() {
  Registry& reg = TheRegistry();
  std::lock_guard<std::mutex> guard(reg.lock);
  return reg.openHandles;
}

BOOL OpenPrinterW(LPWSTR, LPHANDLE printer, LPPRINTER_DEFAULTSW) {
  if (printer) *printer = nullptr;
  SetLastError(ERROR_NOT_SUPPORTED);
  return FALSE;
}

BOOL SetJobW(HANDLE, DWORD, DWORD, LPBYTE, DWORD) {
  SetLastError(ERROR_NOT_SUPPORTED);
  return FALSE;
}

BOOL ClosePrinter(HANDLE) {
  SetLastError(ERROR_NOT_SUPPORTED);
  return FALSE;
}

#endif  // !_WIN32

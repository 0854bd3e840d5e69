#include "registration.h"

namespace setup {

namespace {

// KEY_WOW64_64KEY: the 64-bit view, the spooler's, even for a 32-bit caller
// (SYSTEM is not redirected today; the flag says which view is meant, and
// 32-bit Windows ignores it).
constexpr REGSAM kRead = KEY_READ | KEY_WOW64_64KEY;
// Registry key names hold at most 255 characters.
constexpr DWORD kMaxKeyName = 256;
// A Driver value longer than a path cannot name a DLL the spooler loads.
constexpr DWORD kMaxDriver = MAX_PATH;

class Key {
 public:
  Key() = default;
  ~Key() {
    if (key_) RegCloseKey(key_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  HKEY* out() { return &key_; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

bool FailWith(LSTATUS status, Win32Failure& failure, std::wstring what) {
  SetLastError(static_cast<DWORD>(status));
  return Fail(failure, std::move(what));
}

// The Driver value of an open monitor key; `found` false when it has none.
bool ReadDriver(HKEY key, const std::wstring& path, bool& found, std::wstring& driver,
                Win32Failure& failure) {
  wchar_t text[kMaxDriver + 1] = {};
  DWORD bytes = sizeof text - sizeof(wchar_t);
  const LSTATUS status =
      RegGetValueW(key, nullptr, L"Driver", RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND,
                   nullptr, text, &bytes);
  found = status == ERROR_SUCCESS;
  if (status == ERROR_FILE_NOT_FOUND) return true;
  if (!found) return FailWith(status, failure, L"RegGetValueW " + path + L"\\Driver");
  driver.assign(text, bytes / sizeof(wchar_t));
  while (!driver.empty() && driver.back() == L'\0') driver.pop_back();
  return true;
}

}  // namespace

std::wstring RegistrationPath(const std::wstring& name) {
  return std::wstring(L"HKLM\\") + kMonitorsKey + L"\\" + name;
}

bool ReadRegistration(const std::wstring& name, bool& found, Registration& registration,
                      Win32Failure& failure) {
  found = false;
  const std::wstring path = std::wstring(kMonitorsKey) + L"\\" + name;
  Key key;
  const LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, kRead, key.out());
  if (status == ERROR_FILE_NOT_FOUND) return true;
  if (status != ERROR_SUCCESS)
    return FailWith(status, failure, L"RegOpenKeyExW " + RegistrationPath(name));
  registration.name = name;
  return ReadDriver(key.get(), RegistrationPath(name), found, registration.driver, failure);
}

bool ListRegistrations(std::vector<Registration>& registrations, Win32Failure& failure) {
  registrations.clear();
  Key root;
  const std::wstring rootPath = std::wstring(L"HKLM\\") + kMonitorsKey;
  LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kMonitorsKey, 0, kRead, root.out());
  if (status == ERROR_FILE_NOT_FOUND) return true;
  if (status != ERROR_SUCCESS) return FailWith(status, failure, L"RegOpenKeyExW " + rootPath);
  for (DWORD index = 0;; ++index) {
    wchar_t name[kMaxKeyName] = {};
    DWORD length = kMaxKeyName;
    status = RegEnumKeyExW(root.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) return true;
    if (status != ERROR_SUCCESS) return FailWith(status, failure, L"RegEnumKeyExW " + rootPath);
    bool found = false;
    Registration registration;
    if (!ReadRegistration(std::wstring(name, length), found, registration, failure)) return false;
    if (found) registrations.push_back(registration);
  }
}

}  // namespace setup

#include "files.h"

#include <cstring>
#include <memory>
#include <vector>

namespace setup {

namespace {

// Long paths reach 32767 characters; nothing here needs more.
constexpr DWORD kMaxPath = 32768;
constexpr DWORD kChunk = 64 * 1024;

class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  ~FileHandle() {
    if (valid()) CloseHandle(handle_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

HANDLE OpenForReading(const std::wstring& path) {
  return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Reads up to `size` bytes; fewer only at the end of the file.
bool ReadFully(HANDLE file, BYTE* buffer, DWORD size, DWORD& got) {
  got = 0;
  while (got < size) {
    DWORD n = 0;
    if (!ReadFile(file, buffer + got, size - got, &n, nullptr)) return false;
    if (n == 0) break;
    got += n;
  }
  return true;
}

bool SameContents(HANDLE a, HANDLE b, const std::wstring& nameA, const std::wstring& nameB,
                  bool& same, Win32Failure& failure) {
  std::vector<BYTE> bufferA(kChunk), bufferB(kChunk);
  for (;;) {
    DWORD gotA = 0, gotB = 0;
    if (!ReadFully(a, bufferA.data(), kChunk, gotA)) return Fail(failure, L"ReadFile " + nameA);
    if (!ReadFully(b, bufferB.data(), kChunk, gotB)) return Fail(failure, L"ReadFile " + nameB);
    if (gotA != gotB || std::memcmp(bufferA.data(), bufferB.data(), gotA) != 0) {
      same = false;
      return true;
    }
    if (gotA < kChunk) {
      same = true;
      return true;
    }
  }
}

std::wstring QueryString(const std::vector<BYTE>& block, const wchar_t* translation,
                         const wchar_t* name) {
  const std::wstring path = std::wstring(L"\\StringFileInfo\\") + translation + L"\\" + name;
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(block.data(), path.c_str(), &value, &length) || !value || length == 0)
    return {};
  const wchar_t* text = static_cast<const wchar_t*>(value);
  std::size_t n = 0;
  while (n < length && text[n] != 0) ++n;
  return std::wstring(text, n);
}

std::wstring Hex4(WORD value) {
  constexpr wchar_t kDigits[] = L"0123456789abcdef";
  std::wstring text(4, L'0');
  for (int i = 3; i >= 0; --i, value >>= 4)
    text[static_cast<std::size_t>(i)] = kDigits[value & 0xF];
  return text;
}

// The first translation the resource lists, as "LLLLCCCC"; US English and
// Unicode when it lists none.
std::wstring FirstTranslation(const std::vector<BYTE>& block) {
  struct Translation {
    WORD language, codePage;
  };
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &length) || !value ||
      length < sizeof(Translation))
    return L"040904b0";
  const Translation* t = static_cast<const Translation*>(value);
  return Hex4(t->language) + Hex4(t->codePage);
}

}  // namespace

bool SystemDirectory(std::wstring& folder, Win32Failure& failure) {
  wchar_t buffer[MAX_PATH + 1] = {};
  const UINT length = GetSystemDirectoryW(buffer, MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH) return Fail(failure, L"GetSystemDirectoryW");
  folder.assign(buffer, length);
  return true;
}

bool ProgramDirectory(std::wstring& folder, Win32Failure& failure) {
  std::vector<wchar_t> buffer(kMaxPath);
  const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), kMaxPath);
  if (length == 0 || length >= kMaxPath) return Fail(failure, L"GetModuleFileNameW");
  const std::wstring path(buffer.data(), length);
  folder = path.substr(0, path.size() - FileNameOf(path).size());
  while (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
  return true;
}

bool FullPath(const std::wstring& path, std::wstring& full, Win32Failure& failure) {
  std::vector<wchar_t> buffer(kMaxPath);
  const DWORD length = GetFullPathNameW(path.c_str(), kMaxPath, buffer.data(), nullptr);
  if (length == 0 || length >= kMaxPath) return Fail(failure, L"GetFullPathNameW " + path);
  full.assign(buffer.data(), length);
  return true;
}

std::wstring FileNameOf(std::wstring_view path) {
  const std::size_t at = path.find_last_of(L"\\/:");
  return std::wstring(at == std::wstring_view::npos ? path : path.substr(at + 1));
}

std::wstring JoinPath(std::wstring_view folder, std::wstring_view name) {
  std::wstring path(folder);
  if (!path.empty() && path.back() != L'\\' && path.back() != L'/') path += L'\\';
  return path + std::wstring(name);
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
  return lstrcmpiW(a.c_str(), b.c_str()) == 0;
}

bool CompareFiles(const std::wstring& file, const std::wstring& other, Sameness& result,
                  Win32Failure& failure) {
  FileHandle a(OpenForReading(file));
  if (!a.valid()) return Fail(failure, L"CreateFileW " + file);
  FileHandle b(OpenForReading(other));
  if (!b.valid()) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      result = Sameness::kMissing;
      return true;
    }
    return Fail(failure, L"CreateFileW " + other);
  }
  bool same = false;
  if (!SameContents(a.get(), b.get(), file, other, same, failure)) return false;
  result = same ? Sameness::kEqual : Sameness::kDifferent;
  return true;
}

bool ReadPeInfo(const std::wstring& path, PeInfo& info, Win32Failure& failure) {
  info = PeInfo{};
  FileHandle file(OpenForReading(path));
  if (!file.valid()) return Fail(failure, L"CreateFileW " + path);
  // The DOS header, the PE header it points to within the first 4 KiB, and
  // the file header behind the signature.
  BYTE head[4096];
  DWORD got = 0;
  if (!ReadFully(file.get(), head, sizeof head, got)) return Fail(failure, L"ReadFile " + path);
  if (got < sizeof(IMAGE_DOS_HEADER)) return true;
  IMAGE_DOS_HEADER dos;
  std::memcpy(&dos, head, sizeof dos);
  if (dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew < 0) return true;
  const DWORD at = static_cast<DWORD>(dos.e_lfanew);
  if (at > got || got - at < sizeof(DWORD) + sizeof(IMAGE_FILE_HEADER)) return true;
  DWORD signature = 0;
  IMAGE_FILE_HEADER header;
  std::memcpy(&signature, head + at, sizeof signature);
  std::memcpy(&header, head + at + sizeof signature, sizeof header);
  if (signature != IMAGE_NT_SIGNATURE) return true;
  info.isPe = true;
  info.machine = header.Machine;
  info.isDll = (header.Characteristics & IMAGE_FILE_DLL) != 0;
  return true;
}

std::wstring FileVersion::Numeric() const {
  return std::to_wstring(parts[0]) + L"." + std::to_wstring(parts[1]) + L"." +
         std::to_wstring(parts[2]) + L"." + std::to_wstring(parts[3]);
}

bool ReadFileVersion(const std::wstring& path, FileVersion& version, Win32Failure& failure) {
  version = FileVersion{};
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size == 0) return Fail(failure, L"GetFileVersionInfoSizeW " + path);
  std::vector<BYTE> block(size);
  if (!GetFileVersionInfoW(path.c_str(), 0, size, block.data()))
    return Fail(failure, L"GetFileVersionInfoW " + path);
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(block.data(), L"\\", &value, &length) || !value ||
      length < sizeof(VS_FIXEDFILEINFO)) {
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return Fail(failure, L"VerQueryValueW \\ of " + path);
  }
  const VS_FIXEDFILEINFO* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
  version.parts[0] = HIWORD(fixed->dwFileVersionMS);
  version.parts[1] = LOWORD(fixed->dwFileVersionMS);
  version.parts[2] = HIWORD(fixed->dwFileVersionLS);
  version.parts[3] = LOWORD(fixed->dwFileVersionLS);
  const std::wstring translation = FirstTranslation(block);
  version.fileVersion = QueryString(block, translation.c_str(), L"FileVersion");
  version.productVersion = QueryString(block, translation.c_str(), L"ProductVersion");
  version.productName = QueryString(block, translation.c_str(), L"ProductName");
  version.fileDescription = QueryString(block, translation.c_str(), L"FileDescription");
  version.originalFilename = QueryString(block, translation.c_str(), L"OriginalFilename");
  return true;
}

}  // namespace setup

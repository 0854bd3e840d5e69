#include "reg_writer.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "plumbing.h"
#include "reg_file.h"
#include "text_encoding.h"
#include "trace.h"

namespace langmon::host {

namespace {

bool WriteInPlace(const std::string& path, const std::string& bytes, std::string& error) {
  const int fd = open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0 || !ports::WriteAll(fd, bytes)) {
    error = fmt::format("cannot write {}: {}", path, std::strerror(errno));
    if (fd >= 0) close(fd);
    return false;
  }
  if (close(fd) != 0) {
    error = fmt::format("cannot write {}: {}", path, std::strerror(errno));
    return false;
  }
  return true;
}

}  // namespace

std::string RegKeyNameProblem(std::string_view printer) {
  if (FirstInvalidUtf8(printer) != std::string_view::npos)
    return "the printer name " + QuoteShortened(printer) +
           " is no UTF-8 text, which a .reg file cannot hold as it is";
  for (char c : printer)
    if (static_cast<unsigned char>(c) < 0x20 || c == '\x7f')
      return fmt::format(
          "the printer name {} holds a control character (0x{:02X}), which a .reg file's key "
          "line cannot hold",
          QuoteShortened(VisibleBytes(printer)), static_cast<unsigned char>(c));
  return {};
}

bool FormatRegFile(const std::u16string& printer, const std::vector<RegDwordValue>& values,
                   std::string& bytes, std::string& error) {
  const std::string name = Utf16ToUtf8(printer);
  error = PrinterNameProblem(name);
  if (error.empty()) error = RegKeyNameProblem(name);
  if (!error.empty()) return false;
  const std::u16string key = DriverDataKeyPath(printer);
  std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
  text += "[HKEY_LOCAL_MACHINE\\" + Utf16ToUtf8(key) + "]\r\n";
  for (const RegDwordValue& v : values)
    text += fmt::format("\"{}\"=dword:{:08x}\r\n", v.name, v.value);
  text += "\r\n";
  bytes = "\xFF\xFE";
  bytes += Utf8ToUtf16Le(text);
  return true;
}

bool WriteFileWhole(const std::string& path, const std::string& bytes, std::string& error) {
  struct stat st {};
  const bool exists = lstat(path.c_str(), &st) == 0;
  if (exists && !S_ISREG(st.st_mode)) return WriteInPlace(path, bytes, error);
  const std::string temporary = fmt::format("{}.{}.tmp", path, getpid());
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    error = fmt::format("cannot write {}: {}", path, std::strerror(errno));
    return false;
  }
  // The replacement keeps the permissions of the file it replaces.
  if (exists) fchmod(fd, st.st_mode & 07777);
  bool ok = ports::WriteAll(fd, bytes) && fsync(fd) == 0;
  int failure = ok ? 0 : errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    failure = errno;
  }
  if (ok && rename(temporary.c_str(), path.c_str()) != 0) {
    ok = false;
    failure = errno;
  }
  if (!ok) {
    unlink(temporary.c_str());
    error = fmt::format("cannot write {}: {}", path, std::strerror(failure));
  }
  return ok;
}

}  // namespace langmon::host

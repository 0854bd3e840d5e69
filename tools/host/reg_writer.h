// Writes a printer's stored settings as a .reg file in the format regedit
// exports today ("Windows Registry Editor Version 5.00": UTF-16LE with a
// byte-order mark, CR LF line ends, dword values as eight lowercase hex
// digits), under the driver-data key the monitor reads, so that ReadRegFile
// and regedit both read it back.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace langmon::host {

struct RegDwordValue {
  std::string name;  // e.g. "dwCopies"
  DWORD value = 0;
};

// Why a .reg file cannot hold the driver-data key of this printer name: a
// line break or another control character would end or break the key line,
// and bytes that are no UTF-8 would be read back as another name. Empty
// when it can.
std::string RegKeyNameProblem(std::string_view printer);

// The file's bytes. False with `error` set when the printer name gives no
// driver-data key path (empty, or too long for the monitor's key path) or
// the file cannot hold it (RegKeyNameProblem).
bool FormatRegFile(const std::u16string& printer, const std::vector<RegDwordValue>& values,
                   std::string& bytes, std::string& error);

// Writes the bytes to `path`. A regular file (or a new one) is written in a
// temporary file beside it that is renamed over it once it is complete, so a
// failed write (a full disk) leaves what was there before; anything else
// (a device, a pipe, a symbolic link) is written in place. False with
// `error` naming the path and the reason.
bool WriteFileWhole(const std::string& path, const std::string& bytes, std::string& error);

}  // namespace langmon::host

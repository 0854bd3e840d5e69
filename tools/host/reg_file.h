// Reader for Windows registry export files (.reg) holding a printer driver's
// stored settings, and the loader that puts them into the host registry.
//
// Both export formats are read: "REGEDIT4" (8-bit text) and "Windows
// Registry Editor Version 5.00" (UTF-16LE with a byte-order mark as regedit
// writes it; UTF-8 is accepted too). Only `dword:` values of a printer's
// driver-data key under HKEY_LOCAL_MACHINE (or HKLM) are settings, the key
// being the one the monitor reads (config/config.h).
// Anything else in the file is checked for syntax and then left out; the
// loader says what, by kind (LeftOut).
//
// Reading and loading take time in proportion to the file's size: values
// are found by printer and name through hash tables, never by a scan.
//
// This is the interface; its parts (decoding, lines, values, the reader,
// the load) are listed in reg_parts.h. Advice that names an option of the
// command is the command's to give.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace langmon::host {

// One stored setting: a REG_DWORD value of a printer's driver-data key.
struct RegDword {
  std::string printer;  // UTF-8, as written in the key path
  std::string name;     // UTF-8 value name, e.g. "dwCopies"
  DWORD value = 0;
  int line = 0;  // where it was set
};

// Well-formed content that is no setting of the chosen printer, by kind.
enum class LeftOutKind {
  OtherPrinter,  // a driver-data key of another printer, with all its values
  OtherKey,      // a key that is no printer's driver-data key
  NotDword,      // a value of another type (string, binary, qword, ...)
  WrongLength,   // a REG_DWORD (hex(4)) whose data is not four bytes
  Unnamed,       // the unnamed (default) value of a key
  Replaced,      // a dword given again (in its key, or in the key given again):
                 // listed at the later line, whose value counts
};

struct LeftOut {
  int line = 0;
  LeftOutKind kind = LeftOutKind::OtherKey;
  std::string printer;  // whose driver-data key holds it; empty for OtherKey
  std::string message;  // what was left out and why, without the line
};

// A [key] line that opens a printer's driver-data key.
struct RegKeyLine {
  std::string printer;
  int line = 0;
};

struct RegFile {
  // Surviving values of every printer in file order; a later line for the
  // same printer and name replaces the earlier one, and deletions
  // ("name"=- or [-key]) remove.
  std::vector<RegDword> values;
  // Content that is no setting, in line order: other keys, and values of a
  // printer's key that are not dwords or have no name (with that printer).
  std::vector<LeftOut> leftOut;
  // Every printer's driver-data key line ([key], not [-key]), in line order.
  std::vector<RegKeyLine> printerKeys;
};

// Why a file is refused: the line of the fault (from 1) and the reason.
struct RegFileError {
  int line = 0;
  std::string reason;
};

// Parses the raw bytes of a .reg file. Returns false and fills `error` (line
// number and reason) when the file is malformed; nothing is half-read then.
bool ParseRegFile(std::string_view bytes, RegFile& out, RegFileError& error);

// The driver-data key path of a printer, relative to HKEY_LOCAL_MACHINE, as
// the monitor forms it (BuildDriverDataKeyPath); empty when the name gives
// none (empty, or too long for the monitor's key path).
std::u16string DriverDataKeyPath(const std::u16string& printer);
// Why the monitor can form no driver-data key path for a printer name
// (empty, or longer than kMaxPrinterNameLength UTF-16 characters), in a
// message that quotes a long name shortened; empty when it can.
std::string PrinterNameProblem(std::string_view printer);
// Creates (or opens) that key for writing. False with `error` set when the
// name gives no key path or the registry refuses; the caller closes the key.
bool CreateDriverDataKey(const std::u16string& printer, HKEY& key, std::string& error);

// Writes the file's values for `printer` (compared without regard to letter
// case, as registry key names are) into the host registry as REG_DWORD
// values. `leftOut` receives, in line order, everything in the file that is
// not loaded: the file's own left-out content of that printer and of other
// keys, and one entry per driver-data key of another printer. Returns the
// number of values written, or -1 with `error` set when the registry
// refused. With `from`, the file's values for printer `from` are the ones
// written for `printer` (a fleet sends one printer's stored settings to every
// printer).
int LoadPrinterSettings(const RegFile& file, const std::u16string& printer,
                        std::vector<LeftOut>& leftOut, std::string& error,
                        const std::string& from = {});

// The printers a file holds values for, each once (compared without regard
// to letter case), in the order they first appear.
std::vector<std::string> PrintersIn(const RegFile& file);

// One line that counts what was left out by kind, e.g. "left out 2 keys of
// other printers, 1 value that is not a dword"; empty when nothing was.
// `otherPrinters` is put right after the count of other printers' keys (the
// command says there which printer the run uses).
std::string LeftOutSummary(const std::vector<LeftOut>& leftOut,
                           std::string_view otherPrinters = {});

}  // namespace langmon::host

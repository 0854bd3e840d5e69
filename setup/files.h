// Files and folders: where things are, whether two files are the same,
// what a PE file is built for, and the version resource of a file.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "report.h"

namespace setup {

bool SystemDirectory(std::wstring& folder, Win32Failure& failure);
// The folder that holds the running program.
bool ProgramDirectory(std::wstring& folder, Win32Failure& failure);
bool FullPath(const std::wstring& path, std::wstring& full, Win32Failure& failure);

// The last component of a path; both separators count.
std::wstring FileNameOf(std::wstring_view path);
std::wstring JoinPath(std::wstring_view folder, std::wstring_view name);
bool SamePath(const std::wstring& a, const std::wstring& b);  // letter case ignored

enum class Sameness { kEqual, kDifferent, kMissing };

// Compares `file` with `other` byte for byte; kMissing when `other` does not
// exist. `file` must exist.
bool CompareFiles(const std::wstring& file, const std::wstring& other, Sameness& result,
                  Win32Failure& failure);

struct PeInfo {
  bool isPe = false;  // an MZ file with a PE header
  WORD machine = 0;   // IMAGE_FILE_MACHINE_I386, IMAGE_FILE_MACHINE_AMD64, ...
  bool isDll = false;
};

// Reads the headers of a file; a file that is too short or not a PE file
// gives isPe false, not a failure.
bool ReadPeInfo(const std::wstring& path, PeInfo& info, Win32Failure& failure);

struct FileVersion {
  WORD parts[4] = {};  // the numeric FILEVERSION
  std::wstring fileVersion, productVersion, productName, fileDescription, originalFilename;

  std::wstring Numeric() const;  // "1.0.0.0"
};

bool ReadFileVersion(const std::wstring& path, FileVersion& version, Win32Failure& failure);

}  // namespace setup

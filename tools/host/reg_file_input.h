// A .reg file read from disk, within its size limit and the run's time
// limit, and parsed (reg_file.h). Apart from the parser so that what only
// parses (the fuzz target, the benchmark) needs no file reading.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

#include "input_file.h"
#include "reg_file.h"

namespace langmon::host {

// The most a .reg file may hold: more than twice regedit's UTF-16 export of
// 500 000 values (28 MB), which must load, and still read in a few seconds.
inline constexpr std::size_t kMaxRegFileBytes = 64u << 20;

// Reads and parses a file. Refused: `error` reads "PATH: reason" (it cannot
// be read, is a folder, is larger than kMaxRegFileBytes) or "PATH:LINE:
// reason" (it is malformed). TimeUp: `deadline` passed while it was read.
sim::InputResult ReadRegFile(const std::string& path, RegFile& out, std::string& error,
                             std::optional<std::chrono::steady_clock::time_point> deadline = {});

}  // namespace langmon::host

// The files the host programs read whole: a .reg export, a printers file,
// an objects file. Each kind has a size limit, checked before a regular file
// is read and as anything else (a pipe, a device) is read, and a reader that
// runs to a deadline gives up at it: no input can take all memory or all
// time. A named pipe is opened without waiting for a writer, so only the
// reading waits, and that wait is bounded.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

namespace langmon::sim {

enum class InputResult {
  Read,     // the whole file is in `bytes`
  Refused,  // `error` says why: "PATH: cannot open the KIND: reason", ...
  TimeUp,   // the deadline passed before the file had ended
};

struct InputLimits {
  const char* kind;  // "printers file", for the messages
  std::size_t maxBytes;
  std::optional<std::chrono::steady_clock::time_point> deadline;
};

// Reads the whole file (a regular file, a pipe or a device). Refused: a file
// that cannot be opened or read, a folder, or one larger than maxBytes.
InputResult ReadInputFile(const std::string& path, const InputLimits& limits, std::string& bytes,
                          std::string& error);

// "64 MiB", "4 MiB", for the messages and the documentation's figures.
std::string SizeText(std::size_t bytes);

}  // namespace langmon::sim

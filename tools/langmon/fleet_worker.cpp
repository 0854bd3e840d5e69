// A fleet worker process: one monitor instance serving a printer on each of
// the ports the monitor serves (LPT1: to LPT9: and LPT1 to LPT9), one thread
// each.
#include <fmt/format.h>
#include <malloc.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fleet.h"
#include "plumbing.h"
#include "report.h"
#include "text_encoding.h"

namespace langmon::cli {

namespace {

// Whole lines from a descriptor, as they come.
class LineReader {
 public:
  explicit LineReader(int fd) : fd_(fd) {}
  // False at the end (or a failed read).
  bool Next(std::string& line) {
    for (;;) {
      const std::size_t end = buffer_.find('\n');
      if (end != std::string::npos) {
        line = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        return true;
      }
      char chunk[512];
      const ssize_t n = ::read(fd_, chunk, sizeof chunk);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      buffer_.append(chunk, static_cast<std::size_t>(n));
    }
  }

 private:
  int fd_;
  std::string buffer_;
};

// How many settings the printer was asked and answered, from a
// configuration's "settings" (a setting the monitor does not read from the
// printer has "answered": null).
void AddAnsweredCounts(nlohmann::ordered_json& object) {
  const auto settings = object.find("settings");
  if (settings == object.end() || !settings->is_array()) return;
  int asked = 0, answered = 0;
  for (const auto& s : *settings) {
    const auto a = s.find("answered");
    if (a == s.end() || a->is_null()) continue;
    ++asked;
    if (a->get<bool>()) ++answered;
  }
  object["answered"] = answered;
  object["asked"] = asked;
}

int RunGuarded(const FleetJob& job, const Options& options) {
  try {
    return job.run(options);
  } catch (const std::exception& e) {
    return Fail(kFailed, "unexpected failure", e.what());
  } catch (...) {
    return Fail(kFailed, "unexpected failure", "an unknown exception");
  }
}

// The slots of a worker: which are free, and the thread that last ran on
// each (joined before the slot runs another).
struct Slots {
  std::mutex lock;
  std::vector<bool> busy;
  std::vector<std::thread> threads;
  std::mutex writeLock;  // one result line at a time on the pipe
};

int TakeSlot(Slots& slots) {
  std::lock_guard<std::mutex> guard(slots.lock);
  for (std::size_t i = 0; i < slots.busy.size(); ++i)
    if (!slots.busy[i]) {
      slots.busy[i] = true;
      return static_cast<int>(i);
    }
  return -1;
}

// The slot is free again before the result goes out: the parent hands the
// worker its next printer only after reading a result, and the port has
// been closed by then.
void RunInSlot(const FleetJob& job, Slots& slots, std::size_t index, int slot, int resultFd) {
  const nlohmann::ordered_json result = RunFleetPrinter(job, index, slot);
  const std::string line =
      fmt::format("{}\t{}\t{}\n", index, result.value("exitStatus", static_cast<int>(kFailed)),
                  result.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace));
  {
    std::lock_guard<std::mutex> guard(slots.lock);
    slots.busy[static_cast<std::size_t>(slot)] = false;
  }
  std::lock_guard<std::mutex> guard(slots.writeLock);
  if (!ports::WriteAll(resultFd, line)) std::_Exit(kFailed);  // the parent is gone
}

}  // namespace

nlohmann::ordered_json RunFleetPrinter(const FleetJob& job, std::size_t index, int slot) {
  const FleetPrinter& printer = job.printers[index];
  Options options = job.options;
  options.device = printer.uri;
  options.port = host::Utf16ToUtf8(kServedPortNames[slot]);
  options.printerName = printer.name;
  options.quiet = true;
  const auto start = std::chrono::steady_clock::now();
  CaptureReport();
  ForgetTimeRanOut();
  int status = RunGuarded(job, options);
  if (options.deadline && status != kUsage && TimeRanOut()) {
    Error(TimeLimitText(*job.options.timeout) + " before the command had finished");
    status = kTimedOut;
  }
  nlohmann::ordered_json object = TakeReport(status);
  AddAnsweredCounts(object);
  nlohmann::ordered_json result = {{"uri", printer.uri}, {"name", printer.name}};
  result.update(object);
  result["seconds"] =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return result;
}

void RunWorker(const FleetJob& job, int slotCount, int taskFd, int resultFd) {
#ifdef M_ARENA_MAX
  // The slots' threads share the heap the worker inherited instead of
  // each opening an arena of its own: a printer's run allocates little, and
  // every fresh arena page is a page fault (a quarter fewer over a fleet).
  ::mallopt(M_ARENA_MAX, 1);
#endif
  Slots slots;
  slots.busy.assign(static_cast<std::size_t>(slotCount), false);
  slots.threads.resize(static_cast<std::size_t>(slotCount));
  LineReader tasks(taskFd);
  for (std::string line; tasks.Next(line);) {
    char* end = nullptr;
    const unsigned long index = std::strtoul(line.c_str(), &end, 10);
    const int slot = TakeSlot(slots);
    // The parent hands out no more printers than there are slots.
    if (*end != '\0' || index >= job.printers.size() || slot < 0) std::_Exit(kFailed);
    std::thread& thread = slots.threads[static_cast<std::size_t>(slot)];
    if (thread.joinable()) thread.join();
    thread = std::thread(
        [&job, &slots, index, slot, resultFd] { RunInSlot(job, slots, index, slot, resultFd); });
  }
  for (std::thread& thread : slots.threads)
    if (thread.joinable()) thread.join();
  // Nothing of the parent's (its buffered output, its static objects) is
  // this process's to flush or destroy.
  std::_Exit(kSuccess);
}

}  // namespace langmon::cli

#include "report.h"

#include <fmt/format.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "options.h"
#include "plumbing.h"

namespace langmon::cli {

using ports::PortFailure;

namespace {

struct Report {
  bool json = false;
  bool lines = false;     // JSON Lines: one compact object a line
  bool captured = false;  // a fleet worker's printer: nothing to standard error
  nlohmann::ordered_json result = nlohmann::ordered_json::object();
  bool failed = false;  // the first failure's words are kept
  std::string error;
  std::string cause;
  nlohmann::ordered_json warnings = nlohmann::ordered_json::array();
  int writeError = 0;  // errno of the first failed write
};

// Each thread reports on its own: a fleet worker runs one printer per thread.
Report& State() {
  thread_local Report report;
  return report;
}

void ToStderr(const std::string& text) {
  if (!State().captured) std::fputs(text.c_str(), stderr);
}

void Remember(const std::string& error, const std::string& cause) {
  Report& r = State();
  if (r.failed) return;
  r.failed = true;
  r.error = error;
  r.cause = cause;
}

void Complete(Report& r, int status) {
  if (r.failed) {
    r.result["error"] = r.error;
    r.result["cause"] = r.cause;
  }
  if (!r.warnings.empty()) r.result["warnings"] = r.warnings;
  r.result["exitStatus"] = status;
}

void PrintJson(Report& r, int status) {
  Complete(r, status);
  // Names and device IDs may hold bytes that are no UTF-8; they are shown
  // replaced rather than ending the run.
  Print(r.result.dump(r.lines ? -1 : 2, ' ', false,
                      nlohmann::ordered_json::error_handler_t::replace) +
        "\n");
}

}  // namespace

void SetJsonOutput(bool json) { State().json = json; }
bool JsonOutput() { return State().json; }
void SetJsonLines(bool lines) { State().lines = lines; }

void CaptureReport() {
  State() = Report{};
  State().json = true;
  State().captured = true;
}

nlohmann::ordered_json TakeReport(int status) {
  Report& r = State();
  Complete(r, status);
  nlohmann::ordered_json result = std::move(r.result);
  r = Report{};
  return result;
}

void Print(std::string_view text) {
  Report& r = State();
  if (text.empty() || r.writeError != 0) return;
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size())
    r.writeError = errno != 0 ? errno : EIO;
}

void FlushOutput() {
  Report& r = State();
  errno = 0;
  if (std::fflush(stdout) != 0 && r.writeError == 0) r.writeError = errno != 0 ? errno : EIO;
}

nlohmann::ordered_json& JsonResult() { return State().result; }

int Fail(int status, const std::string& error, const std::string& cause) {
  ToStderr(cause.empty() ? fmt::format("langmon: error: {}\n", error)
                         : fmt::format("langmon: error: {}: {}\n", error, cause));
  Remember(error, cause);
  return status;
}

int FailWith(int status, const std::string& error, const std::string& message) {
  ToStderr(fmt::format("langmon: error: {}\n", message));
  Remember(error, message);
  return status;
}

void Error(const std::string& text) {
  ToStderr(fmt::format("langmon: error: {}\n", text));
  const std::size_t colon = text.find(": ");
  if (colon == std::string::npos)
    Remember(text, "");
  else
    Remember(text.substr(0, colon), text.substr(colon + 2));
}

void Warning(const std::string& text) {
  ToStderr(fmt::format("langmon: warning: {}\n", text));
  State().warnings.push_back(text);
}

int FinishOutput(int status) {
  Report& r = State();
  if (r.json) PrintJson(r, status);
  FlushOutput();
  if (r.writeError == 0 && std::ferror(stdout)) r.writeError = EIO;
  if (r.writeError == 0) return status;
  ToStderr(
      fmt::format("langmon: error: cannot write the output: {}\n", std::strerror(r.writeError)));
  return status == kSuccess || status == kUnanswered || status == kDiffers ? kFailed : status;
}

std::string DescribeFailure(const PortFailure& f) {
  if (!f.message.empty()) return f.message;
  return fmt::format("{} failed: {}", f.operation, ports::Win32ErrorText(f.error));
}

}  // namespace langmon::cli

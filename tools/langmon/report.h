// How the langmon command reports. Results go to standard output, as text or,
// with --json, as one JSON object printed when the run ends. Errors and
// warnings go to standard error; with --json they are also members of that
// object ("error", "cause", "warnings"), and the object always carries the
// run's "exitStatus". A run has one report per thread (a fleet worker runs
// one printer per thread), so its state is this file's own, per thread.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "observed_port.h"
#include "platform/platform.h"

namespace langmon::cli {

void SetJsonOutput(bool json);
bool JsonOutput();
// A fleet writes JSON Lines: an object of the run itself (an error before
// any printer ran) is then one compact line too.
void SetJsonLines(bool lines);

// A fleet worker's printer, on this thread: a fresh report in JSON, whose
// errors and warnings stay in the object instead of going to standard error.
void CaptureReport();
// The finished object of this thread's report, as FinishOutput would print
// it with `status`; the thread's report starts afresh.
nlohmann::ordered_json TakeReport(int status);

// Text for standard output. A failed write is remembered for FinishOutput.
void Print(std::string_view text);
// Flushes standard output (a fleet's line as its printer finishes); a
// failure is remembered as Print's are.
void FlushOutput();
// The JSON object the run prints at its end; commands fill it.
nlohmann::ordered_json& JsonResult();

// A failure: "langmon: error: ERROR: CAUSE" on standard error, and the first
// one of a run as "error" and "cause" in the JSON object. Returns `status`.
int Fail(int status, const std::string& error, const std::string& cause);
// The same for a cause that already reads as the whole message, such as a
// file's own "PATH:LINE: reason": standard error shows it alone.
int FailWith(int status, const std::string& error, const std::string& message);
// A message in one piece, "WHAT: WHY", when the caller returns the status
// itself: shown as it is; "error" and "cause" are the parts around its first
// ": ".
void Error(const std::string& text);
void Warning(const std::string& text);

// Ends the run: prints the JSON object (with "exitStatus") and flushes
// standard output. Returns `status`, or kFailed when standard output could
// not be written (a full disk, a closed pipe), which it names on standard
// error.
int FinishOutput(int status);

// The port monitor's own message of a failure, or the operation and the
// code in words.
std::string DescribeFailure(const ports::PortFailure& f);

}  // namespace langmon::cli

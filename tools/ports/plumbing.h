// The POSIX plumbing the host's port monitors share, and with them the
// host's other programs: descriptors closed and written whole, waits that a
// signal does not cut short and that no deadline outlasts, Win32 codes for
// errno values and in words, and each thread's message of its last failure.
//
// A port monitor's entry point that fails sets the thread's last error to a
// Win32 code and leaves a readable message (Fail): the host reports the
// message, and where a port monitor gave none, the code in words
// (Win32ErrorText). No message shows a bare code.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace langmon::ports {

using Clock = std::chrono::steady_clock;

// ---- descriptors ------------------------------------------------------------

// Closes `fd` when it is open and marks it closed (-1).
void CloseFd(int& fd);
// Writes all of `bytes`, resuming after partial writes and signals. False
// with errno set when it cannot (EIO for a write that took nothing).
bool WriteAll(int fd, std::string_view bytes);

// ---- waits ------------------------------------------------------------------

// Milliseconds left until `when` for poll(), rounded up: 0 once it has
// passed, capped far below the int range.
int MillisecondsUntil(Clock::time_point when);
// `from` plus `ms`, or `cap` when that comes first.
Clock::time_point Within(Clock::time_point from, std::uint64_t ms, Clock::time_point cap);
// Waits until `fd` is ready for `events` or `until` passes; a signal does
// not end the wait early. 1 when ready, 0 when the time is up, -1 with
// errno set when poll() failed.
int PollUntil(int fd, short events, Clock::time_point until);

// ---- Win32 codes ------------------------------------------------------------

// The Win32 code for an errno value; ERROR_GEN_FAILURE for one without its
// own.
DWORD Win32ErrorFromErrno(int error);
// What a Win32 code means, in words ("the printer refused the connection");
// a code without words of its own is called an unknown failure, with its
// number.
std::string Win32ErrorText(DWORD code);

// ---- the last failure's message ---------------------------------------------

// Fails a port monitor's entry point: the thread's last error is `code`,
// its message `message`. Returns FALSE.
BOOL Fail(DWORD code, std::string message);
// The message of the calling thread's last failure ("" when none since it
// was cleared).
std::string LastMessage();
void ClearLastMessage();

}  // namespace langmon::ports

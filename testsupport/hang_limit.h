// The one bound the tests put on real time.
#pragma once

#include <chrono>

namespace langmon::testing {

// An upper bound on real time only catches a hang or a limit not kept: far
// above what the slowest case needs on a loaded machine (at least ten times),
// far below "for ever".
inline constexpr std::chrono::seconds kHangLimit{30};

}  // namespace langmon::testing

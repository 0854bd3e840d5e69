// "SetConfigObjects" for apply and set: sends the stored settings that
// "dwCfgFlags" selects, reports which went out, and with --verify reads the
// configuration back and compares.
#pragma once

#include <string>

#include "options.h"
#include "session.h"

namespace langmon::cli {

// `origin` says where the stored settings came from, for the causes of a
// refusal ("settings.reg", "the command line"). Returns the exit status:
// with --verify 1 when a setting read back differs from what was sent, 3
// when one could not be read back.
int SendStoredSettings(Session& session, const Options& options, const std::string& origin);

}  // namespace langmon::cli

// A print job's result for --json, kept apart from the print command's flow.
#pragma once

#include <nlohmann/json.hpp>

#include "options.h"
#include "spooler.h"

namespace langmon::cli {

nlohmann::ordered_json JobJson(const Options& options, const host::JobResult& result);

}  // namespace langmon::cli

// How the langmon command reports: errors and warnings on stderr, and the
// words for Win32 codes and port failures.
#pragma once

#include <string>

#include "observed_port.h"
#include "platform/platform.h"

namespace langmon::cli {

void Error(const std::string& text);
void Warning(const std::string& text);
std::string Win32ErrorText(DWORD error);
std::string DescribeFailure(const host::PortFailure& f);

}  // namespace langmon::cli

#pragma once

#include <string_view>

namespace devicetools
{

// The simulator's --help text: its options, its output, the reply rule
// file's format, examples and exit statuses. Fixed text; any thread.
std::string_view simulatorUsage();

} // namespace devicetools

#pragma once

#include "commandline.h"
#include "simulatorconfig.h"

#include <string>
#include <string_view>

namespace devicetools
{

// Reads the simulator's options into `config`, loading the rule file when one
// is named. On UsageError, `error` says what is wrong.
ParseResult parseSimulatorArguments(CommandLine& line, SimulatorConfig& config, std::string& error);

// The --help text.
std::string_view simulatorUsage();

} // namespace devicetools

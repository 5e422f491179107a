#pragma once

#include "commandline.h"
#include "simulatorconfig.h"

#include <string>
#include <string_view>

namespace devicetools
{

// Reads the simulator's options into `config`, loading the rule file when one
// is named. The failure says what is wrong (BadArgument, or the rule file's).
[[nodiscard]] base::Result<ParseResult> parseSimulatorArguments(CommandLine& line,
                                                                SimulatorConfig& config);

} // namespace devicetools

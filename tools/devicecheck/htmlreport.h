#pragma once

#include "check/fleetreport.h"

#include <string>

namespace devicetools
{

// The run as one self-contained HTML page for a site manager: no external
// files, fonts or scripts. The summary (counts, when, how long), a histogram
// of the answer times drawn as inline SVG, and a table of every device (the
// ones that did not pass first) with its result, the step that failed and
// why, what came instead, its connect time and its answer times. Every text
// from a device or a file is escaped. Pure.
class HtmlReport
{
public:
    static std::string text(const check::FleetReport& report);

    // Answer times listed for one device at most; the rest are counted.
    static constexpr std::size_t kTimesShown = 8;
    // What is shown of a device's answer at most.
    static constexpr std::size_t kGotLimit = 200;
};

} // namespace devicetools

#pragma once

#include "check/fleetreport.h"

#include <string>

namespace devicetools
{

// The run as one self-contained HTML page for a site manager: no external
// files, fonts or scripts. Its title (e.g. the site and the operator, when
// given), the summary (counts, when in local time with the zone, how long),
// a histogram of the answer times drawn as inline SVG, and a table of every
// device (the ones that did not pass first) with its result, the step that
// failed and why (with a plain hint for a refused or timed-out connection),
// what came instead, its connect time and its answer times by step. Times
// under a millisecond read "under 1 ms". Every text from a device or a file
// is escaped. Pure but for reading the local time zone.
class HtmlReport
{
public:
    static std::string text(const check::FleetReport& report, const std::string& title = {});
    // A plain-language hint for a failure's reason, or empty.
    static std::string hint(const std::string& reason);

    // Answer times listed for one device at most; the rest are counted.
    static constexpr std::size_t kTimesShown = 8;
    // What is shown of a device's answer at most.
    static constexpr std::size_t kGotLimit = 200;
};

} // namespace devicetools

#pragma once

#include "check/fleetreport.h"

#include <string>

namespace devicetools
{

// What a run prints at its end: one line per device that failed or was
// stopped (device, step, reason, what came instead), then the summary line.
// Every text from a device or a file is made safe for a terminal. Pure.
class SummaryText
{
public:
    static std::string text(const check::FleetReport& report);
    // "1000 devices in 3.2 s: 997 passed, 3 failed"
    static std::string summaryLine(const check::FleetReport& report);
    // "FAIL door-3 (10.0.0.3:21210): step 2 "x": no answer within 2000 ms; got "...""
    static std::string deviceLine(const check::DeviceResult& device);
    // "records of 2 devices cut at 256 KiB each: ...", after the summary
    // when a device's record passed `maxBytes`.
    static std::string recordsCutLine(std::size_t devices, std::size_t maxBytes);

    // What is shown of a device's answer at most; the rest is cut with "...".
    static constexpr std::size_t kGotLimit = 120;
};

} // namespace devicetools

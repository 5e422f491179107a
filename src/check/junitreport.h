#pragma once

#include "fleetreport.h"

#include <string>

namespace check
{

// The run as JUnit XML, for a CI server or a test dashboard: one testsuite,
// one testcase per device (named by the device, with its time); a device
// that failed holds a <failure> whose type is the step and whose message
// says why, with what came instead in its text; a device stopped part way an
// <error>; one never run a <skipped>. Every text from a device or a file is
// escaped (control bytes as \xNN, markup as references). Pure.
class JunitReport
{
public:
    static std::string text(const FleetReport& report);

    // What is kept of a device's answer at most.
    static constexpr std::size_t kGotLimit = 1024;
};

} // namespace check

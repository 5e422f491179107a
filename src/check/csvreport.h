#pragma once

#include "fleetreport.h"

#include <string>

namespace check
{

// The run as CSV for a spreadsheet: a header row, then one row per device
// and step that ended (a device that never got to a step, such as one that
// refused the connection, has one row naming "connect" or why it did not
// run), with the step's answer time in milliseconds. Lines end in CR LF;
// every text field goes through csvField() (no formulas, no line breaks, no
// control bytes). Pure.
//
// Columns: device, name, outcome, step, step_name, round, iteration,
// step_outcome, answer_ms, reason, got.
class CsvReport
{
public:
    static std::string text(const FleetReport& report);

    // What is kept of a device's answer at most.
    static constexpr std::size_t kGotLimit = 1024;
};

} // namespace check

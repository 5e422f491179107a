#include "csvreport.h"

#include "reporttext.h"

namespace check
{

namespace
{

constexpr std::string_view kHeader = "device,name,outcome,step,step_name,round,iteration,"
                                     "step_outcome,answer_ms,reason,got\r\n";

} // namespace

std::string CsvReport::text(const FleetReport& report)
{
    std::string out(kHeader);
    for (const DeviceResult& device : report.devices) {
        const std::string lead = csvField(device.target.label()) + ',' +
                                 csvField(device.target.name) + ',' +
                                 csvField(FleetReport::outcomeName(device.outcome)) + ',';
        if (device.steps.empty()) {
            const bool ran =
                device.outcome != DeviceOutcome::NotRun && device.outcome != DeviceOutcome::Unknown;
            const std::string step =
                device.outcome == DeviceOutcome::NotRun    ? std::string("not run")
                : device.outcome == DeviceOutcome::Unknown ? std::string("unknown")
                                                           : device.failedStep;
            out += lead + ',' + csvField(step) + ",,," + csvField(ran ? "failed" : "") + ",," +
                   csvField(device.reason) + ',' + csvField(device.got.substr(0, kGotLimit)) +
                   "\r\n";
            continue;
        }
        for (const StepResult& step : device.steps) {
            const bool passed = step.outcome == StepOutcome::Passed;
            out += lead + std::to_string(step.stepIndex + 1) + ',' + csvField(step.stepName) + ',' +
                   std::to_string(step.round) + ',' + std::to_string(step.iteration) + ',' +
                   (passed ? "passed" : "failed") + ',' +
                   (passed && report.isExpect(step) ? std::to_string(step.answerTime.count())
                                                    : std::string()) +
                   ',' + csvField(step.reason) + ',' + csvField(step.got.substr(0, kGotLimit)) +
                   "\r\n";
        }
    }
    return out;
}

} // namespace check

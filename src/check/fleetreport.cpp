#include "fleetreport.h"

#include <algorithm>

namespace check
{

void DeviceResult::addStep(StepResult step)
{
    if (step.outcome == StepOutcome::Failed && failedStep.empty()) {
        failedStep = step.stepName;
        reason = step.reason;
        got = step.got;
    }
    steps.push_back(std::move(step));
}

FleetReport::Counts FleetReport::counts() const
{
    Counts counts;
    counts.total = devices.size();
    for (const DeviceResult& device : devices) {
        switch (device.outcome) {
        case DeviceOutcome::Passed:
            ++counts.passed;
            break;
        case DeviceOutcome::Failed:
            ++counts.failed;
            break;
        case DeviceOutcome::Stopped:
            ++counts.stopped;
            break;
        case DeviceOutcome::NotRun:
            ++counts.notRun;
            break;
        case DeviceOutcome::Unknown:
            ++counts.unknown;
            break;
        }
    }
    return counts;
}

bool FleetReport::allPassed() const
{
    return std::all_of(devices.begin(), devices.end(), [](const DeviceResult& device) {
        return device.outcome == DeviceOutcome::Passed || device.outcome == DeviceOutcome::Unknown;
    });
}

std::string FleetReport::failureText(const DeviceResult& device)
{
    switch (device.outcome) {
    case DeviceOutcome::Passed:
        return {};
    case DeviceOutcome::NotRun:
        return "not run: the run was stopped first";
    case DeviceOutcome::Unknown:
        return "unknown device: " + device.reason;
    case DeviceOutcome::Failed:
    case DeviceOutcome::Stopped:
        break;
    }
    std::string text = device.failedStep;
    if (!device.reason.empty()) {
        text += ": " + device.reason;
    }
    return text;
}

std::string_view FleetReport::outcomeName(DeviceOutcome outcome)
{
    switch (outcome) {
    case DeviceOutcome::Passed:
        return "passed";
    case DeviceOutcome::Failed:
        return "failed";
    case DeviceOutcome::Stopped:
        return "stopped";
    case DeviceOutcome::Unknown:
        return "unknown";
    case DeviceOutcome::NotRun:
        break;
    }
    return "not run";
}

std::string FleetReport::deviceText(const Target& target)
{
    return target.name.empty() ? target.label() : target.name + " (" + target.label() + ')';
}

bool FleetReport::isExpect(const StepResult& step) const
{
    return step.stepIndex < file.steps.size() &&
           std::holds_alternative<ExpectStep>(file.steps[step.stepIndex].action);
}

std::vector<long long> FleetReport::answerTimes(const DeviceResult& device) const
{
    std::vector<long long> times;
    for (const StepResult& step : device.steps) {
        if (step.outcome == StepOutcome::Passed && isExpect(step)) {
            times.push_back(step.answerTime.count());
        }
    }
    return times;
}

} // namespace check

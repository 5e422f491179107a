#pragma once

#include "checkrun.h"
#include "target.h"

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace check
{

// How one device's check ended.
enum class DeviceOutcome {
    NotRun,  // never contacted: the run was stopped before its turn
    Passed,  // every step passed
    Failed,  // a step failed, or the device could not be reached
    Stopped, // contacted, but the run was stopped before its check ended
    Unknown, // called in but is not one of the devices expected: not checked,
             // not a failure of the run
};

// One device's check: what every report writes. Times are spans in
// milliseconds.
struct DeviceResult {
    Target target;
    DeviceOutcome outcome = DeviceOutcome::NotRun;
    std::vector<StepResult> steps; // in the order they ended
    // The step that failed ("connect", a step's name, "device time-out"), why,
    // and what came instead (escaped for people; may be empty; never part of
    // the reason).
    std::string failedStep;
    std::string reason;
    std::string got;
    Millis connectTime{0};
    Millis duration{0}; // from the connect's start to the end

    // Keeps a step that ended; the first that failed also names the failed
    // step, why, and what came instead.
    void addStep(StepResult step);
};

// Everything a run found, for the report writers: a run of one check file
// against many devices (the device checker) or one (the console's Commands
// window). The summary's counts and the texts the reports share. Plain data
// and pure functions; any thread.
struct FleetReport {
    std::string checkFile; // the check file's name as the user gave it
    CheckFile file;
    std::chrono::system_clock::time_point startedAt;
    Millis elapsed{0};
    bool stopped = false; // Ctrl+C or SIGTERM ended the run early
    std::vector<DeviceResult> devices;

    struct Counts {
        std::size_t total = 0, passed = 0, failed = 0, stopped = 0, notRun = 0, unknown = 0;
    };
    Counts counts() const;
    // True when every device passed (unknown devices aside).
    bool allPassed() const;

    // "step 2 \"open door\": no answer within 2000 ms", or "connect: Connection refused".
    static std::string failureText(const DeviceResult& device);
    static std::string_view outcomeName(DeviceOutcome outcome);
    // "door-3 (10.0.0.3:21210)" with a name, else "10.0.0.3:21210".
    static std::string deviceText(const Target& target);
    // True for the result of an expect step (one with an answer time).
    bool isExpect(const StepResult& step) const;
    // The answer times of a device's expect steps that passed, in ms.
    std::vector<long long> answerTimes(const DeviceResult& device) const;
};

} // namespace check

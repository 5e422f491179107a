#pragma once

#include "fleetsimulator.h"
#include "simulatorconfig.h"
#include "simulatorlog.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// The device simulator run inside the test: on 127.0.0.1 (or the loopback
// address given), on a port the system picks, with its log lines captured.
// The configuration given is used as it stands but for the address and the
// port. Started by the constructor;
// check started(). Stopped by the destructor.
class SimulatorUnderTest
{
public:
    explicit SimulatorUnderTest(devicetools::SimulatorConfig config = {},
                                const std::string& host = "127.0.0.1");
    ~SimulatorUnderTest();
    SimulatorUnderTest(const SimulatorUnderTest&) = delete;
    SimulatorUnderTest& operator=(const SimulatorUnderTest&) = delete;

    bool started() const { return started_; }
    const std::string& startError() const { return error_; }
    std::string portText() const { return std::to_string(simulator_.port()); }
    devicetools::FleetSimulator& simulator() { return simulator_; }

    // The log lines so far: what was logged before the call, once the log
    // thread has written it (at most a few seconds).
    std::vector<std::string> lines() const;
    // Waits until a log line holds `part`; true when one did within `limit`.
    bool waitForLine(std::string_view part, std::chrono::milliseconds limit);
    // The log lines that hold `part`.
    std::vector<std::string> linesWith(std::string_view part) const;

private:
    devicetools::SimulatorConfig config_;
    mutable std::mutex mutex_;
    std::condition_variable added_;
    std::vector<std::string> lines_;
    mutable devicetools::SimulatorLog log_;
    devicetools::FleetSimulator simulator_;
    std::string error_;
    bool started_ = false;
};

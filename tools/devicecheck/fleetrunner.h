#pragma once

#include "check/fleetreport.h"
#include "devicesession.h"

#include "base/error.h"
#include "check/checkfile.h"
#include "traffic/trafficrecord.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace devicetools
{

// How a fleet is run.
struct FleetSettings {
    static constexpr std::uint32_t kDefaultJobs = 64;
    static constexpr std::uint32_t kDefaultRate = 500;

    std::uint32_t jobs = kDefaultJobs; // devices checked at once
    std::uint32_t rate = kDefaultRate; // new connections a second, at most
    SessionLimits limits;
    std::shared_ptr<const DialTls> tls; // null: plain TCP or UDP
};

// Where a run stands, for a progress line.
struct FleetProgress {
    std::size_t total = 0, done = 0, passed = 0, failed = 0;
    // Devices whose record was cut at TrafficBuffer::kMaxBytes.
    std::size_t recordsCut = 0;
    // Listening: calls from devices that had called in before, closed.
    std::size_t callsAgain = 0;
    check::Millis elapsed{0};
};

// Checks many devices with one check file: one thread, one net::EventLoop
// over non-blocking sockets (a DeviceSession each, its deadlines as the
// loop's timers), at most `jobs` devices at a time, new connections paced to
// `rate` a second. Devices are started in the order given.
//
// Stopping: when `stopFd` (e.g. a signalfd for SIGINT and SIGTERM), which
// the loop watches, becomes readable, every device under way is stopped at once
// (check::DeviceOutcome::Stopped) and the rest are not run; run() then returns what there is.
//
// Recording: with a sink set, each device's records are handed to it whole,
// in order, when the device ends (see TrafficBuffer).
//
// Progress: the hook is called from a loop timer ten times a second and
// once at the end. Threads: all on the caller's.
class FleetRunner
{
public:
    using ProgressHook = std::function<void(const FleetProgress&)>;

    FleetRunner(const check::CheckFile& file, FleetSettings settings);

    void setRecorder(traffic::RecordSink* sink) { recorder_ = sink; }
    void setProgressHook(ProgressHook hook) { progress_ = std::move(hook); }

    // Runs every target; `stopFd` may be -1. The results come in the order
    // of `targets`. The failure when the event loop cannot be made (no device
    // is contacted then) or fails (the devices running then are stopped).
    [[nodiscard]] base::Error run(const std::vector<check::Target>& targets, int stopFd,
                                  check::FleetReport& report);
    // Where the last run() ended.
    const FleetProgress& counts() const { return counts_; }

private:
    const check::CheckFile& file_;
    FleetSettings settings_;
    traffic::RecordSink* recorder_ = nullptr;
    ProgressHook progress_;
    FleetProgress counts_;
};

} // namespace devicetools

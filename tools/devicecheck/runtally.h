#pragma once

#include "devicesession.h"
#include "fleetrunner.h"

#include "check/checkrun.h"
#include "check/fleetreport.h"
#include "socket/eventloop.h"
#include "traffic/trafficrecord.h"

#include <cstddef>
#include <functional>

namespace devicetools
{

// The counts of one run of device checks (a fleet dialled, or devices that
// call in) and the progress hook's calls: the part the two runs share.
//
// Progress: with a hook, startTicks() has a loop timer call report() ten
// times a second; the run calls report() once more at its end. report()
// first asks `total` (when given) for the devices the run counts on, then
// gives the hook the counts and the time since the tally was made; without
// a hook it only brings the total up to date.
//
// Threads: the loop's only. Lives as long as the loop's run (its timer
// refers to it).
class RunTally
{
public:
    using TotalOf = std::function<std::size_t()>;

    RunTally(net::EventLoop& loop, const FleetRunner::ProgressHook& hook, TotalOf total);
    RunTally(const RunTally&) = delete;
    RunTally& operator=(const RunTally&) = delete;

    // Starts the ticks; nothing without a hook.
    void startTicks();
    // A device's session ended: its result is moved into `row`, its records
    // handed whole to `recorder` (null: not recording), and it is counted.
    void ended(DeviceSession& session, check::DeviceResult& row, traffic::RecordSink* recorder);
    // A device that called in again, closed.
    void callAgain() { ++counts_.callsAgain; }
    void report();

    const FleetProgress& counts() const { return counts_; }
    check::Instant started() const { return start_; }

private:
    void tick();

    net::EventLoop& loop_;
    const FleetRunner::ProgressHook& hook_;
    TotalOf total_;
    check::Instant start_ = check::Clock::now();
    FleetProgress counts_;
};

} // namespace devicetools

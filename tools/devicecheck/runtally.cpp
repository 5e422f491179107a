#include "runtally.h"

#include <chrono>

namespace devicetools
{

namespace
{

constexpr check::Millis kProgressInterval{100};

} // namespace

RunTally::RunTally(net::EventLoop& loop, const FleetRunner::ProgressHook& hook, TotalOf total)
    : loop_(loop), hook_(hook), total_(std::move(total))
{
}

void RunTally::startTicks()
{
    if (hook_) {
        loop_.after(kProgressInterval, [this] { tick(); });
    }
}

void RunTally::ended(DeviceSession& session, check::DeviceResult& row,
                     traffic::RecordSink* recorder)
{
    row = std::move(session.result());
    if (recorder != nullptr) {
        counts_.recordsCut += session.traffic().dropped() > 0 ? 1 : 0;
        session.traffic().replayTo(*recorder);
    }
    ++counts_.done;
    counts_.passed += row.outcome == check::DeviceOutcome::Passed ? 1 : 0;
    counts_.failed += row.outcome == check::DeviceOutcome::Failed ? 1 : 0;
}

void RunTally::tick()
{
    report();
    loop_.after(kProgressInterval, [this] { tick(); });
}

void RunTally::report()
{
    if (total_) {
        counts_.total = total_();
    }
    if (!hook_) {
        return;
    }
    counts_.elapsed = std::chrono::floor<check::Millis>(check::Clock::now() - start_);
    hook_(counts_);
}

} // namespace devicetools

#include "fleetrunner.h"

#include "connectpacer.h"
#include "runtally.h"

#include "socket/eventloop.h"

#include <chrono>
#include <memory>

namespace devicetools
{

namespace
{

using check::Clock;
using check::Instant;

// One run's state; lives for one call of FleetRunner::run().
class Loop
{
public:
    Loop(const check::CheckFile& file, const FleetSettings& settings, traffic::RecordSink* recorder,
         const FleetRunner::ProgressHook& progress, check::FleetReport& report)
        : file_(std::make_shared<const check::CheckFile>(file)), settings_(settings),
          recorder_(recorder), report_(report), pacer_(settings.rate),
          slots_(std::max(settings.jobs, 1u)),
          tally_(loop_, progress, [this] { return report_.devices.size(); })
    {
    }
    Loop(const Loop&) = delete;
    Loop& operator=(const Loop&) = delete;

    base::Error run(int stopFd);
    const FleetProgress& counts() const { return tally_.counts(); }

private:
    struct Slot {
        std::unique_ptr<DeviceSession> session;
        std::size_t target = 0;
    };

    // Starts devices while there are free slots and the pace allows; else
    // sets a timer for when it will.
    void startDevices();
    void ended(std::size_t slot);
    void stopAll();

    net::EventLoop loop_;
    std::shared_ptr<const check::CheckFile> file_;
    const FleetSettings& settings_;
    traffic::RecordSink* recorder_;
    check::FleetReport& report_;
    ConnectPacer pacer_;
    std::vector<Slot> slots_;
    std::vector<std::size_t> free_;
    net::EventLoop::TimerId paceTimer_ = 0;
    std::size_t next_ = 0;
    std::size_t running_ = 0;
    bool starting_ = false;
    bool stopping_ = false;
    bool over_ = false;
    RunTally tally_;
};

base::Error Loop::run(int stopFd)
{
    if (!loop_.error().ok()) {
        return loop_.error();
    }
    if (stopFd >= 0) {
        const base::Error watched =
            loop_.watch(stopFd, net::EventLoop::WantRead, [this](std::uint32_t) {
                report_.stopped = true;
                stopAll();
            });
        if (!watched.ok()) {
            return watched;
        }
    }
    for (std::size_t i = slots_.size(); i > 0; --i) {
        free_.push_back(i - 1);
    }
    tally_.startTicks();
    startDevices();
    base::Error ran;
    if (!over_) {
        ran = loop_.run();
    }
    if (!ran.ok()) {
        stopAll();
    }
    if (stopFd >= 0) {
        loop_.unwatch(stopFd);
    }
    tally_.report();
    return ran;
}

void Loop::startDevices()
{
    if (starting_ || stopping_) {
        return;
    }
    // A device that ends at once (a name that does not resolve) frees its
    // slot within this loop, not through a call of its own.
    starting_ = true;
    while (!free_.empty() && next_ < report_.devices.size()) {
        if (!pacer_.take(loop_.now())) {
            if (paceTimer_ == 0) {
                paceTimer_ = loop_.at(pacer_.nextAt(), [this] {
                    paceTimer_ = 0;
                    startDevices();
                });
            }
            break;
        }
        const std::size_t slot = free_.back();
        free_.pop_back();
        const std::size_t target = next_++;
        slots_[slot].target = target;
        slots_[slot].session = std::make_unique<DeviceSession>(
            loop_, file_, report_.devices[target].target, settings_.limits, recorder_ != nullptr,
            [this, slot](DeviceSession&) { ended(slot); });
        slots_[slot].session->useTls(settings_.tls);
        ++running_;
        slots_[slot].session->start();
    }
    starting_ = false;
    if (next_ >= report_.devices.size() && running_ == 0 && !over_) {
        over_ = true;
        loop_.quit();
    }
}

void Loop::ended(std::size_t slot)
{
    Slot& entry = slots_[slot];
    tally_.ended(*entry.session, report_.devices[entry.target], recorder_);
    entry.session.reset();
    free_.push_back(slot);
    --running_;
    if (stopping_) {
        if (running_ == 0 && !over_) {
            over_ = true;
            loop_.quit();
        }
        return;
    }
    startDevices();
}

void Loop::stopAll()
{
    stopping_ = true;
    loop_.cancel(paceTimer_);
    paceTimer_ = 0;
    for (Slot& slot : slots_) {
        if (slot.session) {
            slot.session->stop();
        }
    }
    if (!over_) {
        over_ = true;
        loop_.quit();
    }
}

} // namespace

FleetRunner::FleetRunner(const check::CheckFile& file, FleetSettings settings)
    : file_(file), settings_(settings)
{
}

base::Error FleetRunner::run(const std::vector<check::Target>& targets, int stopFd,
                             check::FleetReport& report)
{
    report.startedAt = std::chrono::system_clock::now();
    report.stopped = false;
    report.devices.clear();
    report.devices.reserve(targets.size());
    for (const check::Target& target : targets) {
        report.devices.push_back({});
        report.devices.back().target = target;
    }
    const Instant start = Clock::now();
    Loop loop(file_, settings_, recorder_, progress_, report);
    base::Error ran = loop.run(stopFd);
    counts_ = loop.counts();
    report.elapsed = std::chrono::duration_cast<check::Millis>(Clock::now() - start);
    return ran;
}

} // namespace devicetools

#include "fleetrunner.h"

#include "connectpacer.h"
#include "nettext.h"

#include <sys/epoll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <memory>
#include <optional>

namespace devicetools
{

namespace
{

using check::Clock;
using check::Instant;

constexpr std::uint64_t kStopKey = ~std::uint64_t{0};
constexpr std::size_t kReadBufferBytes = 64 * 1024;
constexpr int kEventsPerWait = 256;
constexpr check::Millis kProgressInterval{100};

// A running device and what epoll was last told about its socket.
struct Slot {
    std::unique_ptr<DeviceSession> session;
    std::size_t target = 0;
    std::uint32_t watched = 0;
};

// One run's state; lives for one call of FleetRunner::run().
class Loop
{
public:
    Loop(const check::CheckFile& file, const FleetSettings& settings, traffic::RecordSink* recorder,
         const FleetRunner::ProgressHook& progress, check::FleetReport& report)
        : file_(file), settings_(settings), recorder_(recorder), progress_(progress),
          report_(report), pacer_(settings.rate), slots_(std::max(settings.jobs, 1u)),
          buffer_(kReadBufferBytes)
    {
    }
    ~Loop()
    {
        if (epoll_ >= 0) {
            ::close(epoll_);
        }
    }
    Loop(const Loop&) = delete;
    Loop& operator=(const Loop&) = delete;

    base::Error run(int stopFd);
    const FleetProgress& counts() const { return counts_; }

private:
    static Instant clock() { return Clock::now(); }
    void startDevices(Instant now);
    // Collects a session that is done, or tells epoll what it waits for now.
    void settle(std::size_t slot);
    std::optional<Instant> nextWake(Instant now) const;
    void stopAll(Instant now);
    void report(Instant now, bool always);

    const check::CheckFile& file_;
    const FleetSettings& settings_;
    traffic::RecordSink* recorder_;
    const FleetRunner::ProgressHook& progress_;
    check::FleetReport& report_;
    ConnectPacer pacer_;
    std::vector<Slot> slots_;
    std::vector<std::size_t> free_;
    std::vector<char> buffer_;
    int epoll_ = -1;
    Instant start_ = Clock::now();
    std::size_t next_ = 0;
    std::size_t running_ = 0;
    FleetProgress counts_;
    Instant lastReport_ = start_;
};

base::Error Loop::run(int stopFd)
{
    epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
    if (epoll_ < 0) {
        return base::Error::fromErrno("cannot make the event loop");
    }
    if (stopFd >= 0) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u64 = kStopKey;
        if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, stopFd, &event) != 0) {
            return base::Error::fromErrno("cannot watch for Ctrl+C");
        }
    }
    for (std::size_t i = slots_.size(); i > 0; --i) {
        free_.push_back(i - 1);
    }
    counts_.total = report_.devices.size();
    std::array<epoll_event, kEventsPerWait> events{};
    bool stopping = false;
    while (!stopping) {
        Instant now = clock();
        startDevices(now);
        if (next_ >= report_.devices.size() && running_ == 0) {
            break;
        }
        int timeout = -1;
        if (const std::optional<Instant> wake = nextWake(now)) {
            timeout = static_cast<int>(
                std::chrono::ceil<check::Millis>(std::max(*wake - now, Clock::duration{0}))
                    .count());
        }
        const int count = ::epoll_wait(epoll_, events.data(), kEventsPerWait, timeout);
        if (count < 0 && errno != EINTR) {
            base::Error error = base::Error::fromErrno("the event loop failed");
            stopAll(clock());
            return error;
        }
        now = clock();
        for (int i = 0; i < count; ++i) {
            if (events[i].data.u64 == kStopKey) {
                stopping = true;
                continue;
            }
            const auto slot = static_cast<std::size_t>(events[i].data.u64);
            // A session that ended earlier in this batch leaves its slot empty
            // until the next round of starts.
            if (slots_[slot].session) {
                slots_[slot].session->ready(events[i].events, now, buffer_);
                settle(slot);
            }
        }
        for (std::size_t slot = 0; slot < slots_.size(); ++slot) {
            DeviceSession* session = slots_[slot].session.get();
            if (session == nullptr) {
                continue;
            }
            if (const std::optional<Instant> due = session->nextDeadline(); due && *due <= now) {
                session->advance(now);
                settle(slot);
            }
        }
        report(now, false);
    }
    if (stopping) {
        report_.stopped = true;
        stopAll(clock());
    }
    report(clock(), true);
    return {};
}

void Loop::startDevices(Instant now)
{
    while (!free_.empty() && next_ < report_.devices.size() && pacer_.take(now)) {
        const std::size_t slot = free_.back();
        free_.pop_back();
        const std::size_t target = next_++;
        slots_[slot].session = std::make_unique<DeviceSession>(
            file_, report_.devices[target].target, settings_.limits, recorder_ != nullptr);
        slots_[slot].target = target;
        slots_[slot].watched = 0;
        ++running_;
        slots_[slot].session->start(now);
        settle(slot);
    }
}

void Loop::settle(std::size_t slot)
{
    Slot& entry = slots_[slot];
    DeviceSession& session = *entry.session;
    if (session.done()) {
        check::DeviceResult& result = report_.devices[entry.target];
        result = std::move(session.result());
        if (recorder_ != nullptr) {
            counts_.recordsCut += session.traffic().dropped() > 0 ? 1 : 0;
            session.traffic().replayTo(*recorder_);
        }
        ++counts_.done;
        counts_.passed += result.outcome == check::DeviceOutcome::Passed ? 1 : 0;
        counts_.failed += result.outcome == check::DeviceOutcome::Failed ? 1 : 0;
        // The session closed its socket, which takes it out of epoll.
        entry.session.reset();
        free_.push_back(slot);
        --running_;
        return;
    }
    const std::uint32_t wanted =
        std::uint32_t{EPOLLIN} | (session.wantsWrite() ? std::uint32_t{EPOLLOUT} : 0u);
    if (wanted == entry.watched) {
        return;
    }
    epoll_event event{};
    event.events = wanted;
    event.data.u64 = slot;
    const int operation = entry.watched == 0 ? EPOLL_CTL_ADD : EPOLL_CTL_MOD;
    entry.watched = wanted;
    if (::epoll_ctl(epoll_, operation, session.fd(), &event) != 0) {
        // Only a loop short of memory lands here; the device's time bound
        // then ends it.
        entry.watched = 0;
    }
}

std::optional<Instant> Loop::nextWake(Instant now) const
{
    std::optional<Instant> wake;
    const auto consider = [&wake](Instant time) { wake = wake ? std::min(*wake, time) : time; };
    for (const Slot& slot : slots_) {
        if (slot.session) {
            if (const std::optional<Instant> due = slot.session->nextDeadline()) {
                consider(*due);
            }
        }
    }
    if (!free_.empty() && next_ < report_.devices.size()) {
        consider(pacer_.nextAt());
    }
    if (progress_) {
        consider(now + kProgressInterval);
    }
    return wake;
}

void Loop::stopAll(Instant now)
{
    for (std::size_t slot = 0; slot < slots_.size(); ++slot) {
        if (slots_[slot].session) {
            slots_[slot].session->stop(now);
            settle(slot);
        }
    }
}

void Loop::report(Instant now, bool always)
{
    if (!progress_ || (!always && now - lastReport_ < kProgressInterval)) {
        return;
    }
    lastReport_ = now;
    counts_.elapsed = std::chrono::floor<check::Millis>(now - start_);
    progress_(counts_);
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

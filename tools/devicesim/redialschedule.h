#pragma once

#include <chrono>
#include <cstdint>
#include <random>

namespace devicetools
{

// When a device that dials its host tries again: kFirstWait after the first
// failed dial (or after a connection ended), doubling with each further
// failure up to kLongestWait, each wait shortened by a random part of up to
// a fifth (jitter), so that many devices whose host went away do not all dial
// again at the same moment. Sans I/O: fed the time, drawing from its own
// seeded random source, so a seed gives the same waits every time.
//
// One thread uses it.
class RedialSchedule
{
public:
    using Clock = std::chrono::steady_clock;
    using Millis = std::chrono::milliseconds;

    static constexpr Millis kFirstWait{1000};
    static constexpr Millis kLongestWait{30000};
    // The jitter takes at most this share (1/kJitterShare) off a wait.
    static constexpr std::int64_t kJitterShare = 5;

    explicit RedialSchedule(std::uint32_t seed);

    // A dial failed, or a connection ended, at `now`: when to dial again.
    // Each call doubles the next wait until kLongestWait.
    Clock::time_point next(Clock::time_point now);
    // The wait the last next() chose.
    Millis lastWait() const { return lastWait_; }
    // A connection was made: the next wait is kFirstWait again.
    void connected() { wait_ = kFirstWait; }

private:
    // Small on purpose: a process may hold ten thousand of them.
    std::minstd_rand random_;
    Millis wait_ = kFirstWait;
    Millis lastWait_{0};
};

} // namespace devicetools

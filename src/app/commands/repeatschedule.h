#pragma once

#include "check/enginefeed.h"

#include <chrono>
#include <cstdint>

namespace app
{

// When the sends of a repeat are due: send i (from 0) at i × interval after
// the start, `count` of them (0: no end). Plain C++ with no clock of its own:
// the caller says when it started and what time it is now (points on the
// engines' clock, check::Clock), and makes as many sends as due() gives.
//
// A caller that fell behind (its timer fired late or not at all, the thread
// was busy) catches up: due() gives every send whose time has come, but at
// most kMaxPerCall at once, so that one call never holds the thread long; the
// rest come at the next calls. One that fell more than kMaxLag behind (the
// machine slept) goes on from there instead of making up the lost time in a
// burst: the schedule moves later, the count stays. One thread.
class RepeatSchedule
{
public:
    using Duration = check::Clock::duration;
    static constexpr std::uint64_t kMaxPerCall = 50;
    static constexpr std::chrono::milliseconds kMaxLag{1000};

    // `interval` at least 1 ms; the first send is due at `start`.
    RepeatSchedule(std::chrono::milliseconds interval, std::uint64_t count,
                   check::Instant start = {});

    // The sends to make at `now` (never earlier than the call before was
    // given); they count as made.
    std::uint64_t due(check::Instant now);
    std::uint64_t made() const { return made_; }
    bool finished() const { return count_ != 0 && made_ >= count_; }

private:
    Duration interval_;
    std::uint64_t count_;
    check::Instant start_;
    std::uint64_t made_ = 0;
    // How much later the schedule runs after falling behind by too much.
    Duration moved_{0};
};

} // namespace app

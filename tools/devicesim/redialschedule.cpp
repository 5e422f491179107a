#include "redialschedule.h"

#include <algorithm>

namespace devicetools
{

RedialSchedule::RedialSchedule(std::uint32_t seed)
{
    // Spread through the seed sequence: close seeds (devices numbered in a
    // row) would otherwise start the generator on nearly the same draws.
    std::seed_seq sequence{seed};
    random_.seed(sequence);
}

RedialSchedule::Clock::time_point RedialSchedule::next(Clock::time_point now)
{
    const std::int64_t jitterRange = wait_.count() / kJitterShare;
    std::uniform_int_distribution<std::int64_t> jitter(0, jitterRange);
    lastWait_ = Millis(wait_.count() - jitter(random_));
    wait_ = std::min(wait_ * 2, kLongestWait);
    return now + lastWait_;
}

} // namespace devicetools

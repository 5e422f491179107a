#include "repeatschedule.h"

#include <algorithm>

namespace app
{

RepeatSchedule::RepeatSchedule(std::chrono::milliseconds interval, std::uint64_t count,
                               check::Instant start)
    : interval_(std::max(interval, std::chrono::milliseconds(1))), count_(count), start_(start)
{
}

std::uint64_t RepeatSchedule::due(check::Instant now)
{
    if (finished())
        return 0;
    const Duration on = std::max(now - start_ - moved_, Duration::zero());
    // The first send is due at once.
    std::uint64_t reached = static_cast<std::uint64_t>(on / interval_) + 1;
    if (count_ != 0)
        reached = std::min(reached, count_);
    if (reached <= made_)
        return 0;
    // Sends due within kMaxLag, and at least the one due now.
    const std::uint64_t mostBehind =
        std::max<std::uint64_t>(1, static_cast<std::uint64_t>(kMaxLag / interval_));
    if (reached - made_ > mostBehind) {
        const std::uint64_t postponed = reached - made_ - mostBehind;
        moved_ += interval_ * static_cast<Duration::rep>(postponed);
        reached -= postponed;
    }
    const std::uint64_t sends = std::min(reached - made_, kMaxPerCall);
    made_ += sends;
    return sends;
}

} // namespace app

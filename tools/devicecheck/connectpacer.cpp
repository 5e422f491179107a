#include "connectpacer.h"

#include <algorithm>

namespace devicetools
{

namespace
{

constexpr ConnectPacer::Micros kSlack{1000};

} // namespace

ConnectPacer::ConnectPacer(std::uint32_t perSecond)
    : interval_(std::chrono::microseconds(std::chrono::seconds(1)) / std::max(perSecond, 1u))
{
}

bool ConnectPacer::take(check::Instant now)
{
    if (now < next_) {
        return false;
    }
    // A start that comes late earns no burst to catch up with, beyond the
    // one millisecond the event loop's clock may have slept past it.
    next_ = std::max(next_, now - kSlack) + interval_;
    return true;
}

} // namespace devicetools

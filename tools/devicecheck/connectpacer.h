#pragma once

#include "check/enginefeed.h"

#include <chrono>
#include <cstdint>

namespace devicetools
{

// Spaces the starts of new connections evenly, so that no more than
// `perSecond` start in a second and a site's network and devices never see
// them in bursts. A caller that wakes up to a millisecond late may start what
// that millisecond held at once.
// One thread.
class ConnectPacer
{
public:
    using Micros = std::chrono::microseconds;

    explicit ConnectPacer(std::uint32_t perSecond);

    // True, and the start counted, when one may start at `now`.
    bool take(check::Instant now);
    // The earliest time the next one may start.
    check::Instant nextAt() const { return next_; }

private:
    Micros interval_;
    check::Instant next_;
};

} // namespace devicetools

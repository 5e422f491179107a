#include "openfilelimit.h"

#include <algorithm>
#include <limits>
#include <sys/resource.h>

namespace net
{

namespace
{

std::uint64_t toCount(rlim_t value)
{
    return value == RLIM_INFINITY ? std::numeric_limits<std::uint64_t>::max()
                                  : static_cast<std::uint64_t>(value);
}

OpenFileLimit current()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return {};
    return {toCount(limit.rlim_cur), toCount(limit.rlim_max)};
}

} // namespace

OpenFileLimit raiseOpenFileLimit(std::uint64_t needed)
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return {};
    if (toCount(limit.rlim_cur) >= needed)
        return current();
    const std::uint64_t wanted = std::min(needed, toCount(limit.rlim_max));
    limit.rlim_cur = static_cast<rlim_t>(wanted);
    // An unbounded hard limit still stops at the kernel's nr_open; a refused
    // raise leaves the old limit, which the caller then sees as too few.
    setrlimit(RLIMIT_NOFILE, &limit);
    return current();
}

} // namespace net

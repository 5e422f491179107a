#pragma once

#include <cstdint>

namespace net
{

// The process's limits on open file descriptors (RLIMIT_NOFILE); a limit
// without bound reads as UINT64_MAX.
struct OpenFileLimit {
    std::uint64_t soft = 0;
    std::uint64_t hard = 0;
};

// Raises the soft limit on open files to at least `needed` where the hard limit
// allows; returns the limits in force afterwards (the caller compares soft with
// what it needs). Never lowers the soft limit. Affects the whole process: call
// it at start, before other threads open files.
OpenFileLimit raiseOpenFileLimit(std::uint64_t needed);

} // namespace net

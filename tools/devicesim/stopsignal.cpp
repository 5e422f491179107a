#include "stopsignal.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace devicetools
{

StopSignal::StopSignal()
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) == 0) {
        readEnd_ = ends[0];
        writeEnd_ = ends[1];
    }
}

StopSignal::~StopSignal()
{
    if (readEnd_ >= 0) {
        ::close(readEnd_);
        ::close(writeEnd_);
    }
}

void StopSignal::trigger()
{
    if (triggered_.exchange(true) || writeEnd_ < 0) {
        return;
    }
    const char byte = 1;
    ssize_t written;
    do {
        written = ::write(writeEnd_, &byte, 1);
    } while (written < 0 && errno == EINTR);
}

bool StopSignal::waitFor(std::uint32_t ms) const
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
    pollfd entry{readEnd_, POLLIN, 0};
    for (;;) {
        if (triggered()) {
            return true;
        }
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            return false;
        }
        // A negative descriptor makes poll a plain sleep.
        const int rc = ::poll(&entry, 1, static_cast<int>(left));
        if (rc > 0) {
            return true;
        }
        if (rc < 0 && errno != EINTR) {
            return triggered();
        }
    }
}

} // namespace devicetools

#pragma once

#include <atomic>
#include <cstdint>

namespace devicetools
{

// A stop request that many threads wait on together with their sockets: the
// read end of a pipe that becomes readable, and stays so, once trigger() has
// written to it (nothing ever reads the byte back).
//
// Threads: any thread may call any member. trigger() takes no lock and only
// writes one byte, so a signal handler may call it too.
class StopSignal
{
public:
    StopSignal();
    ~StopSignal();
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

    // False when the pipe could not be made; then waitFor() only sleeps.
    bool valid() const { return readEnd_ >= 0; }
    // For poll with POLLIN.
    int fd() const { return readEnd_; }

    void trigger();
    bool triggered() const { return triggered_.load(); }
    // Waits at most `ms` milliseconds for the stop; true when it came.
    bool waitFor(std::uint32_t ms) const;

private:
    int readEnd_ = -1;
    int writeEnd_ = -1;
    std::atomic<bool> triggered_{false};
};

} // namespace devicetools

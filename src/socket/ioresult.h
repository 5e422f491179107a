#pragma once

#include <cstdint>

namespace net
{

// How one internal read or write on a socket ended.
enum class IoStatus {
    Data,     // bytes moved; `count` says how many (0 for an empty datagram)
    TimedOut, // nothing within the time-out, or the wait itself failed
    Closed,   // the stream ended in order, or a read found nothing to hand on
    Failed,   // a call failed; `error` holds its code
};

// The typed result of the internal read and write paths. The public edge
// (SocketChannel::readBlock, writeBlock) turns it into its documented count and
// the thread's last-error code.
struct IoResult {
    IoStatus status = IoStatus::TimedOut;
    std::uint32_t count = 0; // Data: bytes read or written
    // Failed: errno, or one of the layer's codes (lasterror.h). TimedOut: 0 for
    // a true time-out, else the code of the failed wait. Otherwise 0.
    std::uint32_t error = 0;

    static IoResult data(std::uint32_t count) { return {IoStatus::Data, count, 0}; }
    static IoResult timedOut(std::uint32_t waitError = 0)
    {
        return {IoStatus::TimedOut, 0, waitError};
    }
    static IoResult closed() { return {IoStatus::Closed, 0, 0}; }
    static IoResult failed(std::uint32_t error) { return {IoStatus::Failed, 0, error}; }
};

} // namespace net

#pragma once

#include "base/error.h"

#include <cstdint>

namespace net
{

// How one internal read or write on a socket ended.
enum class IoStatus {
    Data,     // bytes moved; `count` says how many (0 for an empty datagram)
    TimedOut, // nothing within the time-out, or the wait itself failed
    Closed,   // the stream ended in order, or a read found nothing to hand on
    Failed,   // a call failed; `error` says why
};

// The typed result of the internal read and write paths. The public edge
// (SocketChannel::readBlock, writeBlock) turns it into its documented count and
// the thread's last-error code (lasterror.h).
struct IoResult {
    IoStatus status = IoStatus::TimedOut;
    std::uint32_t count = 0; // Data: bytes read or written
    // Failed: why. TimedOut: no failure for a true time-out, else the failed
    // wait's. Closed: PeerClosed. Data: no failure.
    base::Error error;

    static IoResult data(std::uint32_t count) { return {IoStatus::Data, count, {}}; }
    static IoResult timedOut(base::Error waitError = {})
    {
        return {IoStatus::TimedOut, 0, std::move(waitError)};
    }
    static IoResult closed() { return {IoStatus::Closed, 0, base::Error(base::Fault::PeerClosed)}; }
    static IoResult failed(base::Error error) { return {IoStatus::Failed, 0, std::move(error)}; }
};

} // namespace net

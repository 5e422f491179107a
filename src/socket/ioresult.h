#pragma once

#include "base/error.h"

#include <cstdint>

namespace net
{

// The typed result of the internal read and write paths: the count of bytes
// moved (0 for an empty datagram), or why none moved:
// - Fault::TimedOut: nothing within the time-out (with the errno of a wait
//   that itself failed);
// - Fault::NoRoomNow: a send that may not wait found no room now; nothing
//   went, and the same send may be offered again later;
// - Fault::PeerClosed: the stream ended in order, or there is no connection;
// - any other fault: the read or write failed.
// The public edge (SocketChannel::readBlock, writeBlock) turns it into its
// documented count and the thread's last-error code (lasterror.h).
using IoResult = base::Result<std::uint32_t>;

// Nothing within the time-out; `failedWait` is the wait's own failure, if any.
inline IoResult ioTimedOut(const base::Error& failedWait = {})
{
    return base::Error(base::Fault::TimedOut, failedWait.systemCode());
}
inline IoResult ioNoRoomNow()
{
    return base::Error(base::Fault::NoRoomNow);
}
inline IoResult ioClosed()
{
    return base::Error(base::Fault::PeerClosed);
}

// Whether the result ends the connection's use: closed or failed, as opposed
// to bytes moved, a time-out or no room now.
inline bool endsConnection(const IoResult& result)
{
    const base::Fault fault = result.error().fault();
    return !result.ok() && fault != base::Fault::TimedOut && fault != base::Fault::NoRoomNow;
}

} // namespace net

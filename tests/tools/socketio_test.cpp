#include "socketio.h"
#include "stopsignal.h"

#include "socket/lasterror.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>

using devicetools::sendBlock;
using devicetools::StopSignal;
using devicetools::waitReady;

namespace
{

// The simulator once took a failed wait's errno back from the thread's
// last-error code, which is the channel's public edge and holds that edge's
// own codes (87, 122, 1784) as well: right only while nothing else set it.
TEST(SimulatorSocketIo, FailureIsItsOwnErrnoNotTheLastErrorCodeReadBack)
{
    StopSignal stop;
    net::setLastError(net::kErrorInvalidParameter);
    EXPECT_EQ(waitReady(-1, net::SocketWait::Readable, stop, 100), base::Error::system(EBADF));
    EXPECT_EQ(sendBlock(-1, "x", nullptr, stop, 100), base::Error::system(EBADF));
    EXPECT_EQ(net::lastError(), net::kErrorInvalidParameter);
}

// A peer that reads nothing is a time-out, a stop is a stop: each its own kind.
TEST(SimulatorSocketIo, FullPeerTimesOutAndStopCancels)
{
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
    StopSignal stop;
    // Far more than a socket pair's buffers hold: the peer never reads.
    const std::string flood(16 * 1024 * 1024, 'x');
    EXPECT_EQ(sendBlock(pair[0], flood, nullptr, stop, 50).fault(), base::Fault::TimedOut);
    stop.trigger();
    EXPECT_EQ(sendBlock(pair[0], "x", nullptr, stop, 50).fault(), base::Fault::Cancelled);
    ::close(pair[0]);
    ::close(pair[1]);
}

} // namespace

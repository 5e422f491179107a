// The bounded waits: a connect that is refused or that would hang.

#include "loopbacktcpserver.h"

#include "socket/lasterror.h"
#include "socket/socketaddress.h"
#include "socket/socketwait.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>

using namespace net;

TEST(ConnectWithin, RefusedPortFailsAtOnce)
{
    LoopbackTcpServer listener;
    ASSERT_TRUE(listener.listening());
    SocketAddress server;
    ASSERT_TRUE(server.buildFromText("127.0.0.1", listener.portText().c_str(), AF_INET));
    listener.closeListener();
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    EXPECT_EQ(connectWithin(s, server, 2000), base::Error::system(ECONNREFUSED));
    ::close(s);
}

// The connect bound itself, made visible on loopback: a listener with a full
// backlog leaves further connects hanging, and the bounded connect gives up.
TEST(ConnectWithin, GivesUpAfterItsTimeLimit)
{
    LoopbackTcpServer listener(0);
    ASSERT_TRUE(listener.listening());
    SocketAddress server;
    ASSERT_TRUE(server.buildFromText("127.0.0.1", listener.portText().c_str(), AF_INET));
    constexpr int kFillers = 4;
    int fillers[kFillers];
    for (int& f : fillers) {
        f = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        ::connect(f, server.asSockaddr(), SocketAddress::kSize);
    }
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const auto start = std::chrono::steady_clock::now();
    const base::Error error = connectWithin(s, server, 200);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    ::close(s);
    for (int f : fillers)
        ::close(f);
    if (error.ok())
        GTEST_SKIP() << "this system accepts connects beyond a full backlog";
    EXPECT_EQ(error, base::Error::system(ETIMEDOUT));
    EXPECT_LT(elapsed, std::chrono::milliseconds(5000));
}

// A wait that a stop descriptor can end: a stop wins over a ready socket and
// ends the wait on a quiet one; without a stop the plain wait stands.
struct StopRow {
    const char* name;
    bool socketReady;
    bool stopped;
    base::Fault expected;
};

class WaitForSocketOrStop : public testing::TestWithParam<StopRow>
{
};

TEST_P(WaitForSocketOrStop, StopWinsOverReadiness)
{
    int sockets[2];
    int stopPipe[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets), 0);
    ASSERT_EQ(::pipe2(stopPipe, O_CLOEXEC), 0);
    if (GetParam().socketReady) {
        ASSERT_EQ(::write(sockets[1], "x", 1), 1);
    }
    if (GetParam().stopped) {
        ASSERT_EQ(::write(stopPipe[1], "x", 1), 1);
    }
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(waitUntilReady(sockets[0], SocketWait::Readable, 100, stopPipe[0]).fault(),
              GetParam().expected);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    for (int fd : {sockets[0], sockets[1], stopPipe[0], stopPipe[1]})
        ::close(fd);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, WaitForSocketOrStop,
    testing::Values(StopRow{"ReadyAndStopped", true, true, base::Fault::Cancelled},
                    StopRow{"Stopped", false, true, base::Fault::Cancelled},
                    StopRow{"Ready", true, false, base::Fault::None},
                    StopRow{"Neither", false, false, base::Fault::TimedOut}),
    [](const testing::TestParamInfo<StopRow>& info) { return std::string(info.param.name); });

TEST(WaitForSocketOrStop, InvalidSocketFailsWithBadDescriptor)
{
    EXPECT_EQ(waitUntilReady(kInvalidSocket, SocketWait::Writable, 100, kInvalidSocket),
              base::Error::system(EBADF));
}

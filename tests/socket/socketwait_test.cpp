// The bounded waits: a connect that is refused or that would hang.

#include "loopbacktcpserver.h"

#include "socket/lasterror.h"
#include "socket/socketaddress.h"
#include "socket/socketwait.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

using namespace net;

TEST(ConnectWithin, RefusedPortFailsAtOnce)
{
    LoopbackTcpServer listener;
    ASSERT_TRUE(listener.listening());
    SocketAddress server;
    ASSERT_TRUE(server.buildFromText("127.0.0.1", listener.portText().c_str(), AF_INET));
    listener.closeListener();
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    setLastError(0);
    EXPECT_FALSE(connectWithin(s, server, 2000));
    EXPECT_EQ(lastError(), static_cast<std::uint32_t>(ECONNREFUSED));
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
    setLastError(0);
    const bool connected = connectWithin(s, server, 200);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    ::close(s);
    for (int f : fillers)
        ::close(f);
    if (connected)
        GTEST_SKIP() << "this system accepts connects beyond a full backlog";
    EXPECT_EQ(lastError(), static_cast<std::uint32_t>(ETIMEDOUT));
    EXPECT_LT(elapsed, std::chrono::milliseconds(5000));
}

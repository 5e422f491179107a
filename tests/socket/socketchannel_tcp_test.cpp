// The channel as a TCP client: connect, stream, drop, write to a peer gone.

#include "channelfixtures.h"
#include "processstateguard.h"

#include "socket/lasterror.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <cerrno>
#include <ostream>

using namespace net;
using namespace channeltest;

TEST(SocketChannelTcp, ConnectSucceedsAndRefusesWhileHeld)
{
    TcpPair pair;
    ASSERT_TRUE(pair.server.listening());
    RecordingChannel channel;
    ASSERT_TRUE(pair.connect(channel));
    const SocketHandle held = channel.socketHandle();
    EXPECT_TRUE(::fcntl(held, F_GETFD) & FD_CLOEXEC);
    EXPECT_EQ(::fcntl(held, F_GETFL) & O_NONBLOCK, 0) << "the socket is blocking again";
    EXPECT_TRUE(sendsAtOnce(held)) << "a small block waits for the peer's acknowledgement";

    SocketAddress local;
    ASSERT_TRUE(channel.queryLocalAddress(local));
    EXPECT_EQ(local.family, AF_INET);
    EXPECT_EQ(local.address, htonl(INADDR_LOOPBACK));
    EXPECT_NE(local.port, 0);

    LoopbackTcpServer other;
    EXPECT_FALSE(channel.openClient("127.0.0.1", other.portText().c_str(), AF_INET, SOCK_STREAM));
    EXPECT_EQ(channel.socketHandle(), held);
    EXPECT_EQ(channel.writeBlock("hello", 5, SocketChannel::kNoTimeout), 5);
    std::string got;
    EXPECT_TRUE(pair.server.receive(got, kDeadline));
    EXPECT_EQ(got, "hello");

    channel.stop();
    EXPECT_FALSE(channel.hasSocket());
    EXPECT_FALSE(descriptorOpen(held));
}

TEST(SocketChannelTcp, RefusedConnectLeavesNothingBehind)
{
    LoopbackTcpServer listener;
    const std::string port = listener.portText();
    listener.closeListener();
    RecordingChannel channel;
    const std::size_t before = openDescriptorCount();
    setLastError(0);
    EXPECT_FALSE(channel.openClient("127.0.0.1", port.c_str(), AF_INET, SOCK_STREAM));
    EXPECT_EQ(lastError(), static_cast<std::uint32_t>(ECONNREFUSED));
    EXPECT_FALSE(channel.hasSocket());
    EXPECT_EQ(openDescriptorCount(), before);
}

struct BindRow {
    const char* local;
    const char* server;
    const char* expected;
};

void PrintTo(const BindRow& row, std::ostream* out)
{
    *out << row.local << " to " << row.server;
}

class ClientBindAddressTest : public testing::TestWithParam<BindRow>
{
};

TEST_P(ClientBindAddressTest, LoopbackOnlyForLoopbackServers)
{
    SocketAddress local, server, expected;
    local.buildFromText(GetParam().local, "0", AF_INET);
    server.buildFromText(GetParam().server, "21210", AF_INET);
    expected.buildFromText(GetParam().expected, "0", AF_INET);
    const SocketAddress bound = ConnectAttempt::clientBindAddress(local, server);
    EXPECT_EQ(std::memcmp(&bound, &expected, sizeof bound), 0)
        << GetParam().local << " -> " << GetParam().server;
}

INSTANTIATE_TEST_SUITE_P(Rows, ClientBindAddressTest,
                         testing::Values(BindRow{"127.0.1.1", "192.168.0.1", "0.0.0.0"},
                                         BindRow{"127.0.0.1", "10.1.2.3", "0.0.0.0"},
                                         BindRow{"127.0.0.1", "127.0.0.1", "127.0.0.1"},
                                         BindRow{"127.0.1.1", "127.0.0.1", "127.0.1.1"},
                                         BindRow{"10.0.0.5", "192.168.0.1", "10.0.0.5"},
                                         BindRow{"10.0.0.5", "127.0.0.1", "10.0.0.5"},
                                         BindRow{"255.255.255.255", "127.0.0.1", "0.0.0.0"}));

TEST(SocketChannelTcp, StreamArrivesInBlocksOfAtMost2048)
{
    TcpPair pair;
    RecordingChannel channel;
    ASSERT_TRUE(pair.connect(channel));
    ASSERT_TRUE(channel.startWatcher());
    std::string sent(5000, '\0');
    for (std::size_t i = 0; i < sent.size(); ++i)
        sent[i] = static_cast<char>('A' + i % 26);
    ASSERT_TRUE(pair.server.send(sent));

    ASSERT_TRUE(channel.waitUntil([&] {
        std::size_t total = 0;
        for (const auto& b : channel.blocks_)
            total += b.size();
        return total >= sent.size();
    }));
    const auto blocks = channel.blocks();
    EXPECT_GE(blocks.size(), 3u);
    std::string joined;
    for (const auto& b : blocks) {
        EXPECT_LE(b.size(), SocketChannel::kDataCapacity);
        EXPECT_GT(b.size(), 0u);
        joined += b;
    }
    EXPECT_EQ(joined, sent);
    EXPECT_TRUE(channel.events().empty());
}

TEST(SocketChannelTcp, DroppedConnectionIsRaisedOnceAndSocketStaysHeld)
{
    TcpPair pair;
    RecordingChannel channel;
    ASSERT_TRUE(pair.connect(channel));
    ASSERT_TRUE(channel.startWatcher());
    const SocketHandle held = channel.socketHandle();
    pair.server.closeConnection();

    ASSERT_TRUE(channel.waitForEvent());
    EXPECT_TRUE(channel.hasSocket());
    EXPECT_TRUE(channel.hasWatcher());
    EXPECT_EQ(channel.socketHandle(), held);
    // Ended: everything but writing and stop refuses.
    LoopbackTcpServer other;
    EXPECT_FALSE(channel.openClient("127.0.0.1", other.portText().c_str(), AF_INET, SOCK_STREAM));
    EXPECT_FALSE(channel.startWatcher());
    channel.setAddressHeaders(true);
    EXPECT_FALSE(channel.usesAddressHeaders());

    channel.stop();
    EXPECT_EQ(channel.events(), std::vector<ChannelEvent>{ChannelEvent::ConnectionDropped});
    EXPECT_FALSE(channel.hasSocket());
    EXPECT_FALSE(channel.hasWatcher());
}

TEST(SocketChannelTcp, WriteToDeadPeerFailsWithoutSigpipe)
{
    // The default action of SIGPIPE ends the process: the test only survives
    // if no write raises it.
    ProcessStateGuard state;
    ASSERT_TRUE(state.setSignalHandler(SIGPIPE, SIG_DFL));

    TcpPair pair;
    RecordingChannel channel;
    ASSERT_TRUE(pair.connect(channel));
    pair.server.closeConnection();
    std::int32_t result = 0;
    const auto start = Clock::now();
    for (int i = 0; i < 1000 && result != -1 && Clock::now() - start < kDeadline; ++i)
        result = channel.writeBlock("data", 4, 1000);
    EXPECT_EQ(result, -1);
    EXPECT_TRUE(lastError() == EPIPE || lastError() == ECONNRESET) << lastError();
}

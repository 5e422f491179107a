// The server role: the watcher accepts one connection in place of the
// listening socket.

#include "channelfixtures.h"

#include <gtest/gtest.h>

using namespace net;
using namespace channeltest;

TEST(SocketChannelServer, OnConnectedSocketFailsToAccept)
{
    TcpPair pair;
    RecordingChannel channel;
    channel.setServerRole(true);
    ASSERT_TRUE(pair.connect(channel));
    ASSERT_TRUE(channel.startWatcher());
    ASSERT_TRUE(channel.waitForEvent());
    EXPECT_TRUE(channel.hasSocket());
    channel.stop();
    EXPECT_EQ(channel.events(), std::vector<ChannelEvent>{ChannelEvent::ConnectionFailed});
}

TEST(SocketChannelServer, AcceptsAndReadsFromTheAcceptedSocket)
{
    LoopbackTcpServer listener;
    const std::string port = listener.portText();
    const SocketHandle listening = listener.releaseListener();
    RecordingChannel channel;
    channel.setServerRole(true);
    ASSERT_TRUE(channel.adoptSocket(listening));
    ASSERT_TRUE(channel.startWatcher());

    const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const SocketAddress server = loopback(static_cast<std::uint16_t>(std::stoi(port)));
    ASSERT_EQ(::connect(client, server.asSockaddr(), SocketAddress::kSize), 0);
    ASSERT_TRUE(channel.waitForEvent());
    EXPECT_EQ(channel.events(), std::vector<ChannelEvent>{ChannelEvent::ConnectionEstablished});
    EXPECT_NE(channel.socketHandle(), listening);
    EXPECT_TRUE(sendsAtOnce(channel.socketHandle()));
    ASSERT_EQ(::send(client, "ping", 4, 0), 4);
    ASSERT_TRUE(channel.waitForBlocks());
    EXPECT_EQ(channel.blocks(), std::vector<std::string>{"ping"});
    EXPECT_EQ(channel.writeBlock("pong", 4, 1000), 4);
    char got[8] = {};
    EXPECT_EQ(::recv(client, got, sizeof got, 0), 4);

    channel.stop();
    EXPECT_FALSE(descriptorOpen(listening));
    ::close(client);
}

TEST(SocketChannelServer, StopWakesAWatcherWaitingToAccept)
{
    LoopbackTcpServer listener;
    RecordingChannel channel;
    channel.setServerRole(true);
    ASSERT_TRUE(channel.adoptSocket(listener.releaseListener()));
    ASSERT_TRUE(channel.startWatcher());
    ASSERT_TRUE(threadAsleep(channel.threadId));
    // The accept has no time-out: only the release can end it.
    const auto start = Clock::now();
    channel.stop();
    EXPECT_LT(msSince(start), 2000);
    EXPECT_FALSE(channel.hasWatcher());
    EXPECT_TRUE(channel.events().empty());
}

namespace
{

// A device connected to a listener of the test's own and the socket accepted
// for it, to be handed to a channel.
struct AcceptedDevice {
    LoopbackTcpServer listener;
    int device = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int accepted = -1;
    AcceptedDevice()
    {
        const SocketAddress server = loopback(listener.port());
        if (::connect(device, server.asSockaddr(), SocketAddress::kSize) == 0) {
            const int listening = listener.releaseListener();
            accepted = ::accept4(listening, nullptr, nullptr, SOCK_CLOEXEC);
            ::close(listening);
        }
    }
    ~AcceptedDevice() { ::close(device); }
    std::string receive()
    {
        char got[64] = {};
        const ssize_t n = ::recv(device, got, sizeof got, 0);
        return n > 0 ? std::string(got, static_cast<std::size_t>(n)) : std::string();
    }
};

} // namespace

TEST(SocketChannelServer, AdoptedAcceptedSocketIsAnnouncedAndCarriesFramesBothWays)
{
    AcceptedDevice pair;
    ASSERT_GE(pair.accepted, 0);
    RecordingChannel channel;
    ASSERT_TRUE(channel.adoptAccepted(pair.accepted));
    EXPECT_FALSE(channel.adoptAccepted(pair.accepted)); // a socket is held already
    ASSERT_TRUE(channel.startWatcher());
    ASSERT_TRUE(channel.waitForEvent());
    EXPECT_EQ(channel.events(), std::vector<ChannelEvent>{ChannelEvent::ConnectionEstablished});
    EXPECT_TRUE(sendsAtOnce(channel.socketHandle()));
    ASSERT_EQ(::send(pair.device, "ping", 4, 0), 4);
    ASSERT_TRUE(channel.waitForBlocks());
    EXPECT_EQ(channel.blocks(), std::vector<std::string>{"ping"});
    EXPECT_EQ(channel.writeBlock("pong", 4, 1000), 4);
    EXPECT_EQ(pair.receive(), "pong");

    ::shutdown(pair.device, SHUT_WR);
    ASSERT_TRUE(channel.waitUntil([&] { return channel.events_.size() == 2; }));
    EXPECT_EQ(channel.events().back(), ChannelEvent::ConnectionDropped);
    channel.stop();
}

TEST(SocketChannelServer, AnnouncementEndsWithTheAdoptedConnection)
{
    AcceptedDevice pair;
    ASSERT_GE(pair.accepted, 0);
    RecordingChannel channel;
    ASSERT_TRUE(channel.adoptAccepted(pair.accepted));
    channel.stop();
    // The next connection is a client of its own: no announcement.
    TcpPair next;
    ASSERT_TRUE(next.connect(channel));
    ASSERT_TRUE(channel.startWatcher());
    ASSERT_TRUE(next.server.send("x"));
    ASSERT_TRUE(channel.waitForBlocks());
    EXPECT_TRUE(channel.events().empty());
}

TEST(SocketChannelServer, DetachedSocketStaysOpenWithEveryUnreadByte)
{
    AcceptedDevice pair;
    ASSERT_GE(pair.accepted, 0);
    RecordingChannel channel;
    ASSERT_TRUE(channel.adoptAccepted(pair.accepted));
    ASSERT_TRUE(channel.startWatcher());
    ASSERT_TRUE(channel.waitForEvent());
    ASSERT_EQ(::send(pair.device, "one", 3, 0), 3);
    ASSERT_TRUE(channel.waitForBlocks());

    const auto start = Clock::now();
    const SocketHandle detached = channel.detachSocket();
    EXPECT_LT(msSince(start), 1000);
    ASSERT_EQ(detached, pair.accepted);
    EXPECT_FALSE(channel.hasSocket());
    EXPECT_FALSE(channel.hasWatcher());
    EXPECT_EQ(channel.detachSocket(), kInvalidSocket);
    // What the device sends now waits in the detached socket, which still
    // writes to it.
    ASSERT_EQ(::send(pair.device, "two", 3, 0), 3);
    char got[8] = {};
    EXPECT_EQ(::recv(detached, got, sizeof got, 0), 3);
    EXPECT_EQ(std::string(got, 3), "two");
    ASSERT_EQ(::send(detached, "back", 4, MSG_NOSIGNAL), 4);
    EXPECT_EQ(pair.receive(), "back");
    EXPECT_EQ(channel.blocks(), std::vector<std::string>{"one"});
    EXPECT_EQ(channel.events(), std::vector<ChannelEvent>{ChannelEvent::ConnectionEstablished});
    ::close(detached);
}

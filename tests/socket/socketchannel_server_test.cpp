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

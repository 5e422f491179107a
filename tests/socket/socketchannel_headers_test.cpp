// Address-header mode: every block starts with the 16-byte address of its
// sender or destination, and the channel keeps a list of the peers heard.

#include "channelfixtures.h"
#include "loopbackudppeer.h"

#include "socket/lasterror.h"

#include <gtest/gtest.h>

using namespace net;
using namespace channeltest;

namespace
{

bool sameList(const std::vector<SocketAddress>& got, const std::vector<SocketAddress>& want)
{
    if (got.size() != want.size())
        return false;
    for (std::size_t i = 0; i < got.size(); ++i)
        if (!got[i].sameEndpoint(want[i]))
            return false;
    return true;
}

// Gives `channel` the socket of `own` in address-header mode and starts its
// watcher; `local` is then the address peers send to.
::testing::AssertionResult watchWithHeaders(RecordingChannel& channel, LoopbackUdpPeer& own,
                                            SocketAddress& local)
{
    channel.setAddressHeaders(true);
    if (!channel.adoptSocket(own.release()))
        return ::testing::AssertionFailure() << "the channel did not adopt the socket";
    if (!channel.queryLocalAddress(local))
        return ::testing::AssertionFailure() << "no local address";
    if (!channel.startWatcher())
        return ::testing::AssertionFailure() << "the watcher did not start";
    return ::testing::AssertionSuccess();
}

} // namespace

TEST(SocketChannelHeaders, WritesWithoutWatcher)
{
    LoopbackUdpPeer own;
    LoopbackUdpPeer peer;
    RecordingChannel channel;
    channel.setAddressHeaders(true);
    ASSERT_TRUE(channel.adoptSocket(own.release()));

    setLastError(0);
    EXPECT_EQ(channel.writeBlock("short", 5, 1000), -1);
    EXPECT_EQ(lastError(), kErrorInvalidUserBuffer);

    const std::string toAll = withHeader(everyPeer(), "hello");
    EXPECT_EQ(channel.writeBlock(toAll.data(), toAll.size(), 1000), 5);

    const std::string toPeer = withHeader(peer.address(), "direct");
    EXPECT_EQ(channel.writeBlock(toPeer.data(), toPeer.size(), 1000), 6);
    std::string got;
    ASSERT_TRUE(peer.receive(got, kDeadline));
    EXPECT_EQ(got, "direct");
    EXPECT_FALSE(peer.receive(got, 0ms)) << "the broadcast to an empty list sent something";

    // A read with room for less than the header fails once data is waiting.
    SocketAddress local;
    ASSERT_TRUE(channel.queryLocalAddress(local));
    ASSERT_TRUE(peer.sendTo(local, "x"));
    std::uint8_t small[8];
    setLastError(0);
    EXPECT_EQ(channel.readBlock(small, sizeof small, 2000), -1);
    EXPECT_EQ(lastError(), kErrorInvalidUserBuffer);
}

TEST(SocketChannelHeaders, PeerListOrderAndZeroLengthMessage)
{
    LoopbackUdpPeer own;
    LoopbackUdpPeer a;
    LoopbackUdpPeer b;
    RecordingChannel channel;
    SocketAddress local;
    ASSERT_TRUE(watchWithHeaders(channel, own, local));

    ASSERT_TRUE(a.sendTo(local, "from a"));
    ASSERT_TRUE(channel.waitForBlocks(1));
    ASSERT_TRUE(b.sendTo(local, "from b"));
    ASSERT_TRUE(channel.waitForBlocks(2));
    EXPECT_TRUE(sameList(channel.peers(), {a.address(), b.address()}));
    ASSERT_TRUE(a.sendTo(local, "a again"));
    ASSERT_TRUE(channel.waitForBlocks(3));
    EXPECT_TRUE(sameList(channel.peers(), {b.address(), a.address()}))
        << "heard twice, listed once";
    ASSERT_TRUE(b.sendTo(local, ""));
    ASSERT_TRUE(channel.waitForEvent());
    EXPECT_TRUE(sameList(channel.peers(), {a.address(), b.address()}));

    const auto blocks = channel.blocks();
    ASSERT_EQ(blocks.size(), 3u);
    EXPECT_EQ(blocks[0].substr(SocketAddress::kSize), "from a");
    const SocketAddress header = headerOf(blocks[0]);
    EXPECT_TRUE(header.sameEndpoint(a.address()));
    EXPECT_EQ(header.family, AF_INET);
    EXPECT_EQ(channel.events(), std::vector<ChannelEvent>{ChannelEvent::ZeroLengthMessage});

    const std::string toAll = withHeader(everyPeer(), "to all");
    EXPECT_EQ(channel.writeBlock(toAll.data(), toAll.size(), 1000), 6);
    std::string got;
    ASSERT_TRUE(a.receive(got, kDeadline));
    EXPECT_EQ(got, "to all");
    ASSERT_TRUE(b.receive(got, kDeadline));
    EXPECT_EQ(got, "to all");

    channel.stop();
    EXPECT_TRUE(channel.peers().empty());
    EXPECT_TRUE(channel.usesAddressHeaders());
}

// The watcher records senders while the owner's thread writes to every peer
// and takes snapshots; the list's own lock keeps both sides whole (run under
// the thread sanitizer to see a missing lock).
TEST(SocketChannelHeaders, PeerListIsSharedSafelyWithTheWatcher)
{
    LoopbackUdpPeer own;
    LoopbackUdpPeer a;
    LoopbackUdpPeer b;
    RecordingChannel channel;
    SocketAddress local;
    ASSERT_TRUE(watchWithHeaders(channel, own, local));

    constexpr std::size_t kRounds = 200;
    const std::string toAll = withHeader(everyPeer(), "x");
    const auto start = Clock::now();
    for (std::size_t i = 0; i < kRounds && Clock::now() - start < kDeadline; ++i) {
        ASSERT_TRUE((i % 2 ? a : b).sendTo(local, "tick"));
        EXPECT_EQ(channel.writeBlock(toAll.data(), toAll.size(), 1000), 1);
        EXPECT_LE(channel.peers().size(), 2u);
    }
    ASSERT_TRUE(channel.waitForBlocks(kRounds));
    EXPECT_TRUE(sameList(channel.peers(), {b.address(), a.address()}));
}

TEST(SocketChannelHeaders, StreamCloseIsADropNotEmptyMessages)
{
    TcpPair pair;
    RecordingChannel channel;
    channel.setAddressHeaders(true);
    ASSERT_TRUE(pair.connect(channel));
    ASSERT_TRUE(channel.startWatcher());
    pair.server.closeConnection();
    ASSERT_TRUE(channel.waitForEvent());
    channel.stop();
    EXPECT_EQ(channel.events(), std::vector<ChannelEvent>{ChannelEvent::ConnectionDropped});
}

// The channel as a UDP client in plain mode, and the read and write edges.

#include "channelfixtures.h"
#include "loopbackudppeer.h"
#include "processstateguard.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <signal.h>

using namespace net;
using namespace channeltest;

TEST(SocketChannelUdp, PlainModeBlocksAndEmptyDatagramDrops)
{
    LoopbackUdpPeer peer;
    ASSERT_TRUE(peer.bound());
    RecordingChannel channel;
    ASSERT_TRUE(channel.openClient("127.0.0.1", peer.portText().c_str(), AF_INET, SOCK_DGRAM));
    SocketAddress local;
    ASSERT_TRUE(channel.queryLocalAddress(local));
    EXPECT_EQ(local.address, htonl(INADDR_LOOPBACK));
    ASSERT_TRUE(channel.startWatcher());

    EXPECT_EQ(channel.writeBlock("ping", 4, SocketChannel::kNoTimeout), 4);
    std::string got;
    ASSERT_TRUE(peer.receive(got, kDeadline));
    EXPECT_EQ(got, "ping");

    ASSERT_TRUE(peer.sendTo(local, "abc"));
    ASSERT_TRUE(channel.waitForBlocks());
    ASSERT_TRUE(peer.sendTo(local, ""));
    ASSERT_TRUE(channel.waitForEvent());
    channel.stop();
    EXPECT_EQ(channel.blocks(), std::vector<std::string>{"abc"});
    EXPECT_EQ(channel.events(), std::vector<ChannelEvent>{ChannelEvent::ConnectionDropped});
}

TEST(SocketChannelUdp, ReadAndWriteArgumentsAndTimeouts)
{
    LoopbackUdpPeer peer;
    RecordingChannel channel;
    ASSERT_TRUE(channel.openClient("127.0.0.1", peer.portText().c_str(), AF_INET, SOCK_DGRAM));
    std::uint8_t buffer[64];
    EXPECT_EQ(channel.readBlock(nullptr, sizeof buffer, 1000), 0);
    EXPECT_EQ(channel.readBlock(buffer, 0, 1000), 0);
    EXPECT_EQ(channel.writeBlock(nullptr, 4, 1000), 0);

    // Nothing waiting: 0 for a poll and for a bounded wait, each well within
    // a generous limit.
    auto start = Clock::now();
    EXPECT_EQ(channel.readBlock(buffer, sizeof buffer, 0), 0);
    EXPECT_LT(msSince(start), 1000) << "a time-out of 0 only polls";
    start = Clock::now();
    EXPECT_EQ(channel.readBlock(buffer, sizeof buffer, SocketChannel::kReadTimeoutMs), 0);
    EXPECT_LT(msSince(start), 2000);

    SocketAddress local;
    ASSERT_TRUE(channel.queryLocalAddress(local));
    ASSERT_TRUE(peer.sendTo(local, "abc"));
    EXPECT_EQ(channel.readBlock(buffer, sizeof buffer, 2000), 3);
    EXPECT_EQ(std::memcmp(buffer, "abc", 3), 0);
}

namespace
{
std::atomic<int> signalsSeen{0};
void countSignal(int)
{
    ++signalsSeen;
}
} // namespace

// A signal that interrupts the wait must not end the read: the datagram sent
// after the signals is still what the read returns.
TEST(SocketChannelUdp, SignalsDoNotCutAWaitShort)
{
    ProcessStateGuard state;
    ASSERT_TRUE(state.setSignalHandler(SIGUSR1, countSignal)); // no SA_RESTART: EINTR
    signalsSeen = 0;

    LoopbackUdpPeer peer;
    RecordingChannel channel;
    ASSERT_TRUE(channel.openClient("127.0.0.1", peer.portText().c_str(), AF_INET, SOCK_DGRAM));
    SocketAddress local;
    ASSERT_TRUE(channel.queryLocalAddress(local));
    std::atomic<bool> done{false};
    std::atomic<pid_t> readerId{0};
    std::int32_t result = 0;
    std::thread reader([&] {
        std::uint8_t buffer[64];
        readerId = ::gettid();
        result = channel.readBlock(buffer, sizeof buffer, 10000);
        done = true;
    });
    constexpr int kSignals = 5;
    const auto start = Clock::now();
    for (int sent = 0; sent < kSignals && !done && Clock::now() - start < kDeadline;) {
        if (!threadAsleep(readerId))
            break;
        ::pthread_kill(reader.native_handle(), SIGUSR1);
        ++sent;
        while (signalsSeen < sent && Clock::now() - start < kDeadline)
            std::this_thread::yield();
    }
    const bool cutShort = done;
    ASSERT_TRUE(peer.sendTo(local, "abc"));
    reader.join();
    EXPECT_EQ(signalsSeen, kSignals);
    EXPECT_FALSE(cutShort) << "a signal ended the wait";
    EXPECT_EQ(result, 3);
}

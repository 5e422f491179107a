// Opening, adopting, starting, releasing and stopping a channel.

#include "channelfixtures.h"
#include "loopbackudppeer.h"

#include <gtest/gtest.h>

#include <ostream>

using namespace net;
using namespace channeltest;

TEST(SocketChannelLifecycle, NewChannelIsClosedAndStopIsIdempotent)
{
    RecordingChannel channel;
    EXPECT_FALSE(channel.hasSocket());
    EXPECT_FALSE(channel.hasWatcher());
    EXPECT_EQ(channel.socketHandle(), kInvalidSocket);
    EXPECT_FALSE(channel.isServerRole());
    EXPECT_FALSE(channel.usesAddressHeaders());
    EXPECT_FALSE(channel.startWatcher());
    SocketAddress local;
    EXPECT_FALSE(channel.queryLocalAddress(local));
    std::uint8_t buffer[8];
    EXPECT_EQ(channel.readBlock(buffer, sizeof buffer, 0), 0);
    EXPECT_EQ(channel.writeBlock("x", 1, 0), 0);
    // Twenty stops that each paused after a release would take a second.
    constexpr int kStops = 20;
    const auto start = Clock::now();
    for (int i = 0; i < kStops; ++i)
        channel.stop();
    EXPECT_LT(msSince(start), kStops * SocketChannel::kReleasePauseMs / 2)
        << "stop without a socket must not pause";
}

TEST(SocketChannelLifecycle, StartWatcherOnlyOnceAndOnlyWithSocket)
{
    TcpPair pair;
    RecordingChannel channel;
    EXPECT_FALSE(channel.startWatcher());
    ASSERT_TRUE(pair.connect(channel));
    EXPECT_TRUE(channel.startWatcher());
    EXPECT_FALSE(channel.startWatcher());
    EXPECT_TRUE(channel.hasWatcher());

    channel.setServerRole(true);
    channel.setAddressHeaders(true);
    EXPECT_FALSE(channel.isServerRole());
    EXPECT_FALSE(channel.usesAddressHeaders());

    channel.stop();
    EXPECT_FALSE(channel.hasWatcher());
    channel.setAddressHeaders(true);
    channel.stop();
    EXPECT_TRUE(channel.usesAddressHeaders()) << "stop keeps the mode flags";
}

TEST(SocketChannelLifecycle, AdoptRefusesWhileHeldAndInvalidSocket)
{
    LoopbackUdpPeer first;
    LoopbackUdpPeer second;
    RecordingChannel channel;
    EXPECT_FALSE(channel.adoptSocket(kInvalidSocket));
    const SocketHandle held = first.release();
    ASSERT_TRUE(channel.adoptSocket(held));
    const SocketHandle other = second.release();
    EXPECT_FALSE(channel.adoptSocket(other));
    EXPECT_EQ(channel.socketHandle(), held);
    EXPECT_TRUE(descriptorOpen(other)) << "a refused socket is not taken";
    ::close(other);
}

namespace
{

// Reads once with a long time-out instead of the usual loop, so the test sees
// whether a release wakes a blocked read.
class SingleReadChannel : public SocketChannel
{
public:
    static constexpr std::uint32_t kReadTimeoutMs = 30000;
    ~SingleReadChannel() override { stop(); }
    std::atomic<bool> done{false};
    std::atomic<pid_t> threadId{0};
    std::atomic<std::int32_t> result{0};

protected:
    void runLoop() override
    {
        std::uint8_t buffer[kDataCapacity];
        threadId = ::gettid();
        result = readBlock(buffer, sizeof buffer, kReadTimeoutMs);
        done = true;
    }
};

} // namespace

enum class Setup { TcpClient, UdpClient, UdpWithAddressHeaders };

void PrintTo(Setup setup, std::ostream* out)
{
    static const char* const names[] = {"TcpClient", "UdpClient", "UdpWithAddressHeaders"};
    *out << names[static_cast<int>(setup)];
}

class ReleaseTest : public testing::TestWithParam<Setup>
{
protected:
    // Opens `channel` the way the row says; the peers live as long as the test.
    bool open(SocketChannel& channel)
    {
        switch (GetParam()) {
        case Setup::TcpClient:
            return tcp_.connect(channel);
        case Setup::UdpClient:
            return channel.openClient("127.0.0.1", udp_.portText().c_str(), AF_INET, SOCK_DGRAM);
        case Setup::UdpWithAddressHeaders:
            channel.setAddressHeaders(true);
            return channel.adoptSocket(udp_.release());
        }
        return false;
    }
    TcpPair tcp_;
    LoopbackUdpPeer udp_;
};

TEST_P(ReleaseTest, WakesABlockedReadAtOnceAndDefersTheClose)
{
    SingleReadChannel channel;
    ASSERT_TRUE(open(channel));
    const SocketHandle held = channel.socketHandle();
    ASSERT_TRUE(channel.startWatcher());
    ASSERT_TRUE(threadAsleep(channel.threadId)) << "the watcher never blocked in its read";
    const auto start = Clock::now();
    channel.releaseSocket();
    EXPECT_FALSE(channel.hasSocket());
    EXPECT_TRUE(descriptorOpen(held)) << "closed while the watcher may still use it";
    // The read would otherwise sleep out its 30 s.
    while (!channel.done && Clock::now() - start < kDeadline)
        std::this_thread::yield();
    ASSERT_TRUE(channel.done) << "the release did not wake the read";
    EXPECT_EQ(channel.result, -1) << "a released socket reads as a failure, not as data";
    channel.stop();
    EXPECT_FALSE(descriptorOpen(held));
}

TEST_P(ReleaseTest, StopRaisesNoEventAndHandsNoBlock)
{
    RecordingChannel channel;
    ASSERT_TRUE(open(channel));
    ASSERT_TRUE(channel.startWatcher());
    ASSERT_TRUE(threadAsleep(channel.threadId));
    channel.stop();
    EXPECT_TRUE(channel.events().empty());
    EXPECT_TRUE(channel.blocks().empty());
}

INSTANTIATE_TEST_SUITE_P(Rows, ReleaseTest,
                         testing::Values(Setup::TcpClient, Setup::UdpClient,
                                         Setup::UdpWithAddressHeaders));

TEST(SocketChannelLifecycle, StopWithIdleWatcherEndsItAndNoHookRunsAfterIt)
{
    TcpPair pair;
    RecordingChannel channel;
    ASSERT_TRUE(pair.connect(channel));
    std::atomic<bool> stopReturned{false};
    std::atomic<int> lateCalls{0};
    channel.onBlock = [&] {
        if (stopReturned)
            ++lateCalls;
    };
    ASSERT_TRUE(channel.startWatcher());
    ASSERT_TRUE(pair.server.send("x"));
    ASSERT_TRUE(channel.waitForBlocks());

    const auto start = Clock::now();
    channel.stop();
    stopReturned = true;
    EXPECT_LT(msSince(start), 2000);
    EXPECT_FALSE(channel.hasWatcher());
    pair.server.send("late");
    EXPECT_EQ(lateCalls, 0);
    EXPECT_TRUE(channel.events().empty()) << "a read failing after stop raises nothing";
}

TEST(SocketChannelLifecycle, StopWaitsForAHookThatKeepsItsBound)
{
    TcpPair pair;
    RecordingChannel channel;
    ASSERT_TRUE(pair.connect(channel));
    std::mutex hookMutex;
    std::condition_variable hookEntered;
    bool entered = false;
    std::atomic<bool> hookReturned{false};
    channel.onBlock = [&] {
        std::unique_lock<std::mutex> lock(hookMutex);
        entered = true;
        hookEntered.notify_all();
        // A bounded wait, like the console's timed append; nobody ends it early.
        std::condition_variable never;
        never.wait_for(lock, 300ms);
        hookReturned = true;
    };
    ASSERT_TRUE(channel.startWatcher());
    ASSERT_TRUE(pair.server.send("x"));
    {
        std::unique_lock<std::mutex> lock(hookMutex);
        ASSERT_TRUE(hookEntered.wait_for(lock, kDeadline, [&] { return entered; }));
    }
    channel.stop();
    EXPECT_TRUE(hookReturned);
}

#include "loopbacktcpserver.h"
#include "loopbackudppeer.h"

#include "socket/lasterror.h"
#include "socket/socketchannel.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

using namespace net;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace
{

constexpr auto kDeadline = 3s;

std::string bytesText(const std::uint8_t* data, std::uint32_t length)
{
    return std::string(reinterpret_cast<const char*>(data), length);
}

// Records what the hooks get; the test waits on it with a deadline.
class RecordingChannel : public SocketChannel
{
public:
    ~RecordingChannel() override { stop(); }

    bool waitUntil(const std::function<bool()>& condition, Clock::duration limit = kDeadline)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, limit, condition);
    }
    std::vector<std::string> blocks()
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        return blocks_;
    }
    std::vector<ChannelEvent> events()
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }
    std::size_t receivedBytes()
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        std::size_t total = 0;
        for (const auto& b : blocks_)
            total += b.size();
        return total;
    }
    // Callers of waitUntil() read these under the lock through the condition.
    std::vector<std::string> blocks_;
    std::vector<ChannelEvent> events_;
    // Runs inside handleBlock, after the block was recorded.
    std::function<void()> onBlock;
    std::atomic<pid_t> threadId{0};

protected:
    void runLoop() override
    {
        threadId = ::gettid();
        SocketChannel::runLoop();
    }
    void handleBlock(std::uint8_t* data, std::uint32_t length) override
    {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            blocks_.push_back(bytesText(data, length));
        }
        changed_.notify_all();
        if (onBlock)
            onBlock();
    }
    void handleEvent(ChannelEvent event) override
    {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            events_.push_back(event);
        }
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
};

std::size_t openDescriptorCount()
{
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

// True once the thread is asleep in the kernel (state S in its stat line).
bool threadSleeping(pid_t tid)
{
    std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const auto close = line.rfind(')');
    return close != std::string::npos && line.size() > close + 2 && line[close + 2] == 'S';
}

// Waits until the channel's watcher has started and sleeps (in its read).
template <typename Channel> bool watcherAsleep(const Channel& channel)
{
    const auto start = Clock::now();
    while (Clock::now() - start < kDeadline) {
        if (channel.threadId != 0 && threadSleeping(channel.threadId))
            return true;
        std::this_thread::yield();
    }
    return false;
}

bool descriptorOpen(int fd)
{
    return ::fcntl(fd, F_GETFD) != -1;
}

SocketAddress loopback(std::uint16_t portHostOrder)
{
    SocketAddress a;
    a.family = AF_INET;
    a.port = htons(portHostOrder);
    a.address = htonl(INADDR_LOOPBACK);
    return a;
}

std::string withHeader(const SocketAddress& to, const std::string& payload)
{
    std::string block(reinterpret_cast<const char*>(&to), SocketAddress::kSize);
    return block + payload;
}

SocketAddress headerOf(const std::string& block)
{
    SocketAddress a;
    std::memcpy(&a, block.data(), SocketAddress::kSize);
    return a;
}

// A channel holding a TCP connection to a loopback server, and the server's
// side of that connection.
struct TcpPair {
    LoopbackTcpServer server;
    bool connect(SocketChannel& channel)
    {
        return channel.openClient("127.0.0.1", server.portText().c_str(), AF_INET, SOCK_STREAM) &&
               server.accept(kDeadline);
    }
};

long long msSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

} // namespace

TEST(SocketChannel, NewChannelIsClosedAndStopIsIdempotent)
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
    const auto start = Clock::now();
    channel.stop();
    channel.stop();
    EXPECT_LT(msSince(start), 40) << "stop without a socket must not pause";
}

TEST(SocketChannel, TcpConnectSucceedsAndRefusesWhileHeld)
{
    TcpPair pair;
    ASSERT_TRUE(pair.server.listening());
    RecordingChannel channel;
    ASSERT_TRUE(pair.connect(channel));
    const SocketHandle held = channel.socketHandle();
    EXPECT_TRUE(::fcntl(held, F_GETFD) & FD_CLOEXEC);
    EXPECT_EQ(::fcntl(held, F_GETFL) & O_NONBLOCK, 0) << "the socket is blocking again";

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

TEST(SocketChannel, RefusedConnectLeavesNothingBehind)
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
    const SocketAddress bound = SocketChannel::clientBindAddress(local, server);
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

TEST(SocketChannel, StartWatcherOnlyOnceAndOnlyWithSocket)
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

TEST(SocketChannel, TcpStreamArrivesInBlocksOfAtMost2048)
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

TEST(SocketChannel, DroppedConnectionIsRaisedOnceAndSocketStaysHeld)
{
    TcpPair pair;
    RecordingChannel channel;
    ASSERT_TRUE(pair.connect(channel));
    ASSERT_TRUE(channel.startWatcher());
    const SocketHandle held = channel.socketHandle();
    pair.server.closeConnection();

    ASSERT_TRUE(channel.waitUntil([&] { return !channel.events_.empty(); }));
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

TEST(SocketChannel, UdpPlainModeBlocksAndEmptyDatagramDrops)
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
    ASSERT_TRUE(channel.waitUntil([&] { return !channel.blocks_.empty(); }));
    ASSERT_TRUE(peer.sendTo(local, ""));
    ASSERT_TRUE(channel.waitUntil([&] { return !channel.events_.empty(); }));
    channel.stop();
    EXPECT_EQ(channel.blocks(), std::vector<std::string>{"abc"});
    EXPECT_EQ(channel.events(), std::vector<ChannelEvent>{ChannelEvent::ConnectionDropped});
}

TEST(SocketChannel, WriteToDeadPeerFailsWithoutSigpipe)
{
    // The default action of SIGPIPE ends the process: the test only survives
    // if no write raises it.
    struct sigaction previous {
    };
    struct sigaction byDefault {
    };
    byDefault.sa_handler = SIG_DFL;
    ::sigaction(SIGPIPE, &byDefault, &previous);

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
    ::sigaction(SIGPIPE, &previous, nullptr);
}

namespace
{

// Reads once with a long time-out instead of the usual loop, so the test sees
// how soon a release wakes a blocked read.
class SingleReadChannel : public SocketChannel
{
public:
    ~SingleReadChannel() override { stop(); }
    std::atomic<bool> done{false};
    std::atomic<pid_t> threadId{0};
    std::atomic<std::int32_t> result{0};
    std::atomic<long long> elapsedMs{0};

protected:
    void runLoop() override
    {
        std::uint8_t buffer[kDataCapacity];
        threadId = ::gettid();
        const auto start = Clock::now();
        result = readBlock(buffer, sizeof buffer, 3000);
        elapsedMs = msSince(start);
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
    ASSERT_TRUE(watcherAsleep(channel)) << "the watcher never blocked in its read";
    const auto start = Clock::now();
    channel.releaseSocket();
    EXPECT_FALSE(channel.hasSocket());
    EXPECT_TRUE(descriptorOpen(held)) << "closed while the watcher may still use it";
    while (!channel.done && Clock::now() - start < kDeadline)
        std::this_thread::yield();
    ASSERT_TRUE(channel.done);
    EXPECT_EQ(channel.result, -1) << "a released socket reads as a failure, not as data";
    EXPECT_LT(channel.elapsedMs, 1000) << "the release did not wake the read";
    channel.stop();
    EXPECT_FALSE(descriptorOpen(held));
}

TEST_P(ReleaseTest, StopRaisesNoEventAndHandsNoBlock)
{
    RecordingChannel channel;
    ASSERT_TRUE(open(channel));
    ASSERT_TRUE(channel.startWatcher());
    ASSERT_TRUE(watcherAsleep(channel));
    channel.stop();
    EXPECT_TRUE(channel.events().empty());
    EXPECT_TRUE(channel.blocks().empty());
}

INSTANTIATE_TEST_SUITE_P(Rows, ReleaseTest,
                         testing::Values(Setup::TcpClient, Setup::UdpClient,
                                         Setup::UdpWithAddressHeaders));

TEST(SocketChannel, StopWithIdleWatcherIsPromptAndNoHookRunsAfterIt)
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
    ASSERT_TRUE(channel.waitUntil([&] { return !channel.blocks_.empty(); }));

    const auto start = Clock::now();
    channel.stop();
    stopReturned = true;
    const long long stopMs = msSince(start);
    EXPECT_GE(stopMs, SocketChannel::kReleasePauseMs - 5);
    EXPECT_LT(stopMs, 1000);
    EXPECT_FALSE(channel.hasWatcher());
    pair.server.send("late");
    EXPECT_EQ(lateCalls, 0);
    EXPECT_TRUE(channel.events().empty()) << "a read failing after stop raises nothing";
}

TEST(SocketChannel, StopWaitsForAHookThatKeepsItsBound)
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

TEST(SocketChannel, ReadAndWriteArgumentsAndTimeouts)
{
    LoopbackUdpPeer peer;
    RecordingChannel channel;
    ASSERT_TRUE(channel.openClient("127.0.0.1", peer.portText().c_str(), AF_INET, SOCK_DGRAM));
    std::uint8_t buffer[64];
    EXPECT_EQ(channel.readBlock(nullptr, sizeof buffer, 1000), 0);
    EXPECT_EQ(channel.readBlock(buffer, 0, 1000), 0);
    EXPECT_EQ(channel.writeBlock(nullptr, 4, 1000), 0);

    auto start = Clock::now();
    EXPECT_EQ(channel.readBlock(buffer, sizeof buffer, 0), 0);
    EXPECT_LT(msSince(start), 50) << "a time-out of 0 only polls";
    start = Clock::now();
    EXPECT_EQ(channel.readBlock(buffer, sizeof buffer, SocketChannel::kReadTimeoutMs), 0);
    const long long waited = msSince(start);
    EXPECT_GE(waited, 95);
    EXPECT_LT(waited, 1000);

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

TEST(SocketChannel, SignalsDoNotCutAWaitShort)
{
    struct sigaction action {
    };
    struct sigaction previous {
    };
    action.sa_handler = countSignal; // no SA_RESTART: poll sees EINTR
    ::sigaction(SIGUSR1, &action, &previous);
    signalsSeen = 0;

    LoopbackUdpPeer peer;
    RecordingChannel channel;
    ASSERT_TRUE(channel.openClient("127.0.0.1", peer.portText().c_str(), AF_INET, SOCK_DGRAM));
    std::atomic<bool> done{false};
    std::int32_t result = 1;
    long long waited = 0;
    std::thread reader([&] {
        std::uint8_t buffer[64];
        const auto start = Clock::now();
        result = channel.readBlock(buffer, sizeof buffer, 300);
        waited = msSince(start);
        done = true;
    });
    const pthread_t target = reader.native_handle();
    for (int i = 0; i < 50 && !done; ++i) {
        ::pthread_kill(target, SIGUSR1);
        std::this_thread::sleep_for(10ms);
    }
    reader.join();
    ::sigaction(SIGUSR1, &previous, nullptr);
    EXPECT_GT(signalsSeen, 0);
    EXPECT_EQ(result, 0);
    EXPECT_GE(waited, 290);
}

TEST(SocketChannel, AddressHeaderWritesWithoutWatcher)
{
    LoopbackUdpPeer own;
    LoopbackUdpPeer peer;
    RecordingChannel channel;
    channel.setAddressHeaders(true);
    ASSERT_TRUE(channel.adoptSocket(own.release()));

    setLastError(0);
    EXPECT_EQ(channel.writeBlock("short", 5, 1000), -1);
    EXPECT_EQ(lastError(), kErrorInvalidUserBuffer);

    SocketAddress everyone;
    everyone.family = AF_INET;
    everyone.address = htonl(SocketChannel::kBroadcastAddress);
    const std::string toAll = withHeader(everyone, "hello");
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

TEST(SocketChannel, AddressHeaderPeerListOrderAndZeroLengthMessage)
{
    LoopbackUdpPeer own;
    LoopbackUdpPeer a;
    LoopbackUdpPeer b;
    RecordingChannel channel;
    channel.setAddressHeaders(true);
    ASSERT_TRUE(channel.adoptSocket(own.release()));
    SocketAddress local;
    ASSERT_TRUE(channel.queryLocalAddress(local));
    ASSERT_TRUE(channel.startWatcher());

    const auto sameList = [](const std::vector<SocketAddress>& got,
                             const std::vector<SocketAddress>& want) {
        if (got.size() != want.size())
            return false;
        for (std::size_t i = 0; i < got.size(); ++i)
            if (!got[i].sameEndpoint(want[i]))
                return false;
        return true;
    };
    ASSERT_TRUE(a.sendTo(local, "from a"));
    ASSERT_TRUE(channel.waitUntil([&] { return channel.blocks_.size() == 1; }));
    ASSERT_TRUE(b.sendTo(local, "from b"));
    ASSERT_TRUE(channel.waitUntil([&] { return channel.blocks_.size() == 2; }));
    EXPECT_TRUE(sameList(channel.peers(), {a.address(), b.address()}));
    ASSERT_TRUE(a.sendTo(local, "a again"));
    ASSERT_TRUE(channel.waitUntil([&] { return channel.blocks_.size() == 3; }));
    EXPECT_TRUE(sameList(channel.peers(), {b.address(), a.address()}))
        << "heard twice, listed once";
    ASSERT_TRUE(b.sendTo(local, ""));
    ASSERT_TRUE(channel.waitUntil([&] { return !channel.events_.empty(); }));
    EXPECT_TRUE(sameList(channel.peers(), {a.address(), b.address()}));

    const auto blocks = channel.blocks();
    ASSERT_EQ(blocks.size(), 3u);
    EXPECT_EQ(blocks[0].substr(SocketAddress::kSize), "from a");
    const SocketAddress header = headerOf(blocks[0]);
    EXPECT_TRUE(header.sameEndpoint(a.address()));
    EXPECT_EQ(header.family, AF_INET);
    EXPECT_EQ(channel.events(), std::vector<ChannelEvent>{ChannelEvent::ZeroLengthMessage});

    SocketAddress everyone;
    everyone.family = AF_INET;
    everyone.address = htonl(SocketChannel::kBroadcastAddress);
    const std::string toAll = withHeader(everyone, "to all");
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

TEST(SocketChannel, AddressHeaderStreamCloseIsADropNotEmptyMessages)
{
    TcpPair pair;
    RecordingChannel channel;
    channel.setAddressHeaders(true);
    ASSERT_TRUE(pair.connect(channel));
    ASSERT_TRUE(channel.startWatcher());
    pair.server.closeConnection();
    ASSERT_TRUE(channel.waitUntil([&] { return !channel.events_.empty(); }));
    channel.stop();
    EXPECT_EQ(channel.events(), std::vector<ChannelEvent>{ChannelEvent::ConnectionDropped});
}

TEST(SocketChannel, ServerRoleOnConnectedSocketFailsToAccept)
{
    TcpPair pair;
    RecordingChannel channel;
    channel.setServerRole(true);
    ASSERT_TRUE(pair.connect(channel));
    ASSERT_TRUE(channel.startWatcher());
    ASSERT_TRUE(channel.waitUntil([&] { return !channel.events_.empty(); }));
    EXPECT_TRUE(channel.hasSocket());
    channel.stop();
    EXPECT_EQ(channel.events(), std::vector<ChannelEvent>{ChannelEvent::ConnectionFailed});
}

TEST(SocketChannel, ServerRoleAcceptsAndReadsFromTheAcceptedSocket)
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
    ASSERT_TRUE(channel.waitUntil([&] { return !channel.events_.empty(); }));
    EXPECT_EQ(channel.events(), std::vector<ChannelEvent>{ChannelEvent::ConnectionEstablished});
    EXPECT_NE(channel.socketHandle(), listening);
    ASSERT_EQ(::send(client, "ping", 4, 0), 4);
    ASSERT_TRUE(channel.waitUntil([&] { return !channel.blocks_.empty(); }));
    EXPECT_EQ(channel.blocks(), std::vector<std::string>{"ping"});
    EXPECT_EQ(channel.writeBlock("pong", 4, 1000), 4);
    char got[8] = {};
    EXPECT_EQ(::recv(client, got, sizeof got, 0), 4);

    channel.stop();
    EXPECT_FALSE(descriptorOpen(listening));
    ::close(client);
}

TEST(SocketChannel, StopWakesAWatcherWaitingToAccept)
{
    LoopbackTcpServer listener;
    RecordingChannel channel;
    channel.setServerRole(true);
    ASSERT_TRUE(channel.adoptSocket(listener.releaseListener()));
    ASSERT_TRUE(channel.startWatcher());
    const auto start = Clock::now();
    channel.stop();
    EXPECT_LT(msSince(start), 1000);
    EXPECT_TRUE(channel.events().empty());
}

TEST(SocketChannel, AdoptRefusesWhileHeldAndInvalidSocket)
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

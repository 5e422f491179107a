// The background connect: its outcomes, abandoning it, and handing its socket
// to a channel.

#include "channelfixtures.h"
#include "loopbackudppeer.h"
#include "syndroppinglistener.h"

#include "socket/connectattempt.h"
#include "socket/endpoint.h"
#include "socket/lasterror.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <unistd.h>

#include <cerrno>
#include <ostream>
#include <system_error>

using namespace net;
using namespace channeltest;

namespace
{

ConnectRequest request(const std::string& port, int type, const std::string& host = "127.0.0.1",
                       int family = AF_INET)
{
    ConnectRequest r;
    r.host = host;
    r.service = port;
    r.family = family;
    r.type = type;
    return r;
}

// Counts completion calls; the test waits on it with a deadline.
struct DoneCounter {
    std::atomic<int> calls{0};
    ConnectAttempt::DoneCallback callback()
    {
        return [this] { ++calls; };
    }
};

class ConnectAttemptTest : public testing::Test
{
protected:
    void TearDown() override { ConnectAttempt::setConnectBoundForTesting(0); }
};

} // namespace

class ConnectAttemptSuccess : public testing::TestWithParam<int>
{
};

TEST_P(ConnectAttemptSuccess, HandsAConnectedSocketThatAChannelAdopts)
{
    const int type = GetParam();
    LoopbackTcpServer tcp;
    LoopbackUdpPeer udp;
    const std::string port = type == SOCK_STREAM ? tcp.portText() : udp.portText();

    ConnectAttempt attempt(request(port, type));
    DoneCounter done;
    ASSERT_TRUE(attempt.start(done.callback()));
    EXPECT_FALSE(attempt.start()) << "an attempt runs once";
    ASSERT_TRUE(attempt.waitFinished(kDeadline));
    std::optional<ConnectOutcome> outcome = attempt.take();
    ASSERT_TRUE(outcome);
    EXPECT_FALSE(attempt.take()) << "the outcome is handed out once";
    ASSERT_TRUE(outcome->connected()) << outcome->error.text();
    ASSERT_TRUE(outcome->socket.valid());
    EXPECT_EQ(outcome->socket.local().address, htonl(INADDR_LOOPBACK));
    EXPECT_NE(outcome->socket.local().port, 0);
    const auto start = Clock::now();
    while (done.calls == 0 && Clock::now() - start < kDeadline)
        std::this_thread::yield();
    EXPECT_EQ(done.calls, 1);

    RecordingChannel channel;
    const SocketHandle handle = outcome->socket.handle();
    ASSERT_TRUE(channel.adoptClient(std::move(outcome->socket)));
    EXPECT_FALSE(outcome->socket.valid());
    EXPECT_EQ(channel.socketHandle(), handle);
    SocketAddress local;
    ASSERT_TRUE(channel.queryLocalAddress(local));
    ASSERT_TRUE(channel.startWatcher());
    std::string got;
    if (type == SOCK_STREAM) {
        ASSERT_TRUE(tcp.accept(kDeadline));
        EXPECT_EQ(channel.writeBlock("ping", 4, 1000), 4);
        ASSERT_TRUE(tcp.receive(got, kDeadline));
        ASSERT_TRUE(tcp.send("pong"));
    } else {
        EXPECT_EQ(channel.writeBlock("ping", 4, 1000), 4);
        ASSERT_TRUE(udp.receive(got, kDeadline));
        ASSERT_TRUE(udp.sendTo(local, "pong"));
    }
    EXPECT_EQ(got, "ping");
    ASSERT_TRUE(channel.waitForBlocks());
    EXPECT_EQ(channel.blocks(), std::vector<std::string>{"pong"});

    // A second socket is refused and stays with the caller.
    ConnectAttempt second(request(port, type));
    ASSERT_TRUE(second.start());
    ASSERT_TRUE(second.waitFinished(kDeadline));
    std::optional<ConnectOutcome> other = second.take();
    ASSERT_TRUE(other && other->socket.valid());
    EXPECT_FALSE(channel.adoptClient(std::move(other->socket)));
    EXPECT_TRUE(other->socket.valid());
    channel.stop();
    EXPECT_FALSE(descriptorOpen(handle));
}

INSTANTIATE_TEST_SUITE_P(Rows, ConnectAttemptSuccess, testing::Values(SOCK_STREAM, SOCK_DGRAM),
                         [](const testing::TestParamInfo<int>& info) {
                             return info.param == SOCK_STREAM ? "Tcp" : "Udp";
                         });

TEST_F(ConnectAttemptTest, RefusedConnectReportsTheSystemsReasonAndLeaksNothing)
{
    LoopbackTcpServer listener;
    const std::string port = listener.portText();
    listener.closeListener();
    const std::size_t before = openDescriptorCount();
    {
        ConnectAttempt attempt(request(port, SOCK_STREAM));
        DoneCounter done;
        ASSERT_TRUE(attempt.start(done.callback()));
        ASSERT_TRUE(attempt.waitFinished(kDeadline));
        const std::optional<ConnectOutcome> outcome = attempt.take();
        ASSERT_TRUE(outcome);
        EXPECT_FALSE(outcome->connected());
        EXPECT_EQ(outcome->error, base::Error::system(ECONNREFUSED));
        EXPECT_EQ(outcome->error.text(), std::system_category().message(ECONNREFUSED));
        EXPECT_FALSE(outcome->socket.valid());
        EXPECT_LT(outcome->elapsed, std::chrono::milliseconds(kDeadline));
    }
    EXPECT_EQ(openDescriptorCount(), before);

    // The same steps on the calling thread leave the code there.
    setLastError(0);
    const ConnectOutcome now = ConnectAttempt::connectNow(request(port, SOCK_STREAM));
    EXPECT_FALSE(now.connected());
    EXPECT_EQ(lastError(), static_cast<std::uint32_t>(ECONNREFUSED));
    EXPECT_EQ(openDescriptorCount(), before);
}

TEST_F(ConnectAttemptTest, AbandonEndsAHangingConnectAtOnceAndLeaksNothing)
{
    SynDroppingListener listener;
    if (!listener.dropsSyns())
        GTEST_SKIP() << "this system accepts connects beyond a full backlog";
    const std::size_t descriptors = openDescriptorCount();
    {
        ConnectAttempt attempt(request(listener.portText(), SOCK_STREAM));
        DoneCounter done;
        ASSERT_TRUE(attempt.start(done.callback()));
        EXPECT_FALSE(attempt.waitFinished(std::chrono::milliseconds(300)))
            << "the connect did not hang";
        const auto start = Clock::now();
        attempt.cancel();
        EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(200));
        EXPECT_TRUE(attempt.finished()) << "abandon left the thread behind";
        const std::optional<ConnectOutcome> outcome = attempt.take();
        ASSERT_TRUE(outcome);
        EXPECT_EQ(outcome->error.fault(), base::Fault::Cancelled);
        EXPECT_EQ(outcome->error, ConnectOutcome::connectCancelled());
        EXPECT_FALSE(outcome->socket.valid());
        EXPECT_EQ(done.calls, 0) << "an abandoned attempt reports nothing";
    }
    EXPECT_EQ(openDescriptorCount(), descriptors);
}

TEST_F(ConnectAttemptTest, DestroyingAPendingAttemptAbandonsItAtOnce)
{
    SynDroppingListener listener;
    if (!listener.dropsSyns())
        GTEST_SKIP() << "this system accepts connects beyond a full backlog";
    const std::size_t descriptors = openDescriptorCount();
    const auto start = Clock::now();
    {
        ConnectAttempt attempt(request(listener.portText(), SOCK_STREAM));
        ASSERT_TRUE(attempt.start());
    }
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(200));
    EXPECT_EQ(openDescriptorCount(), descriptors);
}

TEST_F(ConnectAttemptTest, ShortenedBoundEndsWithATimeOut)
{
    SynDroppingListener listener;
    if (!listener.dropsSyns())
        GTEST_SKIP() << "this system accepts connects beyond a full backlog";
    ConnectAttempt::setConnectBoundForTesting(300);
    EXPECT_EQ(ConnectAttempt::connectBoundMs(), 300u);
    ConnectAttempt attempt(request(listener.portText(), SOCK_STREAM));
    DoneCounter done;
    ASSERT_TRUE(attempt.start(done.callback()));
    ASSERT_TRUE(attempt.waitFinished(std::chrono::seconds(10)));
    const std::optional<ConnectOutcome> outcome = attempt.take();
    ASSERT_TRUE(outcome);
    EXPECT_EQ(outcome->error.fault(), base::Fault::TimedOut);
    EXPECT_EQ(outcome->error, ConnectOutcome::connectTimedOut());
    EXPECT_EQ(outcome->error.text(), std::system_category().message(ETIMEDOUT));
    EXPECT_LT(outcome->elapsed, std::chrono::seconds(10));

    ConnectAttempt::setConnectBoundForTesting(0);
    EXPECT_EQ(ConnectAttempt::connectBoundMs(), SocketChannel::kConnectTimeoutMs);
}

TEST_F(ConnectAttemptTest, UntakenSocketIsClosedWithTheAttempt)
{
    LoopbackTcpServer server;
    const std::size_t before = openDescriptorCount();
    {
        ConnectAttempt attempt(request(server.portText(), SOCK_STREAM));
        ASSERT_TRUE(attempt.start());
        ASSERT_TRUE(attempt.waitFinished(kDeadline));
        ASSERT_TRUE(server.accept(kDeadline));
    }
    EXPECT_TRUE(server.waitForClose(kDeadline)) << "the far end never saw the close";
    server.closeConnection();
    EXPECT_EQ(openDescriptorCount(), before);
}

TEST_F(ConnectAttemptTest, AbandonAfterTheEndDropsTheSocket)
{
    LoopbackTcpServer server;
    ConnectAttempt attempt(request(server.portText(), SOCK_STREAM));
    ASSERT_TRUE(attempt.start());
    ASSERT_TRUE(attempt.waitFinished(kDeadline));
    ASSERT_TRUE(server.accept(kDeadline));
    attempt.cancel();
    const std::optional<ConnectOutcome> outcome = attempt.take();
    ASSERT_TRUE(outcome);
    EXPECT_EQ(outcome->error.fault(), base::Fault::Cancelled);
    EXPECT_FALSE(outcome->socket.valid());
    EXPECT_TRUE(server.waitForClose(kDeadline));
}

// Abandon races the attempt's own end: whichever wins, no callback runs after
// cancel() has returned and no socket or eventfd is left open.
TEST_F(ConnectAttemptTest, AbandonRacingTheEndNeverReportsLateNorLeaks)
{
    LoopbackUdpPeer udp;
    LoopbackTcpServer refusing;
    const std::string refusedPort = refusing.portText();
    refusing.closeListener();
    const std::size_t descriptors = openDescriptorCount();
    constexpr int kRounds = 200;
    std::atomic<int> lateCalls{0};
    const auto start = Clock::now();
    for (int i = 0; i < kRounds && Clock::now() - start < kDeadline; ++i) {
        const bool useUdp = i % 2 == 0;
        ConnectAttempt attempt(useUdp ? request(udp.portText(), SOCK_DGRAM)
                                      : request(refusedPort, SOCK_STREAM));
        std::atomic<bool> abandoned{false};
        ASSERT_TRUE(attempt.start([&] {
            if (abandoned)
                ++lateCalls;
        }));
        attempt.cancel();
        abandoned = true;
        ASSERT_TRUE(attempt.finished());
        const std::optional<ConnectOutcome> outcome = attempt.take();
        ASSERT_TRUE(outcome);
        EXPECT_EQ(outcome->error.fault(), base::Fault::Cancelled);
        EXPECT_FALSE(outcome->socket.valid());
    }
    EXPECT_EQ(lateCalls, 0);
    EXPECT_EQ(openDescriptorCount(), descriptors);
}

namespace
{

// A socket of `type` bound to [::1] (TCP: listening); -1 without IPv6 loopback.
int ipv6LoopbackPeer(int type, std::uint16_t& port)
{
    const Endpoint loopback = *Endpoint::fromNumeric("::1", 0);
    const int fd = ::socket(AF_INET6, type | SOCK_CLOEXEC, 0);
    if (fd >= 0 && ::bind(fd, loopback.address(), loopback.length) == 0 &&
        (type == SOCK_DGRAM || ::listen(fd, 4) == 0)) {
        port = Endpoint::localOf(fd).port();
        return fd;
    }
    if (fd >= 0)
        ::close(fd);
    return -1;
}

std::optional<ConnectOutcome> runToEnd(const ConnectRequest& request)
{
    ConnectAttempt attempt(request);
    if (!attempt.start() || !attempt.waitFinished(kDeadline))
        return std::nullopt;
    return attempt.take();
}

} // namespace

class ConnectAttemptIpv6 : public testing::TestWithParam<int>
{
};

TEST_P(ConnectAttemptIpv6, ReachesTheIpv6LoopbackWithASocketOfThatFamily)
{
    std::uint16_t port = 0;
    const int peer = ipv6LoopbackPeer(GetParam(), port);
    if (peer < 0)
        GTEST_SKIP() << "no IPv6 loopback on this machine";
    const std::optional<ConnectOutcome> outcome =
        runToEnd(request(std::to_string(port), GetParam(), "[::1]", AF_UNSPEC));
    const bool connected = outcome && outcome->connected();
    const std::string reached = connected ? Endpoint::peerOf(outcome->socket.handle()).text() : "";
    ::close(peer);
    ASSERT_TRUE(connected) << (outcome ? outcome->error.text() : "");
    EXPECT_EQ(reached, "[::1]:" + std::to_string(port));
    EXPECT_EQ(outcome->socket.localEndpoint().family(), AF_INET6);
    EXPECT_EQ(outcome->socket.local().address, 0u) << "IPv6 has no IPv4 form";
}

INSTANTIATE_TEST_SUITE_P(Rows, ConnectAttemptIpv6, testing::Values(SOCK_STREAM, SOCK_DGRAM),
                         [](const testing::TestParamInfo<int>& info) {
                             return info.param == SOCK_STREAM ? "Tcp" : "Udp";
                         });

// "localhost" may name ::1 before 127.0.0.1: an address that refuses is
// passed over for the next; when every one refuses, that is told.
TEST_F(ConnectAttemptTest, NameOfBothFamiliesTriesEachAddressInTurn)
{
    LoopbackTcpServer server;
    std::optional<ConnectOutcome> outcome =
        runToEnd(request(server.portText(), SOCK_STREAM, "localhost", AF_UNSPEC));
    ASSERT_TRUE(outcome && outcome->connected()) << (outcome ? outcome->error.text() : "");
    EXPECT_EQ(Endpoint::peerOf(outcome->socket.handle()).text(), "127.0.0.1:" + server.portText());
    server.closeListener();
    outcome = runToEnd(request(server.portText(), SOCK_STREAM, "localhost", AF_UNSPEC));
    ASSERT_TRUE(outcome);
    EXPECT_EQ(outcome->error, base::Error::system(ECONNREFUSED));

    // A label too long for any name: refused without a query leaving the machine.
    const std::string unknown = std::string(64, 'a') + ".invalid";
    outcome = runToEnd(request("21210", SOCK_STREAM, unknown, AF_UNSPEC));
    ASSERT_TRUE(outcome);
    EXPECT_EQ(outcome->error.text().rfind("\"" + unknown + "\": ", 0), 0u) << outcome->error.text();
}

TEST_F(ConnectAttemptTest, AnyFamilyConnectEndsAtOnceOnCancel)
{
    SynDroppingListener listener;
    if (!listener.dropsSyns())
        GTEST_SKIP() << "this system accepts connects beyond a full backlog";
    const std::size_t descriptors = openDescriptorCount();
    {
        ConnectAttempt attempt(request(listener.portText(), SOCK_STREAM, "127.0.0.1", AF_UNSPEC));
        ASSERT_TRUE(attempt.start());
        EXPECT_FALSE(attempt.waitFinished(std::chrono::milliseconds(300)));
        const auto start = Clock::now();
        attempt.cancel();
        EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(200));
        const std::optional<ConnectOutcome> outcome = attempt.take();
        ASSERT_TRUE(outcome);
        EXPECT_EQ(outcome->error, ConnectOutcome::connectCancelled());
    }
    EXPECT_EQ(openDescriptorCount(), descriptors);
}

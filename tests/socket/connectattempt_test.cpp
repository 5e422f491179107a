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

ConnectRequest request(const std::string& port, int type)
{
    ConnectRequest r;
    r.host = "127.0.0.1";
    r.service = port;
    r.family = AF_INET;
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

// A socket of `type` bound to [::1] on a port the system chose (TCP: also
// listening); invalid when the machine has no IPv6 loopback.
struct Ipv6LoopbackPeer {
    explicit Ipv6LoopbackPeer(int type) : fd(::socket(AF_INET6, type | SOCK_CLOEXEC, 0))
    {
        sockaddr_in6 address{};
        address.sin6_family = AF_INET6;
        address.sin6_addr = in6addr_loopback;
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            (type == SOCK_STREAM && ::listen(fd, 4) != 0))
            close();
        else
            port = Endpoint::localOf(fd).port();
    }
    ~Ipv6LoopbackPeer() { close(); }
    void close()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    int fd = -1;
    std::uint16_t port = 0;
};

ConnectRequest anyFamily(const std::string& host, std::uint16_t port, int type)
{
    ConnectRequest r;
    r.host = host;
    r.service = std::to_string(port);
    r.family = AF_UNSPEC;
    r.type = type;
    return r;
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

// Brackets or none, the IPv6 loopback is reached with a socket of that family,
// whose own address has no IPv4 form.
TEST_P(ConnectAttemptIpv6, ReachesTheIpv6Loopback)
{
    const int type = GetParam();
    Ipv6LoopbackPeer peer(type);
    if (peer.fd < 0)
        GTEST_SKIP() << "no IPv6 loopback on this machine";
    for (const char* host : {"[::1]", "::1"}) {
        std::optional<ConnectOutcome> outcome = runToEnd(anyFamily(host, peer.port, type));
        ASSERT_TRUE(outcome);
        ASSERT_TRUE(outcome->connected()) << host << ": " << outcome->error.text();
        EXPECT_EQ(outcome->socket.localEndpoint().family(), AF_INET6);
        EXPECT_EQ(outcome->socket.local().address, 0u);
        EXPECT_EQ(Endpoint::peerOf(outcome->socket.handle()).text(),
                  "[::1]:" + std::to_string(peer.port));
        if (type == SOCK_DGRAM) {
            ASSERT_EQ(::send(outcome->socket.handle(), "hi", 2, 0), 2);
            char got[4] = {};
            EXPECT_EQ(::recv(peer.fd, got, sizeof got, 0), 2);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, ConnectAttemptIpv6, testing::Values(SOCK_STREAM, SOCK_DGRAM),
                         [](const testing::TestParamInfo<int>& info) {
                             return info.param == SOCK_STREAM ? "Tcp" : "Udp";
                         });

// "localhost" may name ::1 before 127.0.0.1: an address that refuses is
// passed over for the next, and only when every one refuses is that told.
TEST_F(ConnectAttemptTest, NameOfBothFamiliesTriesEachAddressInTurn)
{
    LoopbackTcpServer server;
    std::optional<ConnectOutcome> outcome =
        runToEnd(anyFamily("localhost", server.port(), SOCK_STREAM));
    ASSERT_TRUE(outcome);
    ASSERT_TRUE(outcome->connected()) << outcome->error.text();
    EXPECT_EQ(Endpoint::peerOf(outcome->socket.handle()).text(), "127.0.0.1:" + server.portText());
    EXPECT_EQ(outcome->socket.local().address, htonl(INADDR_LOOPBACK));

    const std::uint16_t port = server.port();
    server.closeListener();
    outcome = runToEnd(anyFamily("localhost", port, SOCK_STREAM));
    ASSERT_TRUE(outcome);
    EXPECT_EQ(outcome->error, base::Error::system(ECONNREFUSED));
}

TEST_F(ConnectAttemptTest, NameThatDoesNotResolveIsToldWithTheResolversReason)
{
    // A label too long for any name: refused without a query leaving the machine.
    const std::string unknown = std::string(64, 'a') + ".invalid";
    const std::optional<ConnectOutcome> outcome = runToEnd(anyFamily(unknown, 21210, SOCK_STREAM));
    ASSERT_TRUE(outcome);
    EXPECT_EQ(outcome->error.fault(), base::Fault::BadArgument);
    EXPECT_EQ(outcome->error.text().rfind("\"" + unknown + "\": ", 0), 0u) << outcome->error.text();
    EXPECT_FALSE(outcome->socket.valid());
}

TEST_F(ConnectAttemptTest, AnyFamilyConnectEndsAtOnceOnCancel)
{
    SynDroppingListener listener;
    if (!listener.dropsSyns())
        GTEST_SKIP() << "this system accepts connects beyond a full backlog";
    const std::size_t descriptors = openDescriptorCount();
    {
        ConnectAttempt attempt(anyFamily(
            "127.0.0.1", static_cast<std::uint16_t>(std::stoi(listener.portText())), SOCK_STREAM));
        DoneCounter done;
        ASSERT_TRUE(attempt.start(done.callback()));
        EXPECT_FALSE(attempt.waitFinished(std::chrono::milliseconds(300)));
        const auto start = Clock::now();
        attempt.cancel();
        EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(200));
        const std::optional<ConnectOutcome> outcome = attempt.take();
        ASSERT_TRUE(outcome);
        EXPECT_EQ(outcome->error, ConnectOutcome::connectCancelled());
        EXPECT_EQ(done.calls, 0);
    }
    EXPECT_EQ(openDescriptorCount(), descriptors);
}

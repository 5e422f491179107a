#include "socket/loopdialer.h"
#include "socket/loopstream.h"
#include "socket/openfilelimit.h"
#include "socket/streamlistener.h"

#include "syndroppinglistener.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <thread>

namespace
{

using net::EventLoop;
using Millis = EventLoop::Millis;

net::Endpoint loopback(std::uint16_t port)
{
    return *net::Endpoint::fromNumeric("127.0.0.1", port);
}

// Runs `loop` until `done` holds, at most `limit`.
bool turnUntil(EventLoop& loop, const std::function<bool()>& done, std::chrono::seconds limit)
{
    const auto deadline = EventLoop::Clock::now() + limit;
    while (!done()) {
        if (EventLoop::Clock::now() >= deadline || !loop.runOnce(Millis(50)).ok())
            return false;
    }
    return true;
}

// Echoes every stream it accepts, on a loop thread of its own.
class EchoServer
{
public:
    EchoServer()
    {
        const base::Result<int> fd = net::StreamListener::open(loopback(0));
        EXPECT_TRUE(fd.ok());
        listener_ = std::make_unique<net::StreamListener>(
            loop_, *fd, [this](int accepted, const net::Endpoint&) { take(accepted); });
        EXPECT_TRUE(listener_->start().ok());
        port_ = listener_->local().port();
        thread_ = std::thread([this] { (void)loop_.run(); });
    }
    ~EchoServer()
    {
        loop_.post([this] {
            streams_.clear();
            listener_.reset();
        });
        loop_.quit();
        thread_.join();
    }
    std::uint16_t port() const { return port_; }
    int served() const { return served_.load(); }
    int open() const { return open_.load(); }

private:
    void take(int fd)
    {
        ++served_;
        ++open_;
        const int key = fd;
        auto stream = std::make_unique<net::LoopStream>(loop_, fd);
        net::LoopStream* raw = stream.get();
        streams_[key] = std::move(stream);
        EXPECT_TRUE(raw->start([raw](std::string_view bytes) { (void)raw->send(bytes); },
                               [this, key](const base::Error&) {
                                   --open_;
                                   streams_.erase(key); // destroys the stream in its handler
                               })
                        .ok());
    }

    EventLoop loop_;
    std::unique_ptr<net::StreamListener> listener_;
    std::map<int, std::unique_ptr<net::LoopStream>> streams_;
    std::uint16_t port_ = 0;
    std::atomic<int> served_{0}, open_{0};
    std::thread thread_;
};

TEST(LoopStream, AConnectionStormIsServedWholeAndLeavesNothingOpen)
{
    constexpr int kClients = 400;
    net::raiseOpenFileLimit(4 * kClients + 64);
    EchoServer server;
    EventLoop loop;
    struct Client {
        std::unique_ptr<net::LoopDialer> dialer;
        std::unique_ptr<net::LoopStream> stream;
        std::string expected, got;
    };
    std::vector<Client> clients(kClients);
    int echoed = 0, failed = 0;
    for (int i = 0; i < kClients; ++i) {
        Client& client = clients[i];
        client.expected = "frame " + std::to_string(i) + "\r\n";
        client.dialer = std::make_unique<net::LoopDialer>(loop, [&, i](base::Result<int> fd) {
            Client& me = clients[i];
            if (!fd.ok()) {
                ++failed;
                return;
            }
            me.stream = std::make_unique<net::LoopStream>(loop, *fd);
            ASSERT_TRUE(me.stream
                            ->start(
                                [&](std::string_view bytes) {
                                    me.got += bytes;
                                    if (me.got == me.expected)
                                        ++echoed;
                                },
                                [&](const base::Error&) { ++failed; })
                            .ok());
            ASSERT_TRUE(me.stream->send(me.expected).ok());
        });
        client.dialer->dial(loopback(server.port()), Millis(10000));
    }
    ASSERT_TRUE(turnUntil(
        loop, [&] { return echoed + failed == kClients; }, std::chrono::seconds(30)));
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(server.served(), kClients);
    clients.clear();
    EXPECT_EQ(loop.watchedCount(), 0u);
    const auto deadline = EventLoop::Clock::now() + std::chrono::seconds(10);
    while (server.open() != 0 && EventLoop::Clock::now() < deadline)
        std::this_thread::sleep_for(Millis(5));
    EXPECT_EQ(server.open(), 0);
}

TEST(LoopStream, APeerThatStopsReadingMeetsTheBoundThenTheStallLimit)
{
    EventLoop loop;
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    net::LoopStream::Limits limits;
    limits.maxQueuedBytes = 64 * 1024;
    limits.writeStall = Millis(200);
    net::LoopStream stream(loop, fds[0], limits);
    std::optional<base::Error> closed;
    ASSERT_TRUE(
        stream.start([](std::string_view) {}, [&](const base::Error& why) { closed = why; }).ok());
    const std::string block(16 * 1024, 'f');
    base::Error refused;
    int accepted = 0;
    for (int i = 0; i < 10000 && refused.ok(); ++i) {
        refused = stream.send(block);
        accepted += refused.ok() ? 1 : 0;
    }
    EXPECT_EQ(refused.fault(), base::Fault::SendQueueFull);
    EXPECT_LE(stream.queuedBytes(), limits.maxQueuedBytes);
    ASSERT_TRUE(turnUntil(
        loop, [&] { return closed.has_value(); }, std::chrono::seconds(10)));
    EXPECT_EQ(closed->fault(), base::Fault::TimedOut);
    EXPECT_FALSE(stream.open());
    EXPECT_EQ(stream.send("late").fault(), base::Fault::PeerClosed);
    ::close(fds[1]);
}

TEST(LoopStream, FinishSendsWhatWaitsThenEndsTheStream)
{
    EventLoop loop;
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    net::LoopStream::Limits limits;
    limits.maxQueuedBytes = 1024 * 1024;
    net::LoopStream stream(loop, fds[0], limits);
    std::optional<base::Error> closed;
    ASSERT_TRUE(
        stream.start([](std::string_view) {}, [&](const base::Error& why) { closed = why; }).ok());
    const std::string last(300 * 1024, 'z'); // more than the socket takes at once
    std::string got;
    stream.setReading(false);
    ASSERT_TRUE(stream.send(last.substr(0, 200 * 1024)).ok());
    ASSERT_TRUE(stream.send(last.substr(200 * 1024)).ok());
    stream.finish();
    char buffer[65536];
    ASSERT_TRUE(turnUntil(
        loop,
        [&] {
            const ssize_t count = ::recv(fds[1], buffer, sizeof(buffer), MSG_DONTWAIT);
            if (count > 0)
                got.append(buffer, static_cast<std::size_t>(count));
            if (count == 0 && !closed) {
                ::shutdown(fds[1], SHUT_WR); // the peer ends its side too
            }
            return closed.has_value();
        },
        std::chrono::seconds(10)));
    EXPECT_EQ(closed->fault(), base::Fault::PeerClosed);
    EXPECT_EQ(got.size(), last.size());
    ::close(fds[1]);
}

TEST(LoopDialer, RefusedAndStalledConnectsAreToldOnce)
{
    EventLoop loop;
    // A port nobody listens on: a listener opened and closed again.
    const base::Result<int> probe = net::StreamListener::open(loopback(0));
    ASSERT_TRUE(probe.ok());
    const std::uint16_t freePort = net::Endpoint::localOf(*probe).port();
    ::close(*probe);
    std::vector<base::Error> told;
    net::LoopDialer dialer(loop, [&](base::Result<int> fd) {
        if (fd.ok())
            ::close(*fd);
        told.push_back(fd.ok() ? base::Error() : fd.error());
    });
    dialer.dial(loopback(freePort), Millis(5000));
    ASSERT_TRUE(turnUntil(
        loop, [&] { return !told.empty(); }, std::chrono::seconds(10)));
    EXPECT_EQ(told.front().systemCode(), ECONNREFUSED);

    SynDroppingListener silent;
    if (!silent.dropsSyns())
        GTEST_SKIP() << "this system takes connects beyond a full queue";
    told.clear();
    dialer.dial(loopback(static_cast<std::uint16_t>(std::stoi(silent.portText()))), Millis(200));
    ASSERT_TRUE(turnUntil(
        loop, [&] { return !told.empty(); }, std::chrono::seconds(10)));
    EXPECT_EQ(told.front().fault(), base::Fault::TimedOut);
    EXPECT_FALSE(dialer.dialing());
    ASSERT_TRUE(loop.runOnce(Millis(300)).ok());
    EXPECT_EQ(told.size(), 1u);
}

TEST(StreamListener, APortInUseIsRefusedWithTheSystemsReason)
{
    const base::Result<int> first = net::StreamListener::open(loopback(0));
    ASSERT_TRUE(first.ok());
    const base::Result<int> second =
        net::StreamListener::open(loopback(net::Endpoint::localOf(*first).port()));
    ASSERT_FALSE(second.ok());
    EXPECT_EQ(second.error().systemCode(), EADDRINUSE);
    ::close(*first);
}

} // namespace

#include "socket/eventloop.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace
{

using net::EventLoop;
using Millis = EventLoop::Millis;

struct SocketPair {
    int fds[2] = {-1, -1};
    SocketPair() { EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0); }
    ~SocketPair()
    {
        for (int fd : fds)
            if (fd >= 0)
                ::close(fd);
    }
};

TEST(EventLoop, TimersFireInTimeOrderAndCancelledOnesNever)
{
    EventLoop loop;
    ASSERT_TRUE(loop.error().ok());
    std::string fired;
    const auto now = EventLoop::Clock::now();
    loop.at(now + Millis(30), [&] { fired += "c"; });
    const EventLoop::TimerId dropped = loop.at(now + Millis(10), [&] { fired += "x"; });
    loop.at(now + Millis(20), [&] { fired += "b"; });
    loop.at(now, [&] { fired += "a"; });
    loop.cancel(dropped);
    loop.cancel(dropped); // twice: nothing
    loop.cancel(0);
    const auto deadline = now + std::chrono::seconds(5);
    while (fired.size() < 3 && EventLoop::Clock::now() < deadline)
        ASSERT_TRUE(loop.runOnce(Millis(1000)).ok());
    EXPECT_EQ(fired, "abc");
}

TEST(EventLoop, PostAndQuitFromAnotherThreadWakeAWaitingLoop)
{
    EventLoop loop;
    std::atomic<int> ran{0};
    std::thread poster([&] {
        for (int i = 0; i < 100; ++i)
            loop.post([&] { ++ran; });
        loop.quit();
    });
    const auto started = EventLoop::Clock::now();
    // No timer and nothing watched: only the wake-ups can end the run.
    ASSERT_TRUE(loop.run().ok());
    poster.join();
    // A quit posted behind the tasks leaves none of them unrun.
    while (ran.load() < 100)
        ASSERT_TRUE(loop.runOnce(Millis(0)).ok());
    EXPECT_EQ(ran.load(), 100);
    EXPECT_LT(EventLoop::Clock::now() - started, std::chrono::seconds(5));
}

TEST(EventLoop, AnEventQueuedForAnUnwatchedDescriptorNeverReachesItsSuccessor)
{
    EventLoop loop;
    SocketPair first, second;
    // Both readable in the same turn.
    ASSERT_EQ(::write(first.fds[1], "1", 1), 1);
    ASSERT_EQ(::write(second.fds[1], "2", 1), 1);
    int reusedFd = -1;
    int successorCalls = 0;
    int handled = 0;
    std::unique_ptr<SocketPair> successor;
    const auto dropOther = [&](int mine, int other) {
        return [&, mine, other](std::uint32_t) {
            ++handled;
            char byte = 0;
            ASSERT_EQ(::read(mine, &byte, 1), 1);
            // The other descriptor is closed and its number taken by a new
            // socket, watched by another handler, while its event waits.
            loop.unwatch(mine);
            loop.unwatch(other);
            ::close(other);
            successor = std::make_unique<SocketPair>();
            reusedFd = successor->fds[0];
            ASSERT_TRUE(
                loop.watch(reusedFd, EventLoop::WantRead, [&](std::uint32_t) { ++successorCalls; })
                    .ok());
        };
    };
    ASSERT_TRUE(
        loop.watch(first.fds[0], EventLoop::WantRead, dropOther(first.fds[0], second.fds[0])).ok());
    ASSERT_TRUE(
        loop.watch(second.fds[0], EventLoop::WantRead, dropOther(second.fds[0], first.fds[0]))
            .ok());
    ASSERT_TRUE(loop.runOnce(Millis(1000)).ok());
    EXPECT_EQ(handled, 1);
    EXPECT_EQ(successorCalls, 0); // the new socket has nothing to read
    // Whichever pair lost its descriptor: that slot of its array is now closed.
    (reusedFd == first.fds[0] ? first.fds[0] : second.fds[0]) = -1;
    ASSERT_TRUE(loop.runOnce(Millis(0)).ok());
    EXPECT_EQ(successorCalls, 0);
    loop.unwatch(reusedFd);
}

TEST(EventLoop, AHandlerMayWatchManyDescriptorsWhileItRuns)
{
    EventLoop loop;
    SocketPair trigger;
    std::vector<std::unique_ptr<SocketPair>> pairs;
    int called = 0;
    std::string seenInHandler = "before";
    ASSERT_EQ(::write(trigger.fds[1], "x", 1), 1);
    ASSERT_TRUE(
        loop.watch(trigger.fds[0], EventLoop::WantRead,
                   [&, text = std::string(64, 'k')](std::uint32_t) {
                       ++called;
                       // Grows the loop's table while this handler runs.
                       for (int i = 0; i < 200; ++i) {
                           pairs.push_back(std::make_unique<SocketPair>());
                           ASSERT_TRUE(
                               loop.watch(pairs.back()->fds[0], 0, [](std::uint32_t) {}).ok());
                       }
                       seenInHandler = text; // its captures are still whole
                       loop.unwatch(trigger.fds[0]);
                   })
            .ok());
    ASSERT_TRUE(loop.runOnce(Millis(1000)).ok());
    EXPECT_EQ(called, 1);
    EXPECT_EQ(seenInHandler, std::string(64, 'k'));
    EXPECT_EQ(loop.watchedCount(), 200u);
    EXPECT_FALSE(loop.watch(pairs.front()->fds[0], 0, [](std::uint32_t) {}).ok());
    for (const auto& pair : pairs)
        loop.unwatch(pair->fds[0]);
    EXPECT_EQ(loop.watchedCount(), 0u);
}

} // namespace

// The send queue against a connection whose room the test sets: order, whole
// messages, the byte bound, the time limit and close().

#include "socket/sendqueue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

using namespace net;
using namespace std::chrono_literals;

namespace
{

// Takes at most `room` bytes per write (0: none; `once`: then none), and
// keeps what it took, the time of the last write and the reports.
struct Connection {
    std::mutex mutex;
    std::condition_variable changed;
    std::uint32_t room = 0;
    bool once = false;
    std::string wire;
    SendQueue::Clock::time_point lastWrite;
    std::vector<std::pair<std::string, IoResult>> reports;

    IoResult write(const std::uint8_t* bytes, std::uint32_t length)
    {
        const std::lock_guard<std::mutex> lock(mutex);
        lastWrite = SendQueue::Clock::now();
        const std::uint32_t taken = std::min(length, room);
        wire.append(reinterpret_cast<const char*>(bytes), taken);
        room = once ? 0 : room;
        changed.notify_all();
        return taken > 0 ? IoResult(taken) : ioNoRoomNow();
    }
    void report(const std::uint8_t* bytes, std::uint32_t length, const IoResult& result)
    {
        const std::lock_guard<std::mutex> lock(mutex);
        reports.emplace_back(std::string(reinterpret_cast<const char*>(bytes), length), result);
        changed.notify_all();
    }
    void setRoom(std::uint32_t bytes, bool onlyOnce = false)
    {
        const std::lock_guard<std::mutex> lock(mutex);
        room = bytes;
        once = onlyOnce;
    }
    template <typename Condition> bool waitUntil(Condition condition)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, 5s, condition);
    }
    SendQueue queue(SendQueue::Limits limits = {})
    {
        return SendQueue([this](auto... a) { return write(a...); },
                         [this](auto... a) { report(a...); }, limits);
    }
};

SendQueue::Outcome send(SendQueue& queue, const std::string& message)
{
    return queue.send(reinterpret_cast<const std::uint8_t*>(message.data()),
                      static_cast<std::uint32_t>(message.size()));
}

} // namespace

TEST(SendQueue, OrderWholeMessagesByteBoundAndClose)
{
    Connection connection;
    SendQueue queue(connection.queue({30, 5s}));
    EXPECT_EQ(send(queue, "first message\r\n"), SendQueue::Outcome::Queued);
    EXPECT_EQ(send(queue, "second\r\n"), SendQueue::Outcome::Queued);
    EXPECT_EQ(send(queue, "over the bound"), SendQueue::Outcome::Dropped);
    connection.setRoom(4); // pieces that straddle the messages' ends
    EXPECT_EQ(send(queue, "third"), SendQueue::Outcome::Queued) << "never overtakes";
    ASSERT_TRUE(connection.waitUntil([&] { return connection.reports.size() == 4; }));
    EXPECT_EQ(connection.wire, "first message\r\nsecond\r\nthird");
    EXPECT_EQ(connection.reports[0].first, "over the bound");
    EXPECT_EQ(connection.reports[0].second.error().fault(), base::Fault::SendQueueFull);
    EXPECT_EQ(connection.reports[2].first, "second\r\n");
    EXPECT_EQ(*connection.reports[2].second, 8u);

    connection.setRoom(0);
    EXPECT_EQ(send(queue, "left behind"), SendQueue::Outcome::Queued);
    queue.close();
    EXPECT_EQ(connection.reports.back().second.error().fault(), base::Fault::PeerClosed);
    connection.setRoom(1000);
    EXPECT_EQ(send(queue, "at once"), SendQueue::Outcome::Sent) << "usable after close()";
    const SendQueue::Counts counts = queue.counts();
    EXPECT_EQ(counts.sent, 4u);
    EXPECT_EQ(counts.dropped, 2u);
    EXPECT_EQ(counts.waitingBytes, 0u);
}

TEST(SendQueue, TimeLimitDropsWaitingMessagesButNeverCutsAStartedOne)
{
    constexpr auto kLimit = 50ms;
    Connection connection;
    SendQueue queue(connection.queue({1u << 20, kLimit}));
    connection.setRoom(3, true);
    const auto start = SendQueue::Clock::now();
    EXPECT_EQ(send(queue, "hello"), SendQueue::Outcome::Queued) << "3 bytes out, 2 wait";
    EXPECT_EQ(send(queue, "world"), SendQueue::Outcome::Queued);
    // The writer keeps offering the started message well past its limit.
    ASSERT_TRUE(connection.waitUntil([&] { return connection.lastWrite > start + 4 * kLimit; }));
    EXPECT_EQ(queue.counts().waitingBytes, 2u + 5u);

    connection.setRoom(1000);
    ASSERT_TRUE(connection.waitUntil([&] { return connection.reports.size() == 2; }));
    EXPECT_EQ(connection.wire, "hello");
    EXPECT_EQ(*connection.reports[0].second, 5u);
    EXPECT_EQ(connection.reports[1].first, "world");
    // Its own time-out, never the connection's "no room now".
    EXPECT_EQ(connection.reports[1].second.error().fault(), base::Fault::TimedOut);
}

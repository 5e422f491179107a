// The send queue against a connection whose room the test sets: order, whole
// messages, the byte bound, the time limit and close().

#include "socket/sendqueue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

using namespace net;
using namespace std::chrono_literals;

namespace
{

// What the queue writes to: takes at most `room` bytes per call (0: none),
// and records what it took and what was reported.
class Connection
{
public:
    struct Report {
        std::string message;
        IoResult result;
    };

    SendQueue::WriteNow writer()
    {
        return [this](const std::uint8_t* bytes, std::uint32_t length) {
            const std::lock_guard<std::mutex> lock(mutex_);
            lastWrite_ = SendQueue::Clock::now();
            const std::uint32_t taken = std::min(length, room_);
            wire_.append(reinterpret_cast<const char*>(bytes), taken);
            room_ = onceOnly_ ? 0 : room_;
            changed_.notify_all();
            return taken > 0 ? IoResult::data(taken) : IoResult::timedOut();
        };
    }
    SendQueue::Report reporter()
    {
        return [this](const std::uint8_t* bytes, std::uint32_t length, const IoResult& result) {
            const std::lock_guard<std::mutex> lock(mutex_);
            reports_.push_back({std::string(reinterpret_cast<const char*>(bytes), length), result});
            changed_.notify_all();
        };
    }
    void setRoom(std::uint32_t room, bool onceOnly = false)
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        room_ = room;
        onceOnly_ = onceOnly;
    }
    template <typename Condition> bool waitUntil(Condition condition)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, 5s, [&] { return condition(*this); });
    }
    std::string wire_;
    std::vector<Report> reports_;
    SendQueue::Clock::time_point lastWrite_;

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::uint32_t room_ = 0;
    bool onceOnly_ = false;
};

SendQueue::Outcome send(SendQueue& queue, const std::string& message)
{
    return queue.send(reinterpret_cast<const std::uint8_t*>(message.data()),
                      static_cast<std::uint32_t>(message.size()));
}

} // namespace

TEST(SendQueue, WaitingMessagesLeaveWholeAndInOrderWhateverTheRoom)
{
    Connection connection;
    SendQueue queue(connection.writer(), connection.reporter());
    const std::vector<std::string> messages{"first message\r\n", "second\r\n", "third one\r\n"};
    EXPECT_EQ(send(queue, messages[0]), SendQueue::Outcome::Queued);
    EXPECT_EQ(send(queue, messages[1]), SendQueue::Outcome::Queued);
    connection.setRoom(4); // pieces that straddle the messages' ends
    EXPECT_EQ(send(queue, messages[2]), SendQueue::Outcome::Queued) << "never overtakes";
    ASSERT_TRUE(connection.waitUntil([](Connection& c) { return c.reports_.size() == 3; }));

    EXPECT_EQ(connection.wire_, messages[0] + messages[1] + messages[2]);
    for (std::size_t i = 0; i < messages.size(); ++i) {
        EXPECT_EQ(connection.reports_[i].message, messages[i]);
        EXPECT_EQ(connection.reports_[i].result.status, IoStatus::Data);
        EXPECT_EQ(connection.reports_[i].result.count, messages[i].size());
    }
    connection.setRoom(1000);
    EXPECT_EQ(send(queue, "at once"), SendQueue::Outcome::Sent);
    const SendQueue::Counts counts = queue.counts();
    EXPECT_EQ(counts.sent, 4u);
    EXPECT_EQ(counts.dropped, 0u);
    EXPECT_EQ(counts.waitingBytes, 0u);
}

TEST(SendQueue, BoundByBytesThenCloseDropsWhatWaits)
{
    Connection connection;
    SendQueue queue(connection.writer(), connection.reporter(), {100, 5s});
    EXPECT_EQ(send(queue, std::string(60, 'a')), SendQueue::Outcome::Queued);
    EXPECT_EQ(send(queue, std::string(40, 'b')), SendQueue::Outcome::Queued);
    EXPECT_EQ(send(queue, "c"), SendQueue::Outcome::Dropped);
    ASSERT_EQ(connection.reports_.size(), 1u);
    EXPECT_EQ(connection.reports_[0].message, "c");
    EXPECT_EQ(connection.reports_[0].result.status, IoStatus::Failed);
    EXPECT_EQ(connection.reports_[0].result.error, SendQueue::kQueueFullError);
    EXPECT_EQ(queue.counts().waitingBytes, 100u);

    queue.close();
    ASSERT_EQ(connection.reports_.size(), 3u);
    EXPECT_EQ(connection.reports_[1].message, std::string(60, 'a'));
    EXPECT_EQ(connection.reports_[1].result.status, IoStatus::Closed);
    EXPECT_EQ(connection.reports_[2].result.status, IoStatus::Closed);
    EXPECT_FALSE(queue.writerRunning());
    const SendQueue::Counts counts = queue.counts();
    EXPECT_EQ(counts.dropped, 3u);
    EXPECT_EQ(counts.waitingMessages, 0u);
    EXPECT_EQ(counts.waitingBytes, 0u);
    EXPECT_TRUE(connection.wire_.empty());

    connection.setRoom(1000);
    EXPECT_EQ(send(queue, "again"), SendQueue::Outcome::Sent) << "usable after close()";
}

TEST(SendQueue, TimeLimitDropsWaitingMessagesButNeverCutsAStartedOne)
{
    constexpr auto kLimit = 50ms;
    Connection connection;
    SendQueue queue(connection.writer(), connection.reporter(), {1u << 20, kLimit});
    connection.setRoom(3, true);
    const auto start = SendQueue::Clock::now();
    EXPECT_EQ(send(queue, "hello"), SendQueue::Outcome::Queued) << "3 bytes out, 2 wait";
    EXPECT_EQ(send(queue, "world"), SendQueue::Outcome::Queued);
    // The writer keeps offering the started message well past its limit.
    ASSERT_TRUE(
        connection.waitUntil([&](Connection& c) { return c.lastWrite_ > start + 4 * kLimit; }));
    EXPECT_TRUE(connection.reports_.empty());
    EXPECT_EQ(queue.counts().waitingBytes, 2u + 5u);

    connection.setRoom(1000);
    ASSERT_TRUE(connection.waitUntil([](Connection& c) { return c.reports_.size() == 2; }));
    EXPECT_EQ(connection.wire_, "hello");
    EXPECT_EQ(connection.reports_[0].result.status, IoStatus::Data);
    EXPECT_EQ(connection.reports_[0].result.count, 5u);
    EXPECT_EQ(connection.reports_[1].message, "world");
    EXPECT_EQ(connection.reports_[1].result.status, IoStatus::TimedOut);
    EXPECT_EQ(queue.counts().sent, 1u);
    EXPECT_EQ(queue.counts().dropped, 1u);
}

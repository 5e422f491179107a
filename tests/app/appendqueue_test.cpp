#include "app/view/appendqueue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using app::AppendQueue;
using Result = AppendQueue::PushResult;

namespace
{

constexpr auto kDeadline = 5s;

// The texts of a batch, one string each.
std::vector<std::string> texts(const AppendQueue::Batch& batch)
{
    std::vector<std::string> out;
    std::size_t at = 0;
    for (const std::uint32_t length : batch.lengths) {
        out.emplace_back(batch.text().substr(at, length));
        at += length;
    }
    EXPECT_EQ(at, batch.bytes.size());
    return out;
}

template <typename T> bool readyWithin(std::future<T>& future, std::chrono::milliseconds limit)
{
    return future.wait_for(limit) == std::future_status::ready;
}

TEST(AppendQueue, TextsComeOutWholeInOrderAndTheTakerIsToldOncePerTake)
{
    AppendQueue queue(64, 8);
    EXPECT_EQ(queue.push("one\r\n", 0ms), Result::QueuedFirst);
    EXPECT_EQ(queue.push("", 0ms), Result::Queued);
    EXPECT_EQ(queue.push("two", 0ms), Result::Queued);
    AppendQueue::Batch batch;
    queue.take(batch);
    EXPECT_EQ(texts(batch), (std::vector<std::string>{"one\r\n", "", "two"}));

    EXPECT_EQ(queue.push("three", 0ms), Result::QueuedFirst);
    queue.take(batch);
    EXPECT_EQ(texts(batch), (std::vector<std::string>{"three"}));
    queue.take(batch);
    EXPECT_TRUE(batch.empty());
}

struct FullRow {
    const char* name;
    std::size_t bytes;
    std::size_t count;
    std::vector<std::string> fill;
    std::string late;
};

class FullQueue : public testing::TestWithParam<FullRow>
{
};

TEST_P(FullQueue, TimedOutTextIsNeverQueuedAndLaterOnesAre)
{
    const FullRow& row = GetParam();
    AppendQueue queue(row.bytes, row.count);
    for (const std::string& text : row.fill)
        ASSERT_NE(queue.push(text, 0ms), Result::TimedOut);
    EXPECT_EQ(queue.push(row.late, 50ms), Result::TimedOut);

    AppendQueue::Batch batch;
    queue.take(batch);
    EXPECT_EQ(texts(batch), row.fill);
    EXPECT_EQ(queue.push("next", 0ms), Result::QueuedFirst);
    queue.take(batch);
    EXPECT_EQ(texts(batch), (std::vector<std::string>{"next"}));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FullQueue,
    testing::Values(FullRow{"BytesFull", 8, 100, {"1234", "5678"}, "x"},
                    FullRow{"NoRoomForTheWholeText", 8, 100, {"12345"}, "6789"},
                    FullRow{"TextPlacesFull", 100, 2, {"a", "b"}, "c"},
                    FullRow{"EmptyTextNeedsAPlace", 100, 1, {""}, ""}),
    [](const testing::TestParamInfo<FullRow>& info) { return std::string(info.param.name); });

TEST(AppendQueue, TextLongerThanTheQueueIsRefusedAtOnce)
{
    AppendQueue queue(4, 4);
    EXPECT_EQ(queue.push("12345", 60000ms), Result::TooLarge);
    EXPECT_EQ(queue.push("1234", 0ms), Result::QueuedFirst);
}

TEST(AppendQueue, WaitingPushGetsInOnceTheTakerMakesRoom)
{
    AppendQueue queue(4, 4);
    ASSERT_EQ(queue.push("1234", 0ms), Result::QueuedFirst);
    auto waiting = std::async(std::launch::async, [&] { return queue.push("5678", 60000ms); });
    EXPECT_FALSE(readyWithin(waiting, 20ms));
    AppendQueue::Batch batch;
    queue.take(batch);
    ASSERT_TRUE(readyWithin(waiting, kDeadline));
    EXPECT_EQ(waiting.get(), Result::QueuedFirst);
    EXPECT_EQ(texts(batch), (std::vector<std::string>{"1234"}));
    queue.take(batch);
    EXPECT_EQ(texts(batch), (std::vector<std::string>{"5678"}));
}

TEST(AppendQueue, RefusingEndsAWaitAtOnceAndKeepsWhatIsQueued)
{
    AppendQueue queue(4, 4);
    ASSERT_EQ(queue.push("1234", 0ms), Result::QueuedFirst);
    auto waiting = std::async(std::launch::async, [&] { return queue.push("lost", 60000ms); });
    EXPECT_FALSE(readyWithin(waiting, 20ms));
    queue.setRefusing(true);
    ASSERT_TRUE(readyWithin(waiting, kDeadline));
    EXPECT_EQ(waiting.get(), Result::Refused);
    AppendQueue::Batch batch;
    queue.take(batch);
    EXPECT_EQ(texts(batch), (std::vector<std::string>{"1234"}));
    EXPECT_EQ(queue.push("lost", 0ms), Result::Refused);

    queue.setRefusing(false);
    EXPECT_EQ(queue.push("back", 0ms), Result::QueuedFirst);
    queue.take(batch);
    EXPECT_EQ(texts(batch), (std::vector<std::string>{"back"}));
}

TEST(AppendQueue, ClearDropsWhatIsQueuedAndMakesRoom)
{
    AppendQueue queue(4, 4);
    ASSERT_EQ(queue.push("1234", 0ms), Result::QueuedFirst);
    queue.clear();
    EXPECT_EQ(queue.push("5678", 0ms), Result::QueuedFirst);
    AppendQueue::Batch batch;
    queue.take(batch);
    EXPECT_EQ(texts(batch), (std::vector<std::string>{"5678"}));
}

// Several threads push faster than a slow taker takes: every text arrives, each
// whole, and each thread's texts in the order it pushed them.
TEST(AppendQueue, ConcurrentPushesArriveWholeAndInEachThreadsOrder)
{
    constexpr int kThreads = 3;
    constexpr int kTexts = 2000;
    AppendQueue queue(256, 16);
    std::vector<std::future<int>> pushers;
    for (int t = 0; t < kThreads; ++t) {
        pushers.push_back(std::async(std::launch::async, [&queue, t] {
            int failed = 0;
            for (int i = 0; i < kTexts; ++i) {
                const std::string text = std::to_string(t) + ":" + std::to_string(i) + ";";
                const Result result = queue.push(text, 5000ms);
                failed += result == Result::Queued || result == Result::QueuedFirst ? 0 : 1;
            }
            return failed;
        }));
    }
    std::vector<int> next(kThreads, 0);
    AppendQueue::Batch batch;
    int received = 0;
    int outOfOrder = 0;
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (received < kThreads * kTexts && std::chrono::steady_clock::now() < deadline) {
        queue.take(batch);
        for (const std::string& text : texts(batch)) {
            const int t = text.empty() ? -1 : text[0] - '0';
            if (t < 0 || t >= kThreads ||
                text != std::to_string(t) + ":" + std::to_string(next[t]) + ";") {
                ++outOfOrder;
                continue;
            }
            ++next[t];
            ++received;
        }
        std::this_thread::yield();
    }
    for (auto& pusher : pushers)
        EXPECT_EQ(pusher.get(), 0);
    EXPECT_EQ(outOfOrder, 0);
    EXPECT_EQ(received, kThreads * kTexts);
}

} // namespace

// The simulator's log: a sink or an output that does not keep up never holds
// a writer up, and what it drops is counted and said.

#include "lineoutput.h"
#include "simulatorlog.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <vector>

using devicetools::LineOutput;
using devicetools::SimulatorLog;
using namespace std::chrono_literals;

namespace
{

constexpr auto kDeadline = 5s;
constexpr int kLines = 20000;

// A sink that holds every line until released, as a reader that stops reading.
class HeldSink
{
public:
    void operator()(std::string_view line)
    {
        std::unique_lock lock(mutex_);
        released_.wait(lock, [this] { return open_; });
        lines_.emplace_back(line);
    }
    void release()
    {
        {
            std::lock_guard lock(mutex_);
            open_ = true;
        }
        released_.notify_all();
    }
    std::vector<std::string> lines()
    {
        std::lock_guard lock(mutex_);
        return lines_;
    }

private:
    std::mutex mutex_;
    std::condition_variable released_;
    bool open_ = false;
    std::vector<std::string> lines_;
};

TEST(SimulatorLogQueue, AStalledSinkNeverHoldsWritersAndTheDropIsReported)
{
    HeldSink sink;
    SimulatorLog log([&sink](std::string_view line) { sink(line); });
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kLines; ++i) {
        log.write("tcp 127.0.0.1:1", "record " + std::to_string(i));
    }
    // Writers only queue or count: far less than the time a blocked write would take.
    EXPECT_LT(std::chrono::steady_clock::now() - start, kDeadline);
    const std::uint64_t dropped = log.dropped();
    // The queue, and the batch the sink holds.
    EXPECT_GE(dropped, static_cast<std::uint64_t>(kLines) - 2 * SimulatorLog::kQueueLines);

    sink.release();
    ASSERT_TRUE(log.flush(kDeadline));
    const std::vector<std::string> lines = sink.lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines.front().find("tcp 127.0.0.1:1 record 0"), std::string::npos);
    EXPECT_NE(lines.back().find(" dropped: the output did not keep up"), std::string::npos);
    // Every line either reached the sink or is counted in a report.
    std::uint64_t records = 0;
    std::uint64_t reported = 0;
    for (const std::string& line : lines) {
        if (line.find(" record ") != std::string::npos) {
            ++records;
        } else {
            std::string count = line.substr(line.find(' ') + 1);
            count = count.substr(0, count.find(' '));
            std::erase(count, ',');
            reported += std::stoull(count);
        }
    }
    EXPECT_EQ(records + dropped, static_cast<std::uint64_t>(kLines));
    EXPECT_EQ(reported, dropped);
}

TEST(SimulatorLogQueue, CloseGivesUpOnAStalledSinkThroughItsInterrupt)
{
    HeldSink sink;
    SimulatorLog log([&sink](std::string_view line) { sink(line); });
    log.write({}, "waits for ever");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(log.close(100ms, [&sink] { sink.release(); }));
    EXPECT_LT(std::chrono::steady_clock::now() - start, kDeadline);
    log.write({}, "after the close");
    EXPECT_EQ(log.dropped(), 1u);
}

TEST(SimulatorLogText, CountsAreGroupedByThousands)
{
    EXPECT_EQ(SimulatorLog::groupedCount(0), "0");
    EXPECT_EQ(SimulatorLog::groupedCount(999), "999");
    EXPECT_EQ(SimulatorLog::groupedCount(1000), "1,000");
    EXPECT_EQ(SimulatorLog::groupedCount(12345), "12,345");
    EXPECT_EQ(SimulatorLog::groupedCount(1234567), "1,234,567");
}

// A pipe that nobody reads: once it is full a line waits, and abandon() ends
// the wait from another thread.
TEST(LineOutputPipe, AWriteIntoAFullPipeEndsOnAbandon)
{
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    {
        LineOutput output(ends[1]);
        auto writing = std::async(std::launch::async, [&output] {
            const std::string line(1000, 'x');
            // Far more than any pipe buffer holds.
            for (int i = 0; i < 100000; ++i) {
                if (!output.writeLine(line)) {
                    return i;
                }
            }
            return -1;
        });
        EXPECT_EQ(writing.wait_for(200ms), std::future_status::timeout) << "the pipe never filled";
        output.abandon();
        ASSERT_EQ(writing.wait_for(kDeadline), std::future_status::ready);
        EXPECT_GT(writing.get(), 0);
        EXPECT_FALSE(output.writeLine("later"));
    }
    ::close(ends[0]);
    ::close(ends[1]);
}

} // namespace

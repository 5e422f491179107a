#include "app/commands/repeatschedule.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

using app::RepeatSchedule;
using std::chrono::milliseconds;

namespace
{

struct ScheduleCase {
    const char* name;
    int intervalMs;
    std::uint64_t count;
    // due() at each time since the start, and what it must give.
    std::vector<std::pair<int, std::uint64_t>> calls;
};

const ScheduleCase kCases[] = {
    {"on time", 1, 0, {{0, 1}, {1, 1}, {2, 1}, {2, 0}, {3, 1}}},
    {"a late tick makes up", 1, 0, {{0, 1}, {10, 10}, {11, 1}}},
    {"no tick for 200 ms", 1, 0, {{0, 1}, {200, 50}, {200, 50}, {200, 50}, {200, 50}, {201, 1}}},
    {"the count ends it", 1, 5, {{0, 1}, {100, 4}, {200, 0}}},
    {"over a second behind", 10, 0, {{0, 1}, {5000, 50}, {5000, 50}, {5000, 0}, {5010, 1}}},
    {"a long interval", 1000, 0, {{0, 1}, {999, 0}, {1000, 1}, {60000, 1}, {61000, 1}}},
};

} // namespace

TEST(RepeatSchedule, SendsWhatIsDueByTheTimeSinceTheStart)
{
    for (const ScheduleCase& c : kCases) {
        SCOPED_TRACE(c.name);
        RepeatSchedule schedule(milliseconds(c.intervalMs), c.count);
        std::uint64_t made = 0;
        for (const auto& [at, expected] : c.calls) {
            EXPECT_EQ(schedule.due(check::Instant(milliseconds(at))), expected)
                << "at " << at << " ms";
            made += expected;
        }
        EXPECT_EQ(schedule.made(), made);
        EXPECT_EQ(schedule.finished(), c.count != 0 && made == c.count);
    }
}

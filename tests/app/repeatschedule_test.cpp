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
    std::uint64_t made;
};

const ScheduleCase kCases[] = {
    {"on time, one at each tick", 1, 0, {{0, 1}, {1, 1}, {2, 1}, {2, 0}, {3, 1}}, 4},
    {"a late tick makes up what is due", 1, 0, {{0, 1}, {10, 10}, {11, 1}}, 12},
    {"no tick for 200 ms: made up a call's bound at a time",
     1,
     0,
     {{0, 1}, {200, 50}, {200, 50}, {200, 50}, {200, 50}, {200, 0}, {201, 1}},
     202},
    {"the count ends it, also when behind", 1, 5, {{0, 1}, {100, 4}, {200, 0}}, 5},
    {"more than a second behind: a second's worth is made up, then on from there",
     10,
     0,
     {{0, 1}, {5000, 50}, {5000, 50}, {5000, 0}, {5010, 1}},
     102},
    {"a long interval: nothing before its time",
     1000,
     0,
     {{0, 1}, {999, 0}, {1000, 1}, {1999, 0}},
     2},
    {"a long interval far behind: only the send due now",
     1000,
     0,
     {{0, 1}, {60000, 1}, {60000, 0}, {61000, 1}},
     3},
};

} // namespace

TEST(RepeatSchedule, SendsWhatIsDueByTheTimeSinceTheStart)
{
    for (const ScheduleCase& c : kCases) {
        SCOPED_TRACE(c.name);
        RepeatSchedule schedule(milliseconds(c.intervalMs), c.count);
        for (const auto& [at, expected] : c.calls)
            EXPECT_EQ(schedule.due(milliseconds(at)), expected) << "at " << at << " ms";
        EXPECT_EQ(schedule.made(), c.made);
        EXPECT_EQ(schedule.finished(), c.count != 0 && c.made == c.count);
    }
}

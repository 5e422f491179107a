#include "deviceevents.h"
#include "redialschedule.h"

#include "protocol/framedecoder.h"

#include <gtest/gtest.h>

#include <set>

namespace
{

using devicetools::DeviceEvents;
using devicetools::RedialSchedule;
using Millis = std::chrono::milliseconds;

// The nominal wait of each failure in a row and what the jitter may make of it.
struct WaitRow {
    Millis longest;
    Millis shortest;
};
constexpr WaitRow kWaits[] = {{Millis(1000), Millis(800)},    {Millis(2000), Millis(1600)},
                              {Millis(4000), Millis(3200)},   {Millis(8000), Millis(6400)},
                              {Millis(16000), Millis(12800)}, {Millis(30000), Millis(24000)},
                              {Millis(30000), Millis(24000)}};

TEST(RedialSchedule, DoublesFromOneSecondToThirtyWithJitterAndRestartsWhenConnected)
{
    for (std::uint32_t seed = 1; seed <= 50; ++seed) {
        RedialSchedule schedule(seed);
        RedialSchedule::Clock::time_point now{};
        for (const WaitRow& row : kWaits) {
            const auto at = schedule.next(now);
            EXPECT_EQ(at - now, schedule.lastWait());
            EXPECT_LE(schedule.lastWait(), row.longest) << "seed " << seed;
            EXPECT_GE(schedule.lastWait(), row.shortest) << "seed " << seed;
            now = at;
        }
        schedule.connected();
        schedule.next(now);
        EXPECT_LE(schedule.lastWait(), Millis(1000));
        EXPECT_GE(schedule.lastWait(), Millis(800));
    }
}

TEST(RedialSchedule, SameSeedSameWaitsOtherSeedsSpread)
{
    std::set<Millis::rep> firstWaits;
    for (std::uint32_t seed = 1; seed <= 20; ++seed) {
        RedialSchedule a(seed);
        RedialSchedule b(seed);
        for (int i = 0; i < 8; ++i) {
            a.next({});
            b.next({});
            EXPECT_EQ(a.lastWait(), b.lastWait());
        }
        RedialSchedule c(seed);
        c.next({});
        firstWaits.insert(c.lastWait().count());
    }
    // Devices that lost their host together do not all dial again together.
    EXPECT_GE(firstWaits.size(), 10u);
}

TEST(DeviceEvents, IdsAreDistinctUpToTheirCountThenRepeat)
{
    std::set<std::string> ids;
    for (std::uint32_t number = 1; number < DeviceEvents::kDistinctIds; ++number) {
        const std::string id = DeviceEvents::deviceId(number);
        ASSERT_EQ(id.size(), protocol::kDeviceIdWidth);
        ids.insert(id);
    }
    EXPECT_EQ(ids.size(), DeviceEvents::kDistinctIds - 1);
    EXPECT_EQ(DeviceEvents::deviceId(1), "01");
    EXPECT_EQ(DeviceEvents::deviceId(3843), "zz");
    EXPECT_EQ(DeviceEvents::deviceId(3844), "00");
    EXPECT_EQ(DeviceEvents::deviceId(3845), "01");
}

TEST(DeviceEvents, EventFrameDecodesInEitherMode)
{
    for (const auto mode : {protocol::DelimiterMode::Demo, protocol::DelimiterMode::Release}) {
        const std::string card = DeviceEvents::cardNumber(9999, 123456);
        EXPECT_EQ(card, "0999923456");
        const std::string block = DeviceEvents::eventBlock("Ab", card, mode);
        ASSERT_GE(block.size(), protocol::kLineEndBytes);
        ASSERT_EQ(block.substr(block.size() - 3), protocol::kLineEnd);
        const auto frame =
            protocol::FrameDecoder::decode(std::string_view(block).substr(0, block.size() - 3));
        ASSERT_TRUE(frame.has_value());
        EXPECT_EQ(frame->mode, mode);
        EXPECT_EQ(frame->fields, (protocol::FrameFields{"C", "Ab", card, "EVT", "card presented"}));
    }
}

} // namespace

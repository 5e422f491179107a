#include "protocol/delimiterset.h"

#include <gtest/gtest.h>

#include <string>

using protocol::DelimiterMode;
using protocol::DelimiterSet;

namespace
{

struct ModeRow {
    const char* name;
    std::string_view text;
    std::int32_t flag;
};

void PrintTo(const ModeRow& row, std::ostream* os)
{
    *os << row.name;
}

class SwitchMode : public testing::TestWithParam<ModeRow>
{
};

TEST_P(SwitchMode, SelectsReleaseOnlyForTheExactWord)
{
    const ModeRow& row = GetParam();
    DelimiterSet set;
    for (int call = 1; call <= 2; ++call) {
        EXPECT_EQ(set.switchDelimiterMode(row.text), row.flag);
        EXPECT_EQ(set.modeFlag(), row.flag);
    }
    EXPECT_EQ(set.mode(), row.flag != 0 ? DelimiterMode::Release : DelimiterMode::Demo);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SwitchMode,
    testing::Values(ModeRow{"Release", "RELEASE", 1}, ModeRow{"Demo", "DEMO", 0},
                    ModeRow{"LowerCase", "release", 0}, ModeRow{"TrailingBlank", "RELEASE ", 0},
                    ModeRow{"LeadingBlank", " RELEASE", 0}, ModeRow{"Empty", "", 0},
                    ModeRow{"BeginsWithRelease", "RELEASEX", 0},
                    ModeRow{"EmbeddedNul", std::string_view("RELEASE\0", 8), 0}),
    [](const testing::TestParamInfo<ModeRow>& info) { return std::string(info.param.name); });

TEST(DelimiterSet, FlagOfFiveMeansReleaseAndTheNextSwitchGivesZeroOrOne)
{
    DelimiterSet set;
    EXPECT_EQ(set.mode(), DelimiterMode::Demo) << "a new set";
    set.setModeFlag(5);
    EXPECT_TRUE(set.isRelease());
    EXPECT_EQ(set.modeFlag(), 5);
    EXPECT_EQ(set.mode(), DelimiterMode::Release);

    EXPECT_EQ(set.switchDelimiterMode("RELEASE"), 1);
    EXPECT_EQ(set.switchDelimiterMode("DEMO"), 0);
}

} // namespace

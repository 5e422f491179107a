#include "protocol/delimiterset.h"
#include "protocol/memorysettingsstore.h"

#include <gtest/gtest.h>

#include <string>

using protocol::DelimiterMode;
using protocol::DelimiterSet;
using protocol::MemorySettingsStore;

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

TEST_P(SwitchMode, SelectsReleaseOnlyForTheExactWordAndStoresEveryCall)
{
    const ModeRow& row = GetParam();
    DelimiterSet set;
    MemorySettingsStore settings;
    for (int call = 1; call <= 2; ++call) {
        set.switchDelimiterMode(row.text, settings);
        EXPECT_EQ(set.modeFlag(), row.flag);
        EXPECT_EQ(settings.readInt("Params", "bRelease", -1), row.flag);
        EXPECT_EQ(settings.writeCount(), call) << "stored again even when unchanged";
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

TEST(DelimiterSet, StoredFlagOfFiveMeansReleaseAndTheNextSwitchStoresZeroOrOne)
{
    DelimiterSet set;
    MemorySettingsStore settings;
    settings.writeInt("Params", "bRelease", 5);
    EXPECT_EQ(set.mode(), DelimiterMode::Demo) << "a new set";
    set.setModeFlag(settings.readInt("Params", "bRelease", 0));
    EXPECT_TRUE(set.isRelease());
    EXPECT_EQ(set.modeFlag(), 5);
    EXPECT_EQ(set.mode(), DelimiterMode::Release);

    set.switchDelimiterMode("RELEASE", settings);
    EXPECT_EQ(settings.readInt("Params", "bRelease", -1), 1);
    set.switchDelimiterMode("DEMO", settings);
    EXPECT_EQ(settings.readInt("Params", "bRelease", -1), 0);
}

TEST(MemorySettingsStore, IntegersAndTextsShareOneValuePerKey)
{
    MemorySettingsStore settings;
    EXPECT_EQ(settings.readInt("Params", "bRelease", 7), 7);
    EXPECT_FALSE(settings.contains("Params", "bRelease"));
    settings.writeInt("Params", "bRelease", -3);
    EXPECT_EQ(settings.readText("Params", "bRelease", ""), "-3");
    EXPECT_EQ(settings.readInt("Params", "bRelease", 7), -3);
    settings.writeText("Params", "SocketPort", "2001x");
    EXPECT_EQ(settings.readInt("Params", "SocketPort", 9), 9) << "not wholly a number";
    EXPECT_EQ(settings.readText("Other", "SocketPort", "none"), "none") << "sections are apart";
    EXPECT_EQ(settings.writeCount(), 2);
}

} // namespace

#include "protocol/commandframe.h"
#include "protocol/delimiterset.h"
#include "protocol/framedefaults.h"

#include <gtest/gtest.h>

#include <charconv>
#include <string>

using protocol::DelimiterMode;
using protocol::FrameFields;

namespace
{

constexpr std::string_view kDemoDefaultFrame = "[BA139123439=ENT-Message / Description";

std::string modeName(DelimiterMode mode)
{
    return mode == DelimiterMode::Release ? "Release" : "Demo";
}

// What the console produced before frames became values: the texts cut to
// their widths and limits, composed in place in a delimiter set of that mode.
std::string composedInPlace(const FrameFields& f, DelimiterMode mode)
{
    protocol::DelimiterSet set;
    set.setModeFlag(mode == DelimiterMode::Release ? 1 : 0);
    set.applyDelimiterSet();
    const auto cut = [](const std::string& text, std::size_t n) {
        return std::string_view(text).substr(0, n);
    };
    set.composeCommandFrame(
        cut(f.media, protocol::kMediaWidth), cut(f.deviceId, protocol::kDeviceIdWidth),
        cut(f.data, protocol::kDataMaxLength), cut(f.command, protocol::kCommandWidth),
        cut(f.message, protocol::kMessageMaxLength));
    return std::string(set.frameText());
}

std::string displayedInPlace(const FrameFields& f)
{
    protocol::DelimiterSet set;
    set.setModeFlag(1);
    set.applyDelimiterSet();
    set.composeCommandFrame(f.media.substr(0, 1), f.deviceId.substr(0, 2), f.data.substr(0, 36),
                            f.command.substr(0, 3), f.message.substr(0, 120));
    set.frameDisplayForm();
    return std::string(set.frameText());
}

struct FrameRow {
    const char* name;
    FrameFields fields;
    std::string demoFrame;
};

void PrintTo(const FrameRow& row, std::ostream* os)
{
    *os << row.name;
}

const std::string k40(40, 'd');
const std::string k130(130, 'm');

class ComposeFrame : public testing::TestWithParam<FrameRow>
{
};

TEST_P(ComposeFrame, GivesTheDemoBytesAndTheSameBytesAsTheInPlaceComposition)
{
    const FrameRow& row = GetParam();
    EXPECT_EQ(protocol::composeFrame(row.fields, DelimiterMode::Demo), row.demoFrame);
    for (DelimiterMode mode : {DelimiterMode::Demo, DelimiterMode::Release}) {
        const std::string frame = protocol::composeFrame(row.fields, mode);
        EXPECT_EQ(frame, composedInPlace(row.fields, mode)) << modeName(mode);
        EXPECT_LE(frame.size(), protocol::kFrameMaxLength) << modeName(mode);
    }
    const std::string release = protocol::composeFrame(row.fields, DelimiterMode::Release);
    EXPECT_EQ(protocol::frameDisplayText(release), displayedInPlace(row.fields));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ComposeFrame,
    testing::Values(
        FrameRow{"ConsoleDefaults", protocol::defaultFrameFields(), std::string(kDemoDefaultFrame)},
        FrameRow{"ComboEntries", {"L - LEGIC", "01", "1", "IGN  -  Ignore", "m"}, "[L011=IGN-m"},
        FrameRow{"EmptyDataAndMessage", {"B", "A1", "", "ENT", ""}, "[BA1=ENT-"},
        FrameRow{"ShortCodedFieldsGoInWhole", {"", "A", "x", "EN", "y"}, "[Ax=EN-y"},
        FrameRow{"DataAndMessageCutAtTheirLimits",
                 {"B", "A1", k40, "ENT", k130},
                 "[BA1" + k40.substr(0, 36) + "=ENT-" + k130.substr(0, 120)},
        FrameRow{"ControlCodesInsideFieldsGoOutUnchanged",
                 {"B", "A1",
                  "12\x09"
                  "34\x07",
                  "ENT", "m\x07"},
                 "[BA112\x09"
                 "34\x07=ENT-m\x07"},
        FrameRow{"DelimiterCharactersInsideFields",
                 {"B", "A1", "[=-", "ENT", "a-b=c"},
                 "[BA1[=-=ENT-a-b=c"}),
    [](const testing::TestParamInfo<FrameRow>& info) { return std::string(info.param.name); });

TEST(CommandFrame, ReleaseDefaultsCarryControlCodesAndDisplayAsTheDemoFrame)
{
    const std::string frame =
        protocol::composeFrame(protocol::defaultFrameFields(), DelimiterMode::Release);
    EXPECT_EQ(frame, "\x07"
                     "BA139123439\x08"
                     "ENT\x09"
                     "Message / Description");
    EXPECT_EQ(protocol::frameDisplayText(frame), kDemoDefaultFrame);
}

TEST(CommandFrame, LongestFieldsGiveTheLongestFrame)
{
    const FrameFields fields{"MM", "ZZZ", std::string(36, 'd'), "ENTX", std::string(120, 'm')};
    EXPECT_EQ(protocol::composeFrame(fields, DelimiterMode::Demo).size(),
              protocol::kFrameMaxLength);
    EXPECT_EQ(protocol::kFrameMaxLength, 165u);
}

struct DisplayRow {
    const char* name;
    std::string frame, shown;
};

void PrintTo(const DisplayRow& row, std::ostream* os)
{
    *os << row.name;
}

class FrameDisplayText : public testing::TestWithParam<DisplayRow>
{
};

TEST_P(FrameDisplayText, RewritesUpToTheFirstCode9)
{
    EXPECT_EQ(protocol::frameDisplayText(GetParam().frame), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FrameDisplayText,
    testing::Values(DisplayRow{"TabInDataTakenAsTheDash",
                               "\x07"
                               "BA112\x09"
                               "34\x07\x08"
                               "ENT\x09"
                               "m\x07",
                               "[BA112-34\x07\x08"
                               "ENT\x09"
                               "m\x07"},
                    DisplayRow{"NoCode9ReplacesEveryStartAndEqual",
                               "\x07"
                               "BA1\x07\x08\x08"
                               "ENT",
                               "[BA1[==ENT"},
                    DisplayRow{"WalkEndsAtANul",
                               std::string("\x07"
                                           "A\0\x08",
                                           4),
                               std::string("[A\0\x08", 4)},
                    DisplayRow{"DemoFrameUnchanged", std::string(kDemoDefaultFrame),
                               std::string(kDemoDefaultFrame)},
                    DisplayRow{"Empty", "", ""}),
    [](const testing::TestParamInfo<DisplayRow>& info) { return std::string(info.param.name); });

struct BlockRow {
    const char* name;
    std::size_t textLength;
    std::size_t blockLength;
};

void PrintTo(const BlockRow& row, std::ostream* os)
{
    *os << row.name;
}

class WireBlock : public testing::TestWithParam<BlockRow>
{
};

TEST_P(WireBlock, EndsWithCrLfNulAndNeverExceedsTheSendBlock)
{
    const BlockRow& row = GetParam();
    std::string text(row.textLength, 'x');
    if (!text.empty())
        text.back() = 'y';
    const std::string block = protocol::wireBlock(text);
    ASSERT_EQ(block.size(), row.blockLength);
    EXPECT_LE(block.size(), protocol::kSendBlockSize);
    EXPECT_EQ(block.substr(block.size() - 3), std::string("\r\n\0", 3));
    EXPECT_EQ(block.substr(0, block.size() - 3), text.substr(0, protocol::kFreeTextMaxLength));
}

INSTANTIATE_TEST_SUITE_P(Rows, WireBlock,
                         testing::Values(BlockRow{"Empty", 0, 3}, BlockRow{"OneCharacter", 1, 4},
                                         BlockRow{"LongestText", 2045, 2048},
                                         BlockRow{"OneOverIsCut", 2046, 2048},
                                         BlockRow{"FarOverIsCut", 5000, 2048}),
                         [](const testing::TestParamInfo<BlockRow>& info) {
                             return std::string(info.param.name);
                         });

TEST(CommandFrame, DefaultsAgreeWithEachOther)
{
    std::uint16_t port = 0;
    const std::string_view text = protocol::kDefaultPortText;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
    EXPECT_EQ(error, std::errc{});
    EXPECT_EQ(end, text.data() + text.size());
    EXPECT_EQ(port, protocol::kDefaultPort);
    EXPECT_EQ(protocol::wireBlock(
                  protocol::composeFrame(protocol::defaultFrameFields(), DelimiterMode::Demo)),
              std::string(kDemoDefaultFrame) + std::string("\r\n\0", 3));
}

} // namespace

#include "protocol/commandframe.h"
#include "protocol/framedefaults.h"

#include <gtest/gtest.h>

#include <charconv>
#include <string>

using protocol::DelimiterMode;
using protocol::FrameFields;

namespace
{

constexpr std::string_view kDemoDefaultFrame = "[BA139123439=ENT-Message / Description";

// Every row gives the bytes of both modes and the printable form of the
// Release frame, written out byte by byte.
struct FrameRow {
    const char* name;
    FrameFields fields;
    std::string demo, release, releaseShown;
};

void PrintTo(const FrameRow& row, std::ostream* os)
{
    *os << row.name;
}

const std::string k36(36, 'd');
const std::string k40(40, 'd');
const std::string k120(120, 'm');
const std::string k130(130, 'm');
const std::string k2000(2000, 'x');

class ComposeFrame : public testing::TestWithParam<FrameRow>
{
};

TEST_P(ComposeFrame, GivesTheBytesOfEachModeAndThePrintableReleaseFrame)
{
    const FrameRow& row = GetParam();
    const std::string demo = protocol::composeFrame(row.fields, DelimiterMode::Demo);
    const std::string release = protocol::composeFrame(row.fields, DelimiterMode::Release);
    EXPECT_EQ(demo, row.demo);
    EXPECT_EQ(release, row.release);
    EXPECT_EQ(protocol::frameDisplayText(release), row.releaseShown);
    EXPECT_LE(release.size(), protocol::kFrameMaxLength);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ComposeFrame,
    testing::Values(
        FrameRow{"ConsoleDefaults", protocol::defaultFrameFields(), std::string(kDemoDefaultFrame),
                 "\x07"
                 "BA139123439\x08"
                 "ENT\x09"
                 "Message / Description",
                 std::string(kDemoDefaultFrame)},
        FrameRow{"WholeComboTextsOfTheDefaults",
                 {"B - BARCODE", "A1", "39123439", "ENT -  Entrence", "Message / Description"},
                 std::string(kDemoDefaultFrame),
                 "\x07"
                 "BA139123439\x08"
                 "ENT\x09"
                 "Message / Description",
                 std::string(kDemoDefaultFrame)},
        FrameRow{"IgnoreComboEntries",
                 {"L - LEGIC", "01", "1", "IGN  -  Ignore", "m"},
                 "[L011=IGN-m",
                 "\x07"
                 "L011\x08"
                 "IGN\x09"
                 "m",
                 "[L011=IGN-m"},
        FrameRow{"TypedFiveLetterCommand",
                 {"M", "ZZ", "", "ABCDE", ""},
                 "[MZZ=ABC-",
                 "\x07"
                 "MZZ\x08"
                 "ABC\x09",
                 "[MZZ=ABC-"},
        FrameRow{"TypedThreeCharacterDeviceId",
                 {"B - BARCODE", "A12", "7", "END", "x"},
                 "[BA17=END-x",
                 "\x07"
                 "BA17\x08"
                 "END\x09"
                 "x",
                 "[BA17=END-x"},
        FrameRow{"EmptyDataAndMessageGiveNineBytes",
                 {"B", "A1", "", "ENT", ""},
                 "[BA1=ENT-",
                 "\x07"
                 "BA1\x08"
                 "ENT\x09",
                 "[BA1=ENT-"},
        FrameRow{"ShortCodedFieldsGoInWhole",
                 {"", "A", "x", "EN", "y"},
                 "[Ax=EN-y",
                 "\x07"
                 "Ax\x08"
                 "EN\x09"
                 "y",
                 "[Ax=EN-y"},
        FrameRow{"LongestFieldsGive165Bytes",
                 {"MM", "ZZZ", k36, "ENTX", k120},
                 "[MZZ" + k36 + "=ENT-" + k120,
                 "\x07MZZ" + k36 + "\x08" + "ENT\x09" + k120,
                 "[MZZ" + k36 + "=ENT-" + k120},
        FrameRow{"DataAndMessageCutAtTheirLimits",
                 {"B", "A1", k40, "ENT", k130},
                 "[BA1" + k36 + "=ENT-" + k120,
                 "\x07"
                 "BA1" +
                     k36 + "\x08" + "ENT\x09" + k120,
                 "[BA1" + k36 + "=ENT-" + k120},
        FrameRow{"OversizedTextsCutAtTheirLimits",
                 {k2000, k2000, k2000, k2000, k2000},
                 "[xxx" + k2000.substr(0, 36) + "=xxx-" + k2000.substr(0, 120),
                 "\x07xxx" + k2000.substr(0, 36) + "\x08xxx\x09" + k2000.substr(0, 120),
                 "[xxx" + k2000.substr(0, 36) + "=xxx-" + k2000.substr(0, 120)},
        FrameRow{"ControlCodesInDataTheTabTakenAsTheDash",
                 {"B", "A1",
                  "12\x09"
                  "34\x07",
                  "ENT", "m\x07"},
                 "[BA112\x09"
                 "34\x07=ENT-m\x07",
                 "\x07"
                 "BA112\x09"
                 "34\x07\x08"
                 "ENT\x09"
                 "m\x07",
                 "[BA112-34\x07\x08"
                 "ENT\x09"
                 "m\x07"},
        FrameRow{"StartAndEqualCodesInDataWithoutCode9",
                 {"B", "A1", "\x07\x08", "ENT", ""},
                 "[BA1\x07\x08=ENT-",
                 "\x07"
                 "BA1\x07\x08\x08"
                 "ENT\x09",
                 "[BA1[==ENT-"},
        FrameRow{"DelimiterCharactersInsideFieldsGoOutUnchanged",
                 {"B", "A1", "[=-", "ENT", "a-b=c"},
                 "[BA1[=-=ENT-a-b=c",
                 "\x07"
                 "BA1[=-\x08"
                 "ENT\x09"
                 "a-b=c",
                 "[BA1[=-=ENT-a-b=c"}),
    [](const testing::TestParamInfo<FrameRow>& info) { return std::string(info.param.name); });

TEST(CommandFrame, LongestFrameIs165Bytes)
{
    EXPECT_EQ(protocol::kFrameMaxLength, 165u);
    EXPECT_EQ(kDemoDefaultFrame.size(), 38u);
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

struct ValidateRow {
    const char* name;
    std::string_view media, deviceId, command;
    std::string_view message;
};

void PrintTo(const ValidateRow& row, std::ostream* os)
{
    *os << row.name;
}

class ValidateFields : public testing::TestWithParam<ValidateRow>
{
};

TEST_P(ValidateFields, NamesTheFirstMissingFieldInCommandMediaDeviceOrder)
{
    const ValidateRow& row = GetParam();
    EXPECT_EQ(protocol::validateFrameFields(row.media, row.deviceId, row.command).text(),
              row.message);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ValidateFields,
    testing::Values(
        ValidateRow{"AllPresent", "B - BARCODE", "A1", "ENT -  Entrence", ""},
        ValidateRow{"ShortestAccepted", "B", "A1", "ENT", ""},
        ValidateRow{"CommandOfTwoWithEverythingEmpty", "", "", "EN",
                    "Error Command, have to be added !"},
        ValidateRow{"EmptyCommand", "B", "A1", "", "Error Command, have to be added !"},
        ValidateRow{"MediaEmpty", "", "", "ENT", "Error Media, have to be added !"},
        ValidateRow{"DeviceIdOfOne", "B", "A", "ENT", "Error Device Id, have to be added !"},
        ValidateRow{"DeviceIdEmpty", "B", "", "ENT", "Error Device Id, have to be added !"}),
    [](const testing::TestParamInfo<ValidateRow>& info) { return std::string(info.param.name); });

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

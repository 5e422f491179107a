#include "protocol/delimiterset.h"
#include "protocol/memorysettingsstore.h"

#include <gtest/gtest.h>

#include <string>

using protocol::DelimiterSet;
using protocol::MemorySettingsStore;

namespace
{

// The console's fields as they stand after it opens.
constexpr std::string_view kMedia = "B - BARCODE";
constexpr std::string_view kDeviceId = "A1";
constexpr std::string_view kData = "39123439";
constexpr std::string_view kCommand = "ENT -  Entrence";
constexpr std::string_view kMessage = "Message / Description";
constexpr std::string_view kDemoFrame = "[BA139123439=ENT-Message / Description";

std::string withMode(DelimiterSet& set, bool release)
{
    MemorySettingsStore settings;
    set.switchDelimiterMode(release ? "RELEASE" : "DEMO", settings);
    set.composeCommandFrame(kMedia, kDeviceId, kData, kCommand, kMessage);
    return std::string(set.frameText());
}

TEST(DelimiterSet, DemoFrameOfTheConsoleDefaultsIs38Characters)
{
    DelimiterSet set;
    const std::string frame = withMode(set, false);
    EXPECT_EQ(frame, kDemoFrame);
    EXPECT_EQ(frame.size(), 38u);
}

TEST(DelimiterSet, ReleaseFrameCarriesControlCodesAndDisplaysAsTheDemoFrame)
{
    DelimiterSet set;
    const std::string frame = withMode(set, true);
    EXPECT_EQ(frame, "\x07"
                     "BA139123439\x08"
                     "ENT\x09"
                     "Message / Description");
    set.frameDisplayForm();
    EXPECT_EQ(set.frameText(), kDemoFrame);
}

struct FieldRow {
    const char* name;
    std::string_view media, deviceId, data, command, message;
    std::string_view frame;
};

void PrintTo(const FieldRow& row, std::ostream* os)
{
    *os << row.name;
}

class ComposeFields : public testing::TestWithParam<FieldRow>
{
};

TEST_P(ComposeFields, UsesOnlyTheLeadingCharactersOfTheCodedFields)
{
    const FieldRow& row = GetParam();
    DelimiterSet set;
    set.applyDelimiterSet();
    set.composeCommandFrame(row.media, row.deviceId, row.data, row.command, row.message);
    EXPECT_EQ(set.frameText(), row.frame);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ComposeFields,
    testing::Values(
        FieldRow{"IgnoreItem", "L - LEGIC", "01", "1", "IGN  -  Ignore", "m", "[L011=IGN-m"},
        FieldRow{"TypedFiveLetterCommand", "M", "ZZ", "", "ABCDE", "", "[MZZ=ABC-"},
        FieldRow{"TypedThreeCharacterDeviceId", "B - BARCODE", "A12", "7", "END", "x",
                 "[BA17=END-x"},
        FieldRow{"EmptyDataAndMessageGiveNineCharacters", "B", "A1", "", "ENT", "", "[BA1=ENT-"},
        FieldRow{"DelimitersInsideFieldsGoOutUnchanged", "B", "A1", "[=-", "ENT", "a-b=c",
                 "[BA1[=-=ENT-a-b=c"}),
    [](const testing::TestParamInfo<FieldRow>& info) { return std::string(info.param.name); });

TEST(DelimiterSet, LongestFieldsGiveA165CharacterFrame)
{
    DelimiterSet set;
    set.applyDelimiterSet();
    const std::string data(DelimiterSet::kDataMaxLength, 'd');
    const std::string message(DelimiterSet::kMessageMaxLength, 'm');
    set.composeCommandFrame("B", "A1", data, "ENT", message);
    EXPECT_EQ(set.frameText(), "[BA1" + data + "=ENT-" + message);
    EXPECT_EQ(set.frameText().size(), 165u);
}

TEST(DelimiterSet, ComposeIsBoundedByTheFrameBufferForOversizedTexts)
{
    DelimiterSet set;
    set.applyDelimiterSet();
    const std::string huge(2000, 'd');
    set.composeCommandFrame("B", "A1", huge, "ENT", huge);
    EXPECT_EQ(set.frameText().size(), DelimiterSet::kFrameTextSize - 1);
    EXPECT_EQ(set.frameText().substr(0, 4), "[BA1");

    // A shorter frame afterwards leaves nothing of the long one behind.
    set.composeCommandFrame("B", "A1", "", "ENT", "");
    EXPECT_EQ(set.frameText(), "[BA1=ENT-");
}

TEST(DelimiterSet, DisplayFormWalkEndsAtTheFirstCode9)
{
    DelimiterSet set;
    MemorySettingsStore settings;
    set.switchDelimiterMode("RELEASE", settings);
    set.composeCommandFrame("B", "A1",
                            "12\x09"
                            "34\x07",
                            "ENT", "m\x07");
    set.frameDisplayForm();
    // The tab in the data is taken as the dash; the real equal and dash after
    // it stay control codes.
    EXPECT_EQ(set.frameText(), "[BA112-34\x07\x08"
                               "ENT\x09"
                               "m\x07");
}

TEST(DelimiterSet, DisplayFormWithoutCode9ReplacesEveryStartAndEqual)
{
    DelimiterSet set;
    MemorySettingsStore settings;
    set.switchDelimiterMode("RELEASE", settings);
    set.composeCommandFrame("B", "A1", "\x07\x08", "ENT", "");
    set.frameDisplayForm();
    EXPECT_EQ(set.frameText(), "[BA1[==ENT-");
}

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
    const std::string_view expected = row.flag != 0 ? "\x07\x08\x09" : "[=-";
    EXPECT_EQ(std::string(set.activeStart()) + std::string(set.activeEqual()) +
                  std::string(set.activeDash()),
              expected);
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
    set.resetDelimiters();
    set.setModeFlag(settings.readInt("Params", "bRelease", 0));
    set.applyDelimiterSet();
    EXPECT_TRUE(set.isRelease());
    EXPECT_EQ(set.modeFlag(), 5);
    EXPECT_EQ(set.activeStart(), "\x07");

    set.switchDelimiterMode("RELEASE", settings);
    EXPECT_EQ(settings.readInt("Params", "bRelease", -1), 1);
    set.switchDelimiterMode("DEMO", settings);
    EXPECT_EQ(settings.readInt("Params", "bRelease", -1), 0);
}

TEST(DelimiterSet, ResetClearsModeDelimitersAndFrameButKeepsTheCodes)
{
    DelimiterSet set;
    MemorySettingsStore settings;
    set.switchDelimiterMode("RELEASE", settings);
    set.composeCommandFrame(kMedia, kDeviceId, kData, kCommand, kMessage);
    set.resetDelimiters();
    EXPECT_EQ(set.modeFlag(), 0);
    EXPECT_TRUE(set.activeStart().empty());
    EXPECT_TRUE(set.activeEqual().empty());
    EXPECT_TRUE(set.activeDash().empty());
    EXPECT_TRUE(set.frameText().empty());
    EXPECT_EQ(set.startCode(), 7);
    EXPECT_EQ(set.equalCode(), 8);
    EXPECT_EQ(set.dashCode(), 9);
    EXPECT_EQ(set.startDisplay(), '[');
    EXPECT_EQ(set.equalDisplay(), '=');
    EXPECT_EQ(set.dashDisplay(), '-');
}

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
    EXPECT_EQ(protocol::validateFrameFields(row.media, row.deviceId, row.command), row.message);
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

#include "protocol/framecheck.h"
#include "referenceframecheck.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

using protocol::DelimiterSet;
using protocol::FrameCheck;

namespace
{

using namespace std::string_literals;

const std::string kError = "Error received data !\r\n";

struct CheckRow {
    const char* name;
    bool release;
    std::string block;
    // What the block shows afterwards: the rewritten block, or the error text.
    std::string shown;
    int start, equal, dash;
};

void PrintTo(const CheckRow& row, std::ostream* os)
{
    *os << row.name;
}

class FrameCheckRows : public testing::TestWithParam<CheckRow>
{
};

TEST_P(FrameCheckRows, ShowsTheBlockOrTheErrorText)
{
    const CheckRow& row = GetParam();
    DelimiterSet set;
    set.setModeFlag(row.release ? 1 : 0);
    FrameCheck check(set);

    // Exactly the channel's read area, so a write past it is an ASan finding.
    std::vector<std::uint8_t> area(2048, 0xAA);
    std::memcpy(area.data(), row.block.data(), row.block.size());
    const std::uint32_t shown =
        check.check(area.data(), static_cast<std::uint32_t>(row.block.size()), 2048);

    EXPECT_EQ(std::string(reinterpret_cast<const char*>(area.data()), shown), row.shown);
    EXPECT_EQ(check.startFound(), row.start);
    EXPECT_EQ(check.equalFound(), row.equal);
    EXPECT_EQ(check.dashFound(), row.dash);
    if (row.dash == 0) {
        EXPECT_EQ(area[kError.size()], 0) << "the error text is followed by its zero";
        EXPECT_EQ(area[kError.size() + 1], row.block.size() > kError.size() + 1
                                               ? static_cast<std::uint8_t>(row.block[24])
                                               : 0xAA)
            << "nothing past the 24 bytes is written";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Demo, FrameCheckRows,
    testing::Values(
        CheckRow{"Frame", false, "[BA1=ENT-msg\r\n", "[BA1=ENT-msg\r\n", 1, 1, 1},
        CheckRow{"Adjacent", false, "[=-", "[=-", 1, 1, 1},
        CheckRow{"BytesAroundAndBetween", false, "xx[yy=zz-ww\x07\x08\x09",
                 "xx[yy=zz-ww\x07\x08\x09", 1, 1, 1},
        CheckRow{"OnlyDashBeforeEqual", false, "[a-b=c", kError, 1, 1, 0},
        CheckRow{"ReversedOrder", false, "-=[", kError, 1, 0, 0},
        CheckRow{"EqualBeforeStartDoesNotCount", false, "=a[b-c", kError, 1, 0, 0},
        CheckRow{"FirstEqualAfterStartCounts", false, "=-[=-", "=-[=-", 1, 1, 1},
        CheckRow{"NoStart", false, "a=b-c", kError, 0, 0, 0},
        CheckRow{"SingleByte", false, "[", kError, 1, 0, 0},
        CheckRow{"ControlCodesDoNotCountInDemo", false, "\x07\x08\x09", kError, 0, 0, 0},
        CheckRow{"DelimitersAfterNul", false, "ab\0[x=y-z"s, "ab\0[x=y-z"s, 1, 1, 1},
        CheckRow{"NulBetweenDelimiters", false, "[\0=\0-\0"s, "[\0=\0-\0"s, 1, 1, 1},
        CheckRow{"HighBytesUnchanged", false, "\xFF[\x80=\xC3\xA9-\xFE", "\xFF[\x80=\xC3\xA9-\xFE",
                 1, 1, 1},
        CheckRow{"LongFailingBlock", false, std::string(300, 'x') + "[=", kError, 1, 1, 0}),
    [](const testing::TestParamInfo<CheckRow>& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Release, FrameCheckRows,
    testing::Values(CheckRow{"Frame", true,
                             "\x07"
                             "BA1\x08"
                             "ENT\x09"
                             "msg\r\n",
                             "[BA1=ENT-msg\r\n", 1, 1, 1},
                    CheckRow{"PrintableDelimitersFail", true, "[BA1=ENT-msg", kError, 0, 0, 0},
                    CheckRow{"TwoFramesOnlyFirstReplaced", true,
                             "\x07"
                             "a\x08"
                             "b\x09"
                             "c\x07"
                             "d\x08"
                             "e\x09"
                             "f",
                             "[a=b-c\x07"
                             "d\x08"
                             "e\x09"
                             "f",
                             1, 1, 1},
                    CheckRow{"CodesBeforeStartStay", true,
                             "\x08\x09\x07"
                             "x\x08"
                             "y\x09",
                             "\x08\x09[x=y-", 1, 1, 1},
                    CheckRow{"DashBeforeEqual", true, "\x07\x09\x08", kError, 1, 1, 0},
                    CheckRow{"DelimitersAfterNul", true, "\0\x07\x08\x09"s, "\0[=-"s, 1, 1, 1}),
    [](const testing::TestParamInfo<CheckRow>& info) { return std::string(info.param.name); });

TEST(FrameCheck, AnyNonZeroModeFlagIsRelease)
{
    DelimiterSet set;
    set.setModeFlag(5);
    FrameCheck check(set);
    std::uint8_t block[] = {7, 'a', 8, 'b', 9};
    EXPECT_EQ(check.check(block, sizeof block, sizeof block), 5u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(block), 5), "[a=b-");
}

TEST(FrameCheck, ScanStateIsResetForEveryBlock)
{
    DelimiterSet set;
    FrameCheck check(set);
    std::uint8_t good[] = {'[', '=', '-', 'x'};
    EXPECT_EQ(check.check(good, sizeof good, sizeof good), 4u);
    EXPECT_EQ(check.scanPos(), 2u) << "the scan ends at the dash";

    std::uint8_t bad[32] = {'=', '-'};
    EXPECT_EQ(check.check(bad, 2, sizeof bad), 23u);
    EXPECT_EQ(check.startFound(), 0);
    EXPECT_EQ(check.equalFound(), 0);
    EXPECT_EQ(check.dashFound(), 0);
    EXPECT_EQ(check.scanPos(), 2u);
}

struct CapacityRow {
    const char* name;
    std::uint32_t length, capacity;
    std::uint32_t shown;
};

void PrintTo(const CapacityRow& row, std::ostream* os)
{
    *os << row.name;
}

class FrameCheckCapacity : public testing::TestWithParam<CapacityRow>
{
};

TEST_P(FrameCheckCapacity, ErrorTextNeverLeavesTheArea)
{
    const CapacityRow& row = GetParam();
    DelimiterSet set;
    FrameCheck check(set);
    // Heap storage of exactly `capacity` bytes, so ASan sees any overrun.
    std::vector<std::uint8_t> area(row.capacity, 'x');
    EXPECT_EQ(check.check(area.data(), row.length, row.capacity), row.shown);
    if (row.capacity > 0) {
        EXPECT_EQ(std::string(reinterpret_cast<char*>(area.data()), row.shown),
                  kError.substr(0, row.shown));
        EXPECT_EQ(area[row.shown], 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, FrameCheckCapacity,
                         testing::Values(CapacityRow{"OneByteInTheChannelArea", 1, 2048, 23},
                                         CapacityRow{"ExactFootprint", 24, 24, 23},
                                         CapacityRow{"SmallerThanTheText", 5, 10, 9},
                                         CapacityRow{"OneByteArea", 1, 1, 0},
                                         CapacityRow{"EmptyBlock", 0, 24, 23},
                                         CapacityRow{"LengthBeyondCapacityIsCut", 4096, 100, 23}),
                         [](const testing::TestParamInfo<CapacityRow>& info) {
                             return std::string(info.param.name);
                         });

TEST(FrameCheck, ZeroCapacityWritesNothing)
{
    DelimiterSet set;
    FrameCheck check(set);
    std::uint8_t byte = 'x';
    EXPECT_EQ(check.check(&byte, 1, 0), 0u);
    EXPECT_EQ(byte, 'x');
    EXPECT_EQ(check.check(nullptr, 10, 10), 0u);
}

// Random blocks with few, scattered delimiters, NUL bytes and the other mode's
// characters, of every length up to beyond two 128-byte strides: the check
// finds what the byte-by-byte scan finds and shows the same bytes.
TEST(FrameCheck, MatchesTheByteByByteScanOnRandomBlocks)
{
    std::mt19937 random(20240603);
    const std::uint8_t alphabet[] = {'[', '=', '-', 7, 8, 9, 0, 'a', 0xFF};
    for (int round = 0; round < 20000; ++round) {
        const bool release = round % 2 == 1;
        const std::uint32_t length = random() % 300;
        std::vector<std::uint8_t> block(2048, 'x');
        for (std::uint32_t i = 0; i < length; ++i) {
            // Mostly filler, so that the delimiters lie far apart.
            block[i] = random() % 16 == 0 ? alphabet[random() % sizeof alphabet] : 'x';
        }
        std::vector<std::uint8_t> expected = block;
        const ReferenceCheck want = referenceFrameCheck(expected.data(), length, release);

        DelimiterSet set;
        set.setModeFlag(release ? 1 : 0);
        FrameCheck check(set);
        const std::uint32_t shown = check.check(block.data(), length, 2048);
        ASSERT_EQ(shown, want.shown) << "round " << round;
        ASSERT_EQ(check.startFound(), want.startFound) << "round " << round;
        ASSERT_EQ(check.equalFound(), want.equalFound) << "round " << round;
        ASSERT_EQ(check.dashFound(), want.dashFound) << "round " << round;
        ASSERT_EQ(check.scanPos(), want.scanPos) << "round " << round;
        // What is shown, and the error text's zero, are the same.
        ASSERT_EQ(std::memcmp(block.data(), expected.data(), shown + (want.dashFound ? 0 : 1)), 0)
            << "round " << round;
    }
}

// The UI thread switches the mode (which also rewrites the display fields)
// while the watcher checks blocks: every block is examined wholly in one mode,
// and under ThreadSanitizer no field is shared without synchronisation.
TEST(FrameCheck, ModeSwitchWhileCheckingExaminesEachBlockInOneMode)
{
    DelimiterSet set;
    set.switchDelimiterMode("DEMO");
    std::atomic<bool> done{false};
    std::thread switcher([&] {
        for (int i = 0; i < 2000 && !done.load(); ++i) {
            set.switchDelimiterMode(i % 2 == 0 ? "RELEASE" : "DEMO");
        }
    });

    FrameCheck check(set);
    const std::string both = "\x07\x08\x09[=-";
    int release = 0, demo = 0;
    for (int i = 0; i < 20000; ++i) {
        std::string block = both;
        const std::uint32_t shown = check.check(reinterpret_cast<std::uint8_t*>(block.data()),
                                                static_cast<std::uint32_t>(block.size()), 6);
        ASSERT_EQ(shown, 6u);
        if (block == "[=-[=-") {
            ++release;
        } else {
            ASSERT_EQ(block, both);
            ++demo;
        }
    }
    done = true;
    switcher.join();
    EXPECT_EQ(release + demo, 20000);
}

} // namespace

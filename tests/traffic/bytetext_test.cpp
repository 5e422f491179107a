#include "traffic/bytetext.h"

#include "samplebytes.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

using namespace std::string_literals;

namespace
{

// A visible text and the bytes it stands for; no bytes for a text that
// visibleText() never writes (taking it would give two texts for the same
// bytes, or bytes for a text no file holds).
struct Shown {
    std::string text;
    std::optional<std::string> bytes;
};

class VisibleText : public testing::TestWithParam<Shown>
{
};

TEST_P(VisibleText, ShowsTheBytesAndGivesThemBack)
{
    const Shown& row = GetParam();
    EXPECT_EQ(traffic::bytesFromVisibleText(row.text), row.bytes);
    if (row.bytes) {
        EXPECT_EQ(traffic::visibleText(*row.bytes), row.text);
    }
}

INSTANTIATE_TEST_SUITE_P(
    ControlBytes, VisibleText,
    testing::Values(Shown{"", ""}, Shown{"[BA139=ENT-\\r\\n", "[BA139=ENT-\r\n"},
                    Shown{"A\\0B", "A\0B"s}, Shown{"\\x07\\x08\\x09", "\x07\x08\x09"},
                    Shown{"back\\\\slash", "back\\slash"}, Shown{"\\\\0", "\\0"},
                    Shown{"\\x1b\\x7f\\x80\\xff", "\x1b\x7f\x80\xff"},
                    Shown{"tab\\x09here", "tab\there"}, Shown{" ~", " ~"}));

INSTANTIATE_TEST_SUITE_P(Malformed, VisibleText,
                         testing::Values(Shown{"cut\\", {}}, Shown{"\\q", {}}, Shown{"\\x7", {}},
                                         Shown{"\\x", {}}, Shown{"\\xg0", {}}, Shown{"\\x0D", {}},
                                         Shown{"\\x41", {}}, Shown{"\\x0a", {}},
                                         Shown{"raw\ttab", {}}, Shown{"raw\nline", {}}));

TEST(VisibleTextOfEveryByte, ComesBackAndNoByteShowsAsAControlByte)
{
    const std::string bytes = everyByte();
    const std::string text = traffic::visibleText(bytes);
    for (const char c : text) {
        ASSERT_TRUE(c >= 0x20 && c <= 0x7E) << static_cast<int>(c);
    }
    EXPECT_EQ(traffic::bytesFromVisibleText(text), bytes);
}

// The terminal styles differ from visibleText() only where they say.
TEST(VisibleTextStyle, EscapesQuotesAndKeepsHighBytesOnlyWhereAsked)
{
    const std::string bytes = "say \"\xc3\xa9\"\r\n\x07\\";
    EXPECT_EQ(traffic::visibleText(bytes, {}), traffic::visibleText(bytes));
    EXPECT_EQ(traffic::visibleText(bytes, {.escapeQuote = true}),
              "say \\\"\\xc3\\xa9\\\"\\r\\n\\x07\\\\");
    EXPECT_EQ(traffic::visibleText(bytes, {.rawHighBytes = true}),
              "say \"\xc3\xa9\"\\r\\n\\x07\\\\");
}

// Runs of printable bytes are shown eight at a time: any one byte in any
// place of such a run is still shown as it is alone.
TEST(VisibleTextOfEveryByte, ShowsTheSameInsideALongRunAtEveryOffset)
{
    for (int value = 0; value < 256; ++value) {
        const std::string alone = traffic::visibleText(std::string(1, static_cast<char>(value)));
        for (std::size_t offset = 0; offset < 9; ++offset) {
            const std::string bytes =
                std::string(offset, 'a') + static_cast<char>(value) + std::string(17, 'b');
            ASSERT_EQ(traffic::visibleText(bytes),
                      std::string(offset, 'a') + alone + std::string(17, 'b'))
                << value << " at " << offset;
        }
    }
}

// Long blocks go in as runs of bytes shown as they are between escapes, or
// byte by byte when the escapes are many: whatever the mix, wherever the
// escapes fall and however long the block, each byte shows as it does alone.
class VisibleTextOfMixedBlocks : public testing::TestWithParam<std::size_t>
{
};

TEST_P(VisibleTextOfMixedBlocks, ShowEachByteAsItShowsAlone)
{
    const std::size_t escapeEvery = GetParam();
    std::uint32_t seed = 12345;
    for (std::size_t length : {31u, 32u, 33u, 47u, 48u, 100u, 2048u, 2053u}) {
        std::string bytes;
        std::string expected;
        for (std::size_t i = 0; i < length; ++i) {
            seed = seed * 1103515245u + 12345u;
            const char escaped = static_cast<char>("\r\n\0\\\x07\x7f\xff"[(seed >> 16) % 7]);
            const char shown = static_cast<char>(' ' + (seed >> 16) % 95);
            const bool escape =
                escapeEvery == 1 || (escapeEvery > 0 && (seed >> 8) % escapeEvery == 0);
            bytes += escape ? escaped : shown;
            expected += traffic::visibleText(std::string(1, bytes.back()));
        }
        ASSERT_EQ(traffic::visibleText(bytes), expected) << length;
        std::string appended = "kept";
        traffic::appendVisibleText(appended, bytes);
        ASSERT_EQ(appended, "kept" + expected) << length;
    }
}

// Escape one byte in so many on average: none, one in 40 (frames with a
// delimiter), a few or many a block, every byte.
INSTANTIATE_TEST_SUITE_P(EscapeDensity, VisibleTextOfMixedBlocks,
                         testing::Values(0u, 40u, 16u, 6u, 4u, 3u, 2u, 1u));

TEST(HexText, SpacedAndPlainFormsGiveTheSameBytes)
{
    EXPECT_EQ(traffic::hexText("\r\n\0["s), "0d 0a 00 5b");
    EXPECT_EQ(traffic::hexText("\r\n\0["s, false), "0d0a005b");
    EXPECT_EQ(traffic::hexText(""), "");
    const std::string bytes = everyByte();
    EXPECT_EQ(traffic::bytesFromHexText(traffic::hexText(bytes)), bytes);
    EXPECT_EQ(traffic::bytesFromHexText(traffic::hexText(bytes, false)), bytes);
    // Blocks of bytes and the bytes after them, from every start.
    for (std::size_t offset = 0; offset < 17; ++offset) {
        const std::string part = bytes.substr(offset);
        std::string plain;
        for (const char c : part) {
            plain += traffic::hexText(std::string(1, c));
        }
        EXPECT_EQ(traffic::hexText(part, false), plain) << offset;
    }
    for (const char* bad : {"0", "0g", " 00", "00-11", "000"}) {
        EXPECT_FALSE(traffic::bytesFromHexText(bad).has_value()) << bad;
    }
}

} // namespace

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

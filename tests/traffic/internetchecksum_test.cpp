#include "traffic/internetchecksum.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

using traffic::checksumOf;
using traffic::onesComplementSum;

namespace
{

// RFC 1071 word by word, with the end-around carry after every word.
std::uint16_t referenceSum(std::uint16_t total, std::string_view bytes)
{
    std::uint32_t sum = total;
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        const auto high = static_cast<std::uint8_t>(bytes[i]);
        const auto low = i + 1 < bytes.size() ? static_cast<std::uint8_t>(bytes[i + 1]) : 0u;
        sum += (std::uint32_t{high} << 8) | low;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return static_cast<std::uint16_t>(sum);
}

TEST(InternetChecksum, GivesTheKnownSums)
{
    // RFC 1071's example, and an IPv4 header whose checksum field is b861.
    EXPECT_EQ(onesComplementSum(0, std::string_view("\x00\x01\xf2\x03\xf4\xf5\xf6\xf7", 8)),
              0xddf2);
    const std::string_view header("\x45\x00\x00\x73\x00\x00\x40\x00\x40\x11\x00\x00"
                                  "\xc0\xa8\x00\x01\xc0\xa8\x00\xc7",
                                  20);
    EXPECT_EQ(checksumOf(onesComplementSum(0, header)), 0xb861);
    EXPECT_EQ(onesComplementSum(0, std::string(1000, '\0')), 0);
    EXPECT_EQ(onesComplementSum(0, std::string(1000, '\xff')), 0xffff);
}

TEST(InternetChecksum, AgreesWithWordByWordAtEveryLengthAndStart)
{
    std::mt19937 random(1071);
    std::string bytes(70000, '\0');
    for (char& byte : bytes) {
        byte = static_cast<char>(random());
    }
    const std::string_view all(bytes);
    for (std::size_t start = 0; start < 8; ++start) {
        for (const std::size_t length :
             {0, 1, 7, 8, 31, 32, 33, 63, 65, 2047, 2048, 65535, 69990}) {
            const std::string_view piece = all.substr(start, length);
            const auto total = static_cast<std::uint16_t>(random());
            EXPECT_EQ(onesComplementSum(total, piece), referenceSum(total, piece))
                << "start " << start << ", length " << length;
        }
    }
}

} // namespace

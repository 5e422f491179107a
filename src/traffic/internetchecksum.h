#pragma once

#include <cstdint>
#include <string_view>

namespace traffic
{

// The checksum of the IPv4, TCP and UDP headers (RFC 1071): the ones'
// complement sum of the bytes taken as big-endian 16-bit words, an odd last
// byte as the high byte of a word. Pure functions; safe on any thread.

// `bytes` summed onto `total` (a sum of earlier pieces, each of an even
// length, or 0), folded to 16 bits. Runs over every byte recorded as pcapng,
// so it adds many bytes at a time.
std::uint16_t onesComplementSum(std::uint16_t total, std::string_view bytes);

// A sum of 16-bit words, each added as a number (at most 65537 of them),
// folded to 16 bits as onesComplementSum() folds: for a header whose words
// are known as numbers.
constexpr std::uint16_t foldedSum(std::uint32_t sum)
{
    sum = (sum & 0xFFFF) + (sum >> 16);
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(sum);
}

// The checksum field for a sum: its ones' complement.
constexpr std::uint16_t checksumOf(std::uint16_t sum)
{
    return static_cast<std::uint16_t>(~sum);
}

} // namespace traffic

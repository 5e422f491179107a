#include "internetchecksum.h"

#include <bit>
#include <cstring>

namespace traffic
{

namespace
{

// Four 64-bit lanes: each gathers 32-bit words, so that no carry is ever
// lost (a lane overflows only past 2^32 words) and the loop stays in vector
// registers: two of SSE2, or one of AVX2 in the clone made for processors
// that have it.
using Lanes = std::uint64_t __attribute__((vector_size(32)));

std::uint64_t lowAndHigh(std::uint64_t word)
{
    return (word & 0xFFFFFFFF) + (word >> 32);
}

// The sum of `left` bytes at `data` onto `total`; with kCopy the bytes are
// also copied to `to` on the way, in the same pass.
template <bool kCopy>
[[gnu::always_inline]] inline std::uint16_t summed(std::uint16_t total, const char* data,
                                                   std::size_t left, char* to)
{
    // The sum does not depend on the byte order it is taken in (RFC 1071,
    // 2.(B)): the words are added in the host's order and the folded result
    // turned to big-endian once. A sum of 32-bit words folds to the same
    // 16-bit sum, as 2^16 is 1 modulo 0xFFFF.
    const Lanes low = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
    Lanes a = {0, 0, 0, 0};
    Lanes b = {0, 0, 0, 0};
    while (left >= 64) {
        Lanes x;
        Lanes y;
        std::memcpy(&x, data, sizeof x);
        std::memcpy(&y, data + 32, sizeof y);
        if constexpr (kCopy) {
            std::memcpy(to, &x, sizeof x);
            std::memcpy(to + 32, &y, sizeof y);
            to += 64;
        }
        a += x & low;
        b += x >> 32;
        a += y & low;
        b += y >> 32;
        data += 64;
        left -= 64;
    }
    a += b;
    std::uint64_t wide = a[0] + a[1] + a[2] + a[3];
    while (left >= 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, data, 8);
        if constexpr (kCopy) {
            std::memcpy(to, &word, 8);
            to += 8;
        }
        wide += lowAndHigh(word);
        data += 8;
        left -= 8;
    }
    // The last 0..7 bytes, zero-filled behind: an odd last byte lands where
    // the high byte of its big-endian word is.
    std::uint64_t word = 0;
    std::memcpy(&word, data, left);
    if constexpr (kCopy) {
        std::memcpy(to, data, left);
    }
    wide += lowAndHigh(word);
    wide = lowAndHigh(wide);
    wide = lowAndHigh(wide);
    auto host = static_cast<std::uint32_t>(wide);
    host = (host & 0xFFFF) + (host >> 16);
    host = (host & 0xFFFF) + (host >> 16);
    if constexpr (std::endian::native == std::endian::little) {
        host = ((host & 0xFF) << 8) | (host >> 8);
    }
    std::uint32_t result = std::uint32_t{total} + host;
    result = (result & 0xFFFF) + (result >> 16);
    return static_cast<std::uint16_t>(result);
}

} // namespace

#if defined(__x86_64__) && defined(__GNUC__)
#define CHECKSUM_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define CHECKSUM_CLONES
#endif

CHECKSUM_CLONES std::uint16_t onesComplementSum(std::uint16_t total, std::string_view bytes)
{
    return summed<false>(total, bytes.data(), bytes.size(), nullptr);
}

CHECKSUM_CLONES std::uint16_t copyWithSum(char* to, std::string_view bytes)
{
    return summed<true>(0, bytes.data(), bytes.size(), to);
}

} // namespace traffic

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

// The sum's body, made once for every processor and once more with AVX2 for
// those that have it.
[[gnu::always_inline]] inline std::uint16_t sumOf(std::uint16_t total, std::string_view bytes)
{
    // The sum does not depend on the byte order it is taken in (RFC 1071,
    // 2.(B)): the words are added in the host's order and the folded result
    // turned to big-endian once. A sum of 32-bit words folds to the same
    // 16-bit sum, as 2^16 is 1 modulo 0xFFFF.
    const char* data = bytes.data();
    std::size_t left = bytes.size();
    const Lanes low = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
    Lanes a = {0, 0, 0, 0};
    Lanes b = {0, 0, 0, 0};
    while (left >= 64) {
        Lanes x;
        Lanes y;
        std::memcpy(&x, data, sizeof x);
        std::memcpy(&y, data + 32, sizeof y);
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
        wide += lowAndHigh(word);
        data += 8;
        left -= 8;
    }
    // The last 0..7 bytes, zero-filled behind: an odd last byte lands where
    // the high byte of its big-endian word is.
    std::uint64_t word = 0;
    std::memcpy(&word, data, left);
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

using SumFunction = std::uint16_t (*)(std::uint16_t, std::string_view);

std::uint16_t portableSum(std::uint16_t total, std::string_view bytes)
{
    return sumOf(total, bytes);
}

#if defined(__x86_64__) && defined(__GNUC__)
__attribute__((target("avx2"))) std::uint16_t avx2Sum(std::uint16_t total, std::string_view bytes)
{
    return sumOf(total, bytes);
}
#endif

// Chosen on the first call rather than by the loader (target_clones makes an
// ifunc, whose resolver runs before a sanitizer's runtime is set up and
// crashes every program of a ThreadSanitizer build).
SumFunction chosenSum()
{
#if defined(__x86_64__) && defined(__GNUC__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2"))
        return avx2Sum;
#endif
    return portableSum;
}

} // namespace

std::uint16_t onesComplementSum(std::uint16_t total, std::string_view bytes)
{
    static const SumFunction sum = chosenSum();
    return sum(total, bytes);
}

} // namespace traffic

#include "bytetext.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace traffic
{

namespace
{

constexpr char kHexDigits[] = "0123456789abcdef";

// The shown form of every byte, built once: the record files run every
// received byte through it on the writer thread, so a look-up beats a branch
// chain. Each entry is at most four characters.
constexpr std::size_t kMaxEscapeSize = 4;

struct Escape {
    std::array<char, kMaxEscapeSize> text{};
    std::uint8_t size = 0;
};

constexpr std::array<Escape, 256> makeEscapes()
{
    std::array<Escape, 256> table{};
    for (unsigned value = 0; value < 256; ++value) {
        Escape& e = table[value];
        const auto put = [&e](char a, char b) {
            e.text[0] = a;
            e.text[1] = b;
            e.size = 2;
        };
        if (value == '\\') {
            put('\\', '\\');
        } else if (value == 0) {
            put('\\', '0');
        } else if (value == '\r') {
            put('\\', 'r');
        } else if (value == '\n') {
            put('\\', 'n');
        } else if (value >= 0x20 && value <= 0x7E) {
            e.text[0] = static_cast<char>(value);
            e.size = 1;
        } else {
            e.text = {'\\', 'x', kHexDigits[value >> 4], kHexDigits[value & 0xF]};
            e.size = 4;
        }
    }
    return table;
}

constexpr std::array<Escape, 256> kEscapes = makeEscapes();

// The writer's hot loops work on blocks of kBlock bytes: with SSE2 (every
// x86-64 processor) sixteen at once, otherwise in 64-bit steps.
constexpr std::size_t kBlock = 16;
// A block with more escapes than this goes byte by byte: runs that short are
// not worth a copy each.
constexpr int kMaxEscapesForRuns = 4;

// popcount(mask) > kMaxEscapesForRuns, without the library call that
// std::popcount becomes for processors not known to have the instruction.
bool tooManyEscapesForRuns(unsigned mask)
{
    for (int i = 0; i < kMaxEscapesForRuns; ++i) {
        mask &= mask - 1;
    }
    return mask != 0;
}

#if defined(__SSE2__)

// The 32 hex digits of the 16 bytes at `in`, to `out`.
void hexBlock(const char* in, char* out)
{
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    const __m128i lowNibble = _mm_set1_epi8(0x0F);
    const auto digits = [](__m128i nibbles) {
        const __m128i letter = _mm_cmpgt_epi8(nibbles, _mm_set1_epi8(9));
        return _mm_add_epi8(_mm_add_epi8(nibbles, _mm_set1_epi8('0')),
                            _mm_and_si128(letter, _mm_set1_epi8('a' - '0' - 10)));
    };
    const __m128i high = digits(_mm_and_si128(_mm_srli_epi16(bytes, 4), lowNibble));
    const __m128i low = digits(_mm_and_si128(bytes, lowNibble));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(high, low));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + kBlock), _mm_unpackhi_epi8(high, low));
}

// One bit for each of the 16 bytes at `in` (the first byte's the lowest)
// that is escaped: all but printable ASCII (0x20..0x7E; bytes from 0x80 on
// compare as negative) other than the backslash.
unsigned escapedMask(const char* in)
{
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    const __m128i printable = _mm_and_si128(_mm_cmpgt_epi8(bytes, _mm_set1_epi8(0x1F)),
                                            _mm_cmplt_epi8(bytes, _mm_set1_epi8(0x7F)));
    const __m128i shown = _mm_andnot_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\\')), printable);
    return ~static_cast<unsigned>(_mm_movemask_epi8(shown)) & 0xFFFFu;
}

#else

// The eight hex digits of four bytes at once, in memory order (first byte's
// high digit first). Each byte goes to a 16-bit lane, its high nibble in the
// lane's first byte and its low nibble in the second; nibbles of 10 and over
// get the step from '9' + 1 to 'a'.
std::uint64_t hexDigitsOf(std::uint32_t fourBytes)
{
    static_assert(std::endian::native == std::endian::little);
    const std::uint64_t x = fourBytes;
    const std::uint64_t lanes = (x & 0xFFull) | ((x & 0xFF00ull) << 8) | ((x & 0xFF0000ull) << 16) |
                                ((x & 0xFF000000ull) << 24);
    constexpr std::uint64_t kLowNibbles = 0x000F000F000F000Full;
    const std::uint64_t nibbles = ((lanes >> 4) & kLowNibbles) | ((lanes & kLowNibbles) << 8);
    constexpr std::uint64_t kEach = 0x0101010101010101ull;
    const std::uint64_t letters = ((nibbles + kEach * 6) >> 4) & kEach;
    return nibbles + kEach * '0' + letters * ('a' - '0' - 10);
}

void hexBlock(const char* in, char* out)
{
    for (std::size_t i = 0; i < kBlock; i += 4) {
        std::uint32_t word = 0;
        std::memcpy(&word, in + i, 4);
        const std::uint64_t digits = hexDigitsOf(word);
        std::memcpy(out + 2 * i, &digits, 8);
    }
}

unsigned escapedMask(const char* in)
{
    unsigned mask = 0;
    for (std::size_t i = 0; i < kBlock; ++i) {
        if (kEscapes[static_cast<unsigned char>(in[i])].size != 1) {
            mask |= 1u << i;
        }
    }
    return mask;
}

#endif

int hexValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool isLowerHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

} // namespace

char* writeVisibleText(char* out, std::string_view bytes)
{
    // The writer's hot loop. Received frames are mostly printable with a
    // delimiter or two, so a block goes in as runs of bytes that stand as they
    // are, each with one fixed-size copy, between the escapes, each a
    // four-byte copy from the table; a block with many escapes goes byte by
    // byte. The fixed-size copies read and write past what they need (the
    // later writes put the right bytes there), so this runs while a block
    // more is left to read; the rest goes byte by byte.
    static_assert(kMaxEscapeSize == kMaxVisibleCharsPerByte);
    char* p = out;
    const char* in = bytes.data();
    const char* const end = in + bytes.size();
    const auto escapeOne = [&p](char c) {
        const Escape& e = kEscapes[static_cast<unsigned char>(c)];
        std::memcpy(p, e.text.data(), kMaxEscapeSize);
        p += e.size;
    };
    for (; static_cast<std::size_t>(end - in) >= 2 * kBlock; in += kBlock) {
        unsigned escaped = escapedMask(in);
        if (tooManyEscapesForRuns(escaped)) {
            for (std::size_t i = 0; i < kBlock; ++i) {
                escapeOne(in[i]);
            }
            continue;
        }
        const char* from = in;
        while (escaped != 0) {
            const char* at = in + std::countr_zero(escaped);
            escaped &= escaped - 1;
            std::memcpy(p, from, kBlock);
            p += at - from;
            escapeOne(*at);
            from = at + 1;
        }
        std::memcpy(p, from, kBlock);
        p += in + kBlock - from;
    }
    for (; in < end; ++in) {
        escapeOne(*in);
    }
    return p;
}

void appendVisibleText(std::string& out, std::string_view bytes)
{
    const std::size_t start = out.size();
    out.resize(start + bytes.size() * kMaxVisibleCharsPerByte);
    char* const end = writeVisibleText(out.data() + start, bytes);
    out.resize(static_cast<std::size_t>(end - out.data()));
}

std::string visibleText(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 4);
    appendVisibleText(out, bytes);
    return out;
}

std::string visibleText(std::string_view bytes, VisibleTextStyle style)
{
    // Not on a hot path: byte by byte through the same table.
    std::string out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const auto value = static_cast<unsigned char>(c);
        if (style.escapeQuote && c == '"') {
            out += "\\\"";
        } else if (style.rawHighBytes && value >= 0x80) {
            out += c;
        } else {
            out.append(kEscapes[value].text.data(), kEscapes[value].size);
        }
    }
    return out;
}

std::optional<std::string> bytesFromVisibleText(std::string_view text)
{
    std::string bytes;
    bytes.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\\') {
            if (c < 0x20 || c > 0x7E) {
                return std::nullopt;
            }
            bytes.push_back(c);
            continue;
        }
        if (++i == text.size()) {
            return std::nullopt;
        }
        switch (text[i]) {
        case '\\':
            bytes.push_back('\\');
            break;
        case '0':
            bytes.push_back('\0');
            break;
        case 'r':
            bytes.push_back('\r');
            break;
        case 'n':
            bytes.push_back('\n');
            break;
        case 'x': {
            if (text.size() - i < 3 || !isLowerHexDigit(text[i + 1]) ||
                !isLowerHexDigit(text[i + 2])) {
                return std::nullopt;
            }
            const auto value =
                static_cast<unsigned char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            // Only the bytes visibleText() escapes this way: anything else
            // would make two texts for the same bytes.
            if (kEscapes[value].size != 4) {
                return std::nullopt;
            }
            bytes.push_back(static_cast<char>(value));
            i += 2;
            break;
        }
        default:
            return std::nullopt;
        }
    }
    return bytes;
}

void appendHexText(std::string& out, std::string_view bytes)
{
    const std::size_t start = out.size();
    out.resize(start + bytes.size() * 2);
    writeHexText(out.data() + start, bytes);
}

char* writeHexText(char* out, std::string_view bytes)
{
    char* p = out;
    const char* in = bytes.data();
    const char* const end = in + bytes.size();
    for (; static_cast<std::size_t>(end - in) >= kBlock; in += kBlock, p += 2 * kBlock) {
        hexBlock(in, p);
    }
    for (; in < end; ++in) {
        const auto value = static_cast<unsigned char>(*in);
        *p++ = kHexDigits[value >> 4];
        *p++ = kHexDigits[value & 0xF];
    }
    return p;
}

std::string hexText(std::string_view bytes, bool spaced)
{
    std::string out;
    if (!spaced) {
        appendHexText(out, bytes);
        return out;
    }
    out.reserve(bytes.size() * 3);
    for (const char c : bytes) {
        if (!out.empty()) {
            out.push_back(' ');
        }
        const auto value = static_cast<unsigned char>(c);
        out.push_back(kHexDigits[value >> 4]);
        out.push_back(kHexDigits[value & 0xF]);
    }
    return out;
}

std::optional<std::string> bytesFromHexText(std::string_view text)
{
    std::string bytes;
    bytes.reserve(text.size() / 2);
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == ' ' && !bytes.empty()) {
            ++i;
            continue;
        }
        if (text.size() - i < 2) {
            return std::nullopt;
        }
        const int high = hexValue(text[i]);
        const int low = hexValue(text[i + 1]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        bytes.push_back(static_cast<char>(high * 16 + low));
        i += 2;
    }
    return bytes;
}

} // namespace traffic

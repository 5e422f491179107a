#include "bytetext.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

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

// True when each of the eight bytes in `word` is printable ASCII other than
// the backslash: no byte below 0x20, none above 0x7E, none equal to 0x5C.
constexpr bool allShownAsThey(std::uint64_t word)
{
    constexpr std::uint64_t kOnes = 0x0101010101010101ull;
    constexpr std::uint64_t kHighBits = 0x8080808080808080ull;
    const std::uint64_t below = (word - kOnes * 0x20) & ~word & kHighBits;
    const std::uint64_t above = ((word + kOnes * (0x7F - 0x7E)) | word) & kHighBits;
    const std::uint64_t backslash = word ^ (kOnes * '\\');
    const std::uint64_t isBackslash = (backslash - kOnes) & ~backslash & kHighBits;
    return (below | above | isBackslash) == 0;
}

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

void appendVisibleText(std::string& out, std::string_view bytes)
{
    // The writer's hot loop. The room is made once (at most four characters a
    // byte) and the string cut to what was written at the end. Eight bytes
    // that all stand as they are (received frames are mostly printable) go
    // in one copy; any other byte costs a four-byte copy from the table and a
    // step by its shown size.
    const std::size_t start = out.size();
    out.resize(start + bytes.size() * kMaxEscapeSize);
    char* p = out.data() + start;
    const char* in = bytes.data();
    const char* const end = in + bytes.size();
    while (end - in >= 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, in, 8);
        if (allShownAsThey(word)) {
            std::memcpy(p, in, 8);
            p += 8;
            in += 8;
            continue;
        }
        for (const char* const stop = in + 8; in < stop; ++in) {
            const Escape& e = kEscapes[static_cast<unsigned char>(*in)];
            std::memcpy(p, e.text.data(), kMaxEscapeSize);
            p += e.size;
        }
    }
    for (; in < end; ++in) {
        const Escape& e = kEscapes[static_cast<unsigned char>(*in)];
        std::memcpy(p, e.text.data(), kMaxEscapeSize);
        p += e.size;
    }
    out.resize(static_cast<std::size_t>(p - out.data()));
}

std::string visibleText(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 4);
    appendVisibleText(out, bytes);
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
    char* p = out.data() + start;
    const char* in = bytes.data();
    const char* const end = in + bytes.size();
    for (; end - in >= 4; in += 4, p += 8) {
        std::uint32_t word = 0;
        std::memcpy(&word, in, 4);
        const std::uint64_t digits = hexDigitsOf(word);
        std::memcpy(p, &digits, 8);
    }
    for (; in < end; ++in) {
        const auto value = static_cast<unsigned char>(*in);
        *p++ = kHexDigits[value >> 4];
        *p++ = kHexDigits[value & 0xF];
    }
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

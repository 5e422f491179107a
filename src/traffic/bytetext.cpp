#include "bytetext.h"

#include <array>
#include <cstdint>

namespace traffic
{

namespace
{

constexpr char kHexDigits[] = "0123456789abcdef";

// The shown form of every byte, built once: the record files run every
// received byte through it on the writer thread, so a look-up beats a branch
// chain. Each entry is at most four characters.
struct Escape {
    std::array<char, 4> text{};
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
    for (const char c : bytes) {
        const Escape& e = kEscapes[static_cast<unsigned char>(c)];
        out.append(e.text.data(), e.size);
    }
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
    for (const char c : bytes) {
        const auto value = static_cast<unsigned char>(c);
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

#include "bytetext.h"

#include <cstdint>

namespace devicetools
{

namespace
{

constexpr char kHexDigits[] = "0123456789abcdef";
constexpr std::uint8_t kFirstPrintable = 0x20;
constexpr std::uint8_t kDelete = 0x7f;

void appendHex(std::string& out, std::uint8_t byte)
{
    out += kHexDigits[byte >> 4];
    out += kHexDigits[byte & 0x0f];
}

std::string escaped(std::string_view bytes, bool quote, bool high)
{
    std::string out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<std::uint8_t>(c);
        switch (c) {
        case '\r':
            out += "\\r";
            continue;
        case '\n':
            out += "\\n";
            continue;
        case '\0':
            out += "\\0";
            continue;
        case '\\':
            out += "\\\\";
            continue;
        case '"':
            out += quote ? "\\\"" : "\"";
            continue;
        default:
            break;
        }
        if (byte < kFirstPrintable || byte == kDelete || (high && byte > kDelete)) {
            out += "\\x";
            appendHex(out, byte);
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace

std::string hexBytes(std::string_view bytes, std::size_t limit)
{
    std::string out;
    const std::size_t shown = bytes.size() < limit ? bytes.size() : limit;
    out.reserve(shown * 3 + 4);
    for (std::size_t i = 0; i < shown; ++i) {
        if (i != 0) {
            out += ' ';
        }
        appendHex(out, static_cast<std::uint8_t>(bytes[i]));
    }
    if (shown < bytes.size()) {
        out += " ...";
    }
    return out;
}

std::string escapedText(std::string_view bytes, bool quote)
{
    return escaped(bytes, quote, false);
}

std::string escapedAscii(std::string_view bytes, bool quote)
{
    return escaped(bytes, quote, true);
}

} // namespace devicetools

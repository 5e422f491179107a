#include "reporttext.h"

#include <algorithm>
#include <cstdint>

namespace check
{

namespace
{

constexpr char kHexDigits[] = "0123456789abcdef";
constexpr std::uint8_t kFirstPrintable = 0x20;
constexpr std::uint8_t kDelete = 0x7f;
constexpr std::uint32_t kFirstC1 = 0x80;
constexpr std::uint32_t kLastC1 = 0x9f;

void appendEscaped(std::string& out, std::uint8_t byte)
{
    out += "\\x";
    out += kHexDigits[byte >> 4];
    out += kHexDigits[byte & 0x0f];
}

// The length of the valid UTF-8 sequence at the start of `bytes` (2 to 4
// bytes, no overlong form, no surrogate, at most U+10FFFF) and its code
// point; 0 when there is none.
std::size_t utf8Sequence(std::string_view bytes, std::uint32_t& codePoint)
{
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(bytes[i]); };
    const std::uint8_t lead = byte(0);
    std::size_t length = 0;
    std::uint32_t minimum = 0;
    if ((lead & 0xe0) == 0xc0) {
        length = 2;
        codePoint = lead & 0x1f;
        minimum = 0x80;
    } else if ((lead & 0xf0) == 0xe0) {
        length = 3;
        codePoint = lead & 0x0f;
        minimum = 0x800;
    } else if ((lead & 0xf8) == 0xf0) {
        length = 4;
        codePoint = lead & 0x07;
        minimum = 0x10000;
    } else {
        return 0;
    }
    if (bytes.size() < length) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xc0) != 0x80) {
            return 0;
        }
        codePoint = (codePoint << 6) | (byte(i) & 0x3f);
    }
    const bool surrogate = codePoint >= 0xd800 && codePoint <= 0xdfff;
    if (codePoint < minimum || codePoint > 0x10ffff || surrogate) {
        return 0;
    }
    return length;
}

// Code points shown escaped: U+FFFE and U+FFFF, which XML 1.0 does not
// allow, and the bidirectional controls, with which a name could show as
// another (an override turns "gpj.exe" into "exe.jpg").
bool disguises(std::uint32_t codePoint)
{
    return codePoint == 0xfffe || codePoint == 0xffff || codePoint == 0x061c ||
           codePoint == 0x200e || codePoint == 0x200f ||
           (codePoint >= 0x202a && codePoint <= 0x202e) ||
           (codePoint >= 0x2066 && codePoint <= 0x2069);
}

} // namespace

std::string readableText(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    std::size_t at = 0;
    while (at < bytes.size()) {
        const auto byte = static_cast<std::uint8_t>(bytes[at]);
        if (byte < kFirstPrintable || byte == kDelete) {
            appendEscaped(out, byte);
            ++at;
            continue;
        }
        if (byte < kDelete) {
            out += static_cast<char>(byte);
            ++at;
            continue;
        }
        std::uint32_t codePoint = 0;
        const std::size_t length = utf8Sequence(bytes.substr(at), codePoint);
        if (length == 0 || (codePoint >= kFirstC1 && codePoint <= kLastC1) ||
            disguises(codePoint)) {
            // Each byte of the sequence, so that none of it survives.
            for (std::size_t i = 0; i < std::max<std::size_t>(length, 1); ++i) {
                appendEscaped(out, static_cast<std::uint8_t>(bytes[at + i]));
            }
            at += std::max<std::size_t>(length, 1);
            continue;
        }
        out.append(bytes.substr(at, length));
        at += length;
    }
    return out;
}

std::string markupText(std::string_view bytes)
{
    std::string out;
    for (const char c : readableText(bytes)) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string csvField(std::string_view bytes)
{
    std::string text = readableText(bytes);
    if (!text.empty() && (text.front() == '=' || text.front() == '+' || text.front() == '-' ||
                          text.front() == '@')) {
        text.insert(text.begin(), '\'');
    }
    const bool quote = text.find_first_of(",\"") != std::string::npos ||
                       (!text.empty() && (text.front() == ' ' || text.back() == ' '));
    if (!quote) {
        return text;
    }
    std::string out = "\"";
    for (const char c : text) {
        out += c;
        if (c == '"') {
            out += '"';
        }
    }
    out += '"';
    return out;
}

} // namespace check

#include "fieldtext.h"

#include <cctype>
#include <charconv>

namespace check
{

namespace
{

bool nameChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '-' || c == '.';
}

// Walks `text`, giving each literal run and each placeholder name in order;
// stops at the first malformed placeholder with BadInput saying why.
template <typename Literal, typename Name>
base::Error walk(std::string_view text, Literal&& literal, Name&& name)
{
    std::size_t runStart = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] != '{') {
            ++i;
            continue;
        }
        literal(text.substr(runStart, i - runStart));
        if (i + 1 < text.size() && text[i + 1] == '{') {
            literal("{");
            i += 2;
            runStart = i;
            continue;
        }
        std::size_t end = i + 1;
        while (end < text.size() && nameChar(text[end])) {
            ++end;
        }
        if (end == i + 1 || end >= text.size() || text[end] != '}') {
            return base::Error::input(base::Fault::BadInput, {},
                                      "'{' at character " + std::to_string(i + 1) +
                                          " starts no placeholder such as {id} (write {{ for a "
                                          "brace)");
        }
        name(text.substr(i + 1, end - i - 1));
        i = end + 1;
        runStart = i;
    }
    literal(text.substr(runStart));
    return {};
}

} // namespace

base::Error placeholderError(std::string_view text)
{
    return walk(
        text, [](std::string_view) {}, [](std::string_view) {});
}

std::vector<std::string> placeholderNames(std::string_view text)
{
    std::vector<std::string> names;
    // The text is well formed, as the contract asks: no failure to hear of.
    (void)walk(
        text, [](std::string_view) {}, [&](std::string_view name) { names.emplace_back(name); });
    return names;
}

bool hasPlaceholders(std::string_view text)
{
    return text.find('{') != std::string_view::npos;
}

namespace
{

base::Error noValue(std::string_view name)
{
    return base::Error::input(base::Fault::BadInput, {}, "no value for {" + std::string(name) + "}");
}

// Walks `text`, handing each literal run and each placeholder's value on;
// the first name without a value, or a malformed text, ends it.
template <typename Take> base::Error walkFilled(std::string_view text, const ValueLookup& lookup,
                                                 Take&& take)
{
    base::Error missing;
    base::Error walked = walk(text, take, [&](std::string_view name) {
        if (!missing.ok()) {
            return;
        }
        if (const std::string* value = lookup(name)) {
            take(*value);
        } else {
            missing = noValue(name);
        }
    });
    return walked.ok() ? missing : walked;
}

} // namespace

base::Result<std::string> fillPlaceholders(std::string_view text, const ValueLookup& lookup)
{
    std::string out;
    if (base::Error error = walkFilled(text, lookup, [&](std::string_view run) { out += run; });
        !error.ok()) {
        return error;
    }
    return out;
}

base::Result<std::size_t> filledSize(std::string_view text, const ValueLookup& lookup)
{
    std::size_t size = 0;
    if (base::Error error =
            walkFilled(text, lookup, [&](std::string_view run) { size += run.size(); });
        !error.ok()) {
        return error;
    }
    return size;
}

bool wildcardMatch(std::string_view pattern, std::string_view text)
{
    // Greedy with one backtrack point: the last '*' seen takes one more byte
    // whenever the rest fails, which is enough for '*' and '?' alone.
    std::size_t p = 0;
    std::size_t t = 0;
    std::size_t starAt = std::string_view::npos;
    std::size_t starText = 0;
    while (t < text.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == text[t])) {
            ++p;
            ++t;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starAt = p++;
            starText = t;
        } else if (starAt != std::string_view::npos) {
            p = starAt + 1;
            t = ++starText;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

std::size_t wildcardMinLength(std::string_view pattern)
{
    std::size_t length = 0;
    for (const char c : pattern) {
        length += c == '*' ? 0 : 1;
    }
    return length;
}

bool wildcardUnbounded(std::string_view pattern)
{
    return pattern.find('*') != std::string_view::npos;
}

std::optional<long long> parseMillisText(std::string_view text)
{
    long long scale = 0;
    if (text.ends_with("ms")) {
        scale = 1;
        text.remove_suffix(2);
    } else if (text.ends_with("s")) {
        scale = 1000;
        text.remove_suffix(1);
    } else {
        return std::nullopt;
    }
    const std::size_t point = text.find('.');
    const std::string_view whole = text.substr(0, point);
    const std::string_view fraction =
        point == std::string_view::npos ? std::string_view{} : text.substr(point + 1);
    const auto digits = [](std::string_view s) {
        for (const char c : s) {
            if (c < '0' || c > '9') {
                return false;
            }
        }
        return !s.empty() && s.size() <= 9;
    };
    if (!digits(whole) || (point != std::string_view::npos && !digits(fraction))) {
        return std::nullopt;
    }
    long long value = 0;
    std::from_chars(whole.data(), whole.data() + whole.size(), value);
    value *= scale;
    long long unit = scale;
    for (const char c : fraction) {
        if (unit % 10 != 0) {
            if (c != '0') {
                return std::nullopt; // finer than a millisecond
            }
            continue;
        }
        unit /= 10;
        value += (c - '0') * unit;
    }
    return value;
}

std::string millisText(long long millis)
{
    if (millis != 0 && millis % 1000 == 0) {
        return std::to_string(millis / 1000) + "s";
    }
    return std::to_string(millis) + "ms";
}

} // namespace check

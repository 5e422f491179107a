#include "recordfilename.h"

#include <array>
#include <cstdio>

namespace traffic
{

namespace
{

constexpr std::size_t kTimePrefixSize = 20; // 20261207T081502.123Z
constexpr std::size_t kMaxLabelPartSize = 64;

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

std::string safePart(std::string_view text, bool lowerCase)
{
    std::string part;
    for (const char c : text.substr(0, kMaxLabelPartSize)) {
        const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') || c == '.' || c == '-';
        char shown = keep ? c : '-';
        if (lowerCase && shown >= 'A' && shown <= 'Z') {
            shown = static_cast<char>(shown - 'A' + 'a');
        }
        part.push_back(shown);
    }
    // "." and ".." alone are names of folders, not parts of a name.
    if (part.find_first_not_of('.') == std::string::npos) {
        part.assign(part.size(), '-');
    }
    return part;
}

} // namespace

std::string recordFileTime(std::chrono::sys_time<std::chrono::milliseconds> millis)
{
    const auto days = std::chrono::floor<std::chrono::days>(millis);
    const std::chrono::year_month_day date{days};
    const std::chrono::hh_mm_ss clock{millis - days};
    std::array<char, 40> text{};
    std::snprintf(text.data(), text.size(), "%04d%02u%02uT%02d%02d%02lld.%03lldZ",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<int>(clock.hours().count()),
                  static_cast<int>(clock.minutes().count()),
                  static_cast<long long>(clock.seconds().count()),
                  static_cast<long long>(clock.subseconds().count()));
    return text.data();
}

std::string recordFileLabel(std::string_view connectText)
{
    const std::size_t space = connectText.find(' ');
    if (connectText.empty() || space == std::string_view::npos) {
        return connectText.empty() ? std::string(kNoConnectionLabel) : safePart(connectText, true);
    }
    const std::string_view protocol = connectText.substr(0, space);
    const std::string_view peer = connectText.substr(space + 1);
    const std::size_t colon = peer.rfind(':');
    std::string label = safePart(protocol, true) + "_";
    if (colon == std::string_view::npos) {
        return label + safePart(peer, false);
    }
    return label + safePart(peer.substr(0, colon), false) + "_" +
           safePart(peer.substr(colon + 1), false);
}

bool isRecordFileName(std::string_view name)
{
    const auto endsWith = [&](std::string_view extension) {
        return name.size() > kTimePrefixSize + 1 + extension.size() && name.ends_with(extension);
    };
    if (!endsWith(kRecordFileExtension) && !endsWith(kPcapngRecordFileExtension)) {
        return false;
    }
    // yyyymmddThhmmss.mmmZ_
    for (std::size_t i = 0; i < kTimePrefixSize; ++i) {
        const char c = name[i];
        const bool ok = i == 8 ? c == 'T' : i == 15 ? c == '.' : i == 19 ? c == 'Z' : isDigit(c);
        if (!ok) {
            return false;
        }
    }
    return name[kTimePrefixSize] == '_';
}

} // namespace traffic

#include "faultmodes.h"

#include "protocol/commandframe.h"

#include <algorithm>

namespace devicetools
{

namespace
{

constexpr std::uint64_t kMsPerSecond = 1000;

} // namespace

std::string FaultModes::shape(std::string answer) const
{
    if (answer.empty()) {
        return answer;
    }
    if (malformed) {
        answer = std::string(kMalformedBlock);
    }
    if (nulInside) {
        const bool trailer = answer.size() >= protocol::kLineEnd.size() &&
                             std::string_view(answer).substr(
                                 answer.size() - protocol::kLineEnd.size()) == protocol::kLineEnd;
        const std::size_t body = answer.size() - (trailer ? protocol::kLineEnd.size() : 0);
        answer.insert(body / 2, 1, '\0');
    }
    return answer;
}

std::vector<std::string_view> FaultModes::pieces(std::string_view bytes) const
{
    std::vector<std::string_view> out;
    std::size_t from = 0;
    for (const std::uint32_t at : splitAt) {
        if (at <= from || at >= bytes.size()) {
            continue;
        }
        out.push_back(bytes.substr(from, at - from));
        from = at;
    }
    out.push_back(bytes.substr(from));
    return out;
}

std::uint32_t FaultModes::floodCount() const
{
    const std::uint64_t count = std::uint64_t{floodRate} * floodForMs / kMsPerSecond;
    return static_cast<std::uint32_t>(std::max<std::uint64_t>(count, 1));
}

std::string FaultModes::summary() const
{
    std::string out;
    const auto add = [&](const std::string& item) {
        out += out.empty() ? "" : ", ";
        out += item;
    };
    if (closeAfterFrames != 0) {
        add("close after " + std::to_string(closeAfterFrames) + " frames");
    }
    if (malformed) {
        add("malformed answers");
    }
    if (nulInside) {
        add("NUL inside answers");
    }
    if (!splitAt.empty()) {
        std::string offsets;
        for (const std::uint32_t at : splitAt) {
            offsets += (offsets.empty() ? "" : ",") + std::to_string(at);
        }
        add("answers split at " + offsets + " with " + std::to_string(splitPauseMs) + " ms pauses");
    }
    if (floodRate != 0) {
        add("flood of " + std::to_string(floodCount()) + " frames at " + std::to_string(floodRate) +
            "/s");
    }
    return out.empty() ? "none" : out;
}

} // namespace devicetools

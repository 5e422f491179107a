#include "connectionkeylog.h"

#include <algorithm>

namespace traffic
{

ConnectionKeyLog::ConnectionKeyLog(std::size_t maxBytes) : maxBytes_(std::min(maxBytes, kMaxBytes))
{
}

bool ConnectionKeyLog::isKeyLogLine(std::string_view line)
{
    return !line.empty() && line.size() <= kMaxLineBytes &&
           std::all_of(line.begin(), line.end(), [](char c) { return c >= ' ' && c <= '~'; });
}

bool ConnectionKeyLog::add(std::string_view line)
{
    if (!isKeyLogLine(line) || lines_.size() + line.size() + 1 > maxBytes_)
        return false;
    lines_.append(line);
    lines_.push_back('\n');
    return true;
}

} // namespace traffic

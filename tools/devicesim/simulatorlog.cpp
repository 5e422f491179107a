#include "simulatorlog.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace devicetools
{

namespace
{

// "HH:MM:SS.mmm" needs 13 bytes; the room is for what the int fields could
// hold in theory, so the text is never cut.
constexpr std::size_t kTimeTextSize = 48;
constexpr long long kMsPerSecond = 1000;

} // namespace

SimulatorLog::SimulatorLog(Sink sink) : sink_(std::move(sink)) {}

void SimulatorLog::write(std::string_view peer, std::string_view text)
{
    std::string line = timeText();
    if (!peer.empty()) {
        line += ' ';
        line += peer;
    }
    line += ' ';
    line += text;
    std::lock_guard lock(mutex_);
    sink_(line);
}

SimulatorLog::Sink SimulatorLog::standardOutput()
{
    return [](std::string_view line) {
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    };
}

std::string SimulatorLog::timeText()
{
    using Clock = std::chrono::system_clock;
    const auto now = Clock::now();
    const std::time_t seconds = Clock::to_time_t(now);
    const long long ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        kMsPerSecond;
    std::tm local{};
    ::localtime_r(&seconds, &local);
    char text[kTimeTextSize] = {};
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03lld", local.tm_hour, local.tm_min,
                  local.tm_sec, ms);
    return text;
}

} // namespace devicetools

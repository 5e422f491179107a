#include "simulatorlog.h"

#include <cstdio>
#include <ctime>
#include <system_error>

namespace devicetools
{

namespace
{

// "HH:MM:SS.mmm" needs 13 bytes; the room is for what the int fields could
// hold in theory, so the text is never cut.
constexpr std::size_t kTimeTextSize = 48;
constexpr long long kMsPerSecond = 1000;
constexpr std::size_t kDigitGroup = 3;

} // namespace

SimulatorLog::SimulatorLog(Sink sink) : sink_(std::move(sink))
{
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        closed_ = true;
    }
}

SimulatorLog::~SimulatorLog()
{
    close(kCloseLimit);
}

void SimulatorLog::write(std::string_view peer, std::string_view text)
{
    std::string line = timeText();
    if (!peer.empty()) {
        line += ' ';
        line += peer;
    }
    line += ' ';
    line += text;
    {
        std::lock_guard lock(mutex_);
        if (closing_ || closed_ || queue_.size() >= kQueueLines ||
            queuedBytes_ + line.size() > kQueueBytes) {
            ++dropped_;
            return;
        }
        queuedBytes_ += line.size();
        queue_.push_back(std::move(line));
    }
    wake_.notify_one();
}

bool SimulatorLog::idle() const
{
    return queue_.empty() && !writing_ && dropped_ == reported_;
}

bool SimulatorLog::flush(std::chrono::milliseconds limit)
{
    std::unique_lock lock(mutex_);
    return drained_.wait_for(lock, limit, [this] { return idle() || closed_; }) && idle();
}

bool SimulatorLog::close(std::chrono::milliseconds limit, const std::function<void()>& interrupt)
{
    std::unique_lock lock(mutex_);
    if (closing_ || !thread_.joinable()) {
        return idle();
    }
    const bool complete = drained_.wait_for(lock, limit, [this] { return idle(); });
    closing_ = true;
    abandon_ = !complete;
    lock.unlock();
    wake_.notify_one();
    if (!complete && interrupt) {
        interrupt();
    }
    thread_.join();
    return complete;
}

std::uint64_t SimulatorLog::dropped() const
{
    std::lock_guard lock(mutex_);
    return dropped_;
}

void SimulatorLog::run()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return closing_ || !idle(); });
        if (abandon_ || (closing_ && idle())) {
            break;
        }
        // Taken as a batch, so writers wait for the lock only while lines are
        // moved, never while the sink writes.
        std::deque<std::string> batch;
        batch.swap(queue_);
        queuedBytes_ = 0;
        const std::uint64_t lost = dropped_ - reported_;
        reported_ = dropped_;
        writing_ = true;
        lock.unlock();
        for (const std::string& line : batch) {
            sink_(line);
        }
        if (lost != 0) {
            sink_(timeText() + ' ' + groupedCount(lost) + (lost == 1 ? " log line" : " log lines") +
                  " dropped: the output did not keep up");
        }
        lock.lock();
        writing_ = false;
        drained_.notify_all();
    }
    closed_ = true;
    drained_.notify_all();
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

std::string SimulatorLog::groupedCount(std::uint64_t count)
{
    const std::string digits = std::to_string(count);
    std::string out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i != 0 && (digits.size() - i) % kDigitGroup == 0) {
            out += ',';
        }
        out += digits[i];
    }
    return out;
}

std::string SimulatorLog::durationText(std::uint32_t ms)
{
    constexpr std::uint32_t kMsPerSecond = 1000;
    return ms % kMsPerSecond == 0 ? std::to_string(ms / kMsPerSecond) + " s"
                                  : std::to_string(ms) + " ms";
}

} // namespace devicetools

#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace devicetools
{

// The simulator's output: one line per frame, answer or connection event,
// each starting with the local time (HH:MM:SS.mmm) and the peer.
//
// Threads: write() from any thread; lines never interleave. The sink is
// called under the log's lock, one whole line (without its line end) at a time.
class SimulatorLog
{
public:
    using Sink = std::function<void(std::string_view line)>;

    explicit SimulatorLog(Sink sink);

    // "<time> <peer> <text>"; an empty peer is left out.
    void write(std::string_view peer, std::string_view text);

    // A sink that prints each line to standard output and flushes it, so that
    // a pipe or a file sees every line at once.
    static Sink standardOutput();

    // The local time as HH:MM:SS.mmm.
    static std::string timeText();

private:
    std::mutex mutex_;
    Sink sink_;
};

} // namespace devicetools

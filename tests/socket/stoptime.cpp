// Measures how long SocketChannel::stop() takes with the watcher idle in its
// read on a loopback TCP connection, and prints the median of the runs.

#include "loopbacklistener.h"

#include "socket/socketchannel.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

int main()
{
    constexpr int kRuns = 20;
    using Clock = std::chrono::steady_clock;
    std::vector<double> times;
    for (int run = 0; run < kRuns; ++run) {
        LoopbackListener listener;
        net::SocketChannel channel;
        if (!channel.openClient("127.0.0.1", listener.portText().c_str(), AF_INET, SOCK_STREAM))
            return 1;
        const net::SocketHandle peer = listener.acceptWithin(std::chrono::seconds(3));
        if (peer < 0 || !channel.startWatcher())
            return 1;
        // Let the watcher settle into its 100 ms read.
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        const auto start = Clock::now();
        channel.stop();
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        ::close(peer);
    }
    std::sort(times.begin(), times.end());
    const double median = (times[kRuns / 2 - 1] + times[kRuns / 2]) / 2;
    std::printf("stop() with an idle watcher, %d runs: median %.2f ms, min %.2f ms, max %.2f ms "
                "(of which %u ms is the fixed pause after the release)\n",
                kRuns, median, times.front(), times.back(), net::SocketChannel::kReleasePauseMs);
    return 0;
}

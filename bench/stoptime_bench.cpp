// Measures how long SocketChannel::stop() takes with the watcher idle in its
// read, over loopback TCP and UDP, and prints the median of the runs.

#include "loopbacktcpserver.h"
#include "loopbackudppeer.h"

#include "socket/socketchannel.h"

#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

namespace
{

constexpr int kRuns = 20;
constexpr auto kAcceptLimit = std::chrono::seconds(3);
constexpr auto kSettleTime = std::chrono::milliseconds(30); // the watcher reaches its read
using Clock = std::chrono::steady_clock;

// One stop() of a channel whose watcher has settled into its 100 ms read; the
// time in ms, or a negative value when the channel could not be opened.
double timeOneStop(int type)
{
    LoopbackTcpServer tcpPeer;
    LoopbackUdpPeer udpPeer;
    net::SocketChannel channel;
    const std::string port = type == SOCK_STREAM ? tcpPeer.portText() : udpPeer.portText();
    if (!channel.openClient("127.0.0.1", port.c_str(), AF_INET, type))
        return -1;
    if (type == SOCK_STREAM && !tcpPeer.accept(kAcceptLimit))
        return -1;
    if (!channel.startWatcher())
        return -1;
    std::this_thread::sleep_for(kSettleTime);
    const auto start = Clock::now();
    channel.stop();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

bool report(const char* name, int type)
{
    std::vector<double> times;
    for (int run = 0; run < kRuns; ++run) {
        const double ms = timeOneStop(type);
        if (ms < 0)
            return false;
        times.push_back(ms);
    }
    std::sort(times.begin(), times.end());
    const double median = (times[kRuns / 2 - 1] + times[kRuns / 2]) / 2;
    std::printf("stop() with an idle watcher, %s, %d runs: median %.2f ms, min %.2f ms, "
                "max %.2f ms (%u ms of it is the fixed pause after the release)\n",
                name, kRuns, median, times.front(), times.back(),
                net::SocketChannel::kReleasePauseMs);
    return true;
}

} // namespace

int main()
{
    return report("TCP", SOCK_STREAM) && report("UDP", SOCK_DGRAM) ? 0 : 1;
}

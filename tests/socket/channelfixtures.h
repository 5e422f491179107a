#pragma once

// What the channel tests share: a channel that records its hooks, a TCP pair
// on loopback, and small probes of descriptors and threads.

#include "loopbacktcpserver.h"

#include "socket/socketaddress.h"
#include "socket/socketchannel.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace channeltest
{

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

inline constexpr auto kDeadline = 3s;

inline std::string bytesText(const std::uint8_t* data, std::uint32_t length)
{
    return std::string(reinterpret_cast<const char*>(data), length);
}

// Records what the hooks get; the test waits on it with a deadline.
class RecordingChannel : public net::SocketChannel
{
public:
    ~RecordingChannel() override { stop(); }

    bool waitUntil(const std::function<bool()>& condition, Clock::duration limit = kDeadline)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, limit, condition);
    }
    // Waits until at least `count` blocks have arrived.
    bool waitForBlocks(std::size_t count = 1)
    {
        return waitUntil([&] { return blocks_.size() >= count; });
    }
    // Waits until a hook has had an event.
    bool waitForEvent()
    {
        return waitUntil([&] { return !events_.empty(); });
    }
    std::vector<std::string> blocks()
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        return blocks_;
    }
    std::vector<net::ChannelEvent> events()
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }
    // Callers of waitUntil() read these under the lock through the condition.
    std::vector<std::string> blocks_;
    std::vector<net::ChannelEvent> events_;
    // Runs inside handleBlock, after the block was recorded.
    std::function<void()> onBlock;
    std::atomic<pid_t> threadId{0};

protected:
    void runLoop() override
    {
        threadId = ::gettid();
        SocketChannel::runLoop();
    }
    void handleBlock(std::uint8_t* data, std::uint32_t length) override
    {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            blocks_.push_back(bytesText(data, length));
        }
        changed_.notify_all();
        if (onBlock)
            onBlock();
    }
    void handleEvent(net::ChannelEvent event) override
    {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            events_.push_back(event);
        }
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
};

inline std::size_t openDescriptorCount()
{
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

// True once the thread is asleep in the kernel (state S in its stat line).
inline bool threadSleeping(pid_t tid)
{
    std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const auto close = line.rfind(')');
    return close != std::string::npos && line.size() > close + 2 && line[close + 2] == 'S';
}

// Waits until the thread recorded in `threadId` has started and sleeps (in
// its read or wait).
inline bool threadAsleep(const std::atomic<pid_t>& threadId)
{
    const auto start = Clock::now();
    while (Clock::now() - start < kDeadline) {
        if (threadId != 0 && threadSleeping(threadId))
            return true;
        std::this_thread::yield();
    }
    return false;
}

inline bool descriptorOpen(int fd)
{
    return ::fcntl(fd, F_GETFD) != -1;
}

// Whether a TCP socket sends small blocks at once (Nagle's algorithm off).
inline bool sendsAtOnce(int fd)
{
    int on = 0;
    socklen_t length = sizeof on;
    return ::getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, &length) == 0 && on != 0;
}

inline net::SocketAddress loopback(std::uint16_t portHostOrder)
{
    net::SocketAddress a;
    a.family = AF_INET;
    a.port = htons(portHostOrder);
    a.address = htonl(INADDR_LOOPBACK);
    return a;
}

inline net::SocketAddress everyPeer()
{
    net::SocketAddress a;
    a.family = AF_INET;
    a.address = htonl(net::SocketChannel::kBroadcastAddress);
    return a;
}

inline std::string withHeader(const net::SocketAddress& to, const std::string& payload)
{
    std::string block(reinterpret_cast<const char*>(&to), net::SocketAddress::kSize);
    return block + payload;
}

inline net::SocketAddress headerOf(const std::string& block)
{
    net::SocketAddress a;
    std::memcpy(&a, block.data(), net::SocketAddress::kSize);
    return a;
}

// A channel holding a TCP connection to a loopback server, and the server's
// side of that connection.
struct TcpPair {
    LoopbackTcpServer server;
    bool connect(net::SocketChannel& channel)
    {
        return channel.openClient("127.0.0.1", server.portText().c_str(), AF_INET, SOCK_STREAM) &&
               server.accept(kDeadline);
    }
};

inline long long msSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

} // namespace channeltest

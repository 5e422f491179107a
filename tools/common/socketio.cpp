#include "socketio.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>

namespace devicetools
{

namespace
{

constexpr std::uint32_t kLoopbackNet = 0x7f000000u;
constexpr std::uint32_t kLoopbackMask = 0xff000000u;
// Room for any errno text.
constexpr std::size_t kErrorTextSize = 256;

} // namespace

WaitResult waitReady(int fd, short events, const StopSignal& stop, std::uint32_t timeoutMs)
{
    using Clock = std::chrono::steady_clock;
    const bool forever = timeoutMs == kWaitForever;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    pollfd entries[2] = {{fd, events, 0}, {stop.fd(), POLLIN, 0}};
    for (;;) {
        if (stop.triggered()) {
            return WaitResult::Stopped;
        }
        int waitMs = -1;
        if (!forever) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            waitMs = static_cast<int>(std::clamp<long long>(left.count(), 0, INT_MAX));
        }
        entries[0].revents = entries[1].revents = 0;
        const int rc = ::poll(entries, 2, waitMs);
        if (rc < 0) {
            if (errno == EINTR) {
                continue;
            }
            return WaitResult::Failed;
        }
        if (entries[1].revents != 0 || stop.triggered()) {
            return WaitResult::Stopped;
        }
        if (entries[0].revents & POLLNVAL) {
            return WaitResult::Failed;
        }
        if (entries[0].revents != 0) {
            return WaitResult::Ready;
        }
        if (!forever && Clock::now() >= deadline) {
            return WaitResult::TimedOut;
        }
    }
}

bool sendBlock(int fd, std::string_view bytes, const net::SocketAddress* to, const StopSignal& stop,
               std::uint32_t timeoutMs)
{
    std::size_t sent = 0;
    do {
        if (waitReady(fd, POLLOUT, stop, timeoutMs) != WaitResult::Ready) {
            return false;
        }
        ssize_t n;
        do {
            n = to != nullptr
                    ? ::sendto(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT,
                               to->asSockaddr(), net::SocketAddress::kSize)
                    : ::send(fd, bytes.data() + sent, bytes.size() - sent,
                             MSG_NOSIGNAL | MSG_DONTWAIT);
        } while (n < 0 && errno == EINTR);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                continue;
            }
            return false;
        }
        // A datagram goes out whole or not at all.
        if (to != nullptr) {
            return true;
        }
        sent += static_cast<std::size_t>(n);
    } while (sent < bytes.size());
    return true;
}

std::string endpointText(const net::SocketAddress& endpoint)
{
    char text[INET_ADDRSTRLEN] = {};
    in_addr address{};
    address.s_addr = endpoint.address;
    ::inet_ntop(AF_INET, &address, text, sizeof text);
    return std::string(text) + ':' + std::to_string(ntohs(endpoint.port));
}

net::SocketAddress makeEndpoint(std::uint32_t hostOrderAddress, std::uint16_t port)
{
    net::SocketAddress endpoint;
    endpoint.family = AF_INET;
    endpoint.port = htons(port);
    endpoint.address = htonl(hostOrderAddress);
    return endpoint;
}

bool isLoopback(std::uint32_t hostOrderAddress)
{
    return (hostOrderAddress & kLoopbackMask) == kLoopbackNet;
}

std::string errorText(int code)
{
    char buffer[kErrorTextSize] = {};
    // The GNU strerror_r may return a static text instead of filling the buffer.
    return ::strerror_r(code, buffer, sizeof buffer);
}

} // namespace devicetools

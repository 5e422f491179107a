#include "stampedreceive.h"

#include <linux/errqueue.h>
#include <linux/net_tstamp.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace
{

constexpr std::size_t kReadCapacity = 64 * 1024;

} // namespace

bool stampArrivals(int socket)
{
    const int flags = SOF_TIMESTAMPING_RX_SOFTWARE | SOF_TIMESTAMPING_SOFTWARE;
    return ::setsockopt(socket, SOL_SOCKET, SO_TIMESTAMPING, &flags, sizeof flags) == 0;
}

bool receiveStamped(int socket, std::string& chunk, std::chrono::system_clock::time_point& arrived,
                    std::chrono::milliseconds limit)
{
    chunk.clear();
    pollfd ready{socket, POLLIN, 0};
    int polled;
    do {
        polled = ::poll(&ready, 1, static_cast<int>(limit.count()));
    } while (polled < 0 && errno == EINTR);
    if (polled <= 0)
        return false;
    chunk.resize(kReadCapacity);
    iovec into{chunk.data(), chunk.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(scm_timestamping))];
    msghdr message{};
    message.msg_iov = &into;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t got;
    do {
        got = ::recvmsg(socket, &message, 0);
    } while (got < 0 && errno == EINTR);
    chunk.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    if (got <= 0)
        return false;
    arrived = std::chrono::system_clock::now();
    for (cmsghdr* part = CMSG_FIRSTHDR(&message); part; part = CMSG_NXTHDR(&message, part)) {
        if (part->cmsg_level != SOL_SOCKET || part->cmsg_type != SCM_TIMESTAMPING)
            continue;
        scm_timestamping stamps;
        std::memcpy(&stamps, CMSG_DATA(part), sizeof stamps);
        const timespec& software = stamps.ts[0];
        if (software.tv_sec != 0 || software.tv_nsec != 0)
            arrived = std::chrono::system_clock::time_point(
                std::chrono::duration_cast<std::chrono::system_clock::duration>(
                    std::chrono::seconds(software.tv_sec) +
                    std::chrono::nanoseconds(software.tv_nsec)));
    }
    return true;
}

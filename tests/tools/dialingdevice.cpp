#include "dialingdevice.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

DialingDevice::DialingDevice(std::uint16_t port, bool udp, const std::string& id,
                             std::chrono::milliseconds limit)
    : deadline_(std::chrono::steady_clock::now() + limit),
      thread_([this, port, udp, id] { run(port, udp, id); })
{
}

DialingDevice::~DialingDevice()
{
    quit_ = true;
    thread_.join();
}

void DialingDevice::run(std::uint16_t port, bool udp, std::string id)
{
    const int fd = ::socket(AF_INET, (udp ? SOCK_DGRAM : SOCK_STREAM) | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        return;
    }
    const std::string hello = "[B" + id + "=EVT-hello\r\n";
    ::send(fd, hello.data(), hello.size(), MSG_NOSIGNAL);
    char buffer[4096];
    constexpr int kPollMs = 50;
    while (!quit_ && std::chrono::steady_clock::now() < deadline_) {
        pollfd ready{fd, POLLIN, 0};
        if (::poll(&ready, 1, kPollMs) <= 0) {
            continue;
        }
        const ssize_t count = ::recv(fd, buffer, sizeof buffer, 0);
        if (count <= 0) {
            break;
        }
        ::send(fd, buffer, static_cast<std::size_t>(count), MSG_NOSIGNAL);
    }
    ::close(fd);
}

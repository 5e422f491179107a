#include "addresslookup.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <fcntl.h>

namespace net
{

base::Result<HostAndPort> splitHostAndPort(std::string_view text)
{
    HostAndPort split;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos)
            return base::Error::input(base::Fault::BadArgument, std::string(text),
                                      "an IPv6 address in brackets lacks its ']'");
        split.host = std::string(text.substr(1, close - 1));
        std::string_view rest = text.substr(close + 1);
        if (!rest.empty() && rest.front() != ':')
            return base::Error::input(base::Fault::BadArgument, std::string(text),
                                      "only :PORT may follow an address in brackets");
        if (!rest.empty())
            split.port = std::string(rest.substr(1));
        return split;
    }
    const std::size_t colon = text.find(':');
    if (colon != std::string_view::npos && text.find(':', colon + 1) != std::string_view::npos) {
        split.host = std::string(text); // a bare IPv6 literal
        return split;
    }
    split.host = std::string(text.substr(0, colon));
    if (colon != std::string_view::npos)
        split.port = std::string(text.substr(colon + 1));
    return split;
}

base::Result<HostAndPort> parseConnectTarget(std::string_view text)
{
    const auto bad = [](std::string reason) {
        return base::Error::input(base::Fault::BadArgument, {}, std::move(reason));
    };
    base::Result<HostAndPort> target = splitHostAndPort(text);
    if (!target)
        return bad(target.error().reason());
    const std::string& host = target->host;
    const bool colon = host.find(':') != std::string::npos;
    if (host.empty())
        return bad("no host given");
    if (host.find_first_of(" \t[]/") != std::string::npos)
        return bad("not a host name or address");
    if (text.front() == '[' && !colon)
        return bad("brackets hold an IPv6 address only");
    // A colon left in the host makes it an IPv6 address, which it must be.
    if (colon && !Endpoint::fromNumeric(host, 0))
        return bad("not an IPv6 address (a port goes after [address])");
    if (target->port.empty() && text.back() == ':')
        return bad("no port after ':'");
    if (!target->port.empty()) {
        unsigned port = 0;
        const char* last = target->port.data() + target->port.size();
        const auto [end, error] = std::from_chars(target->port.data(), last, port);
        if (error != std::errc() || end != last || port == 0 || port > 65535)
            return bad("the port must be a number from 1 to 65535");
    }
    return target;
}

base::Result<std::vector<Endpoint>> lookUpEndpoints(const std::string& host, std::uint16_t port,
                                                    int type)
{
    std::string name = host;
    if (name.size() > 2 && name.front() == '[' && name.back() == ']')
        name = name.substr(1, name.size() - 2);
    if (name.empty())
        return base::Error::input(base::Fault::BadArgument, "\"\"", "no host given");
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = type;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    const int status = ::getaddrinfo(name.c_str(), service.c_str(), &hints, &found);
    if (status != 0) {
        std::string reason = status == EAI_NONAME   ? "no such host"
                             : status == EAI_NODATA ? "the name has no address"
                             : status == EAI_AGAIN  ? "name service unavailable now"
                                                    : ::gai_strerror(status);
        if (status == EAI_SYSTEM)
            return base::Error::fromErrno(name);
        return base::Error::input(base::Fault::BadArgument, "\"" + name + "\"", reason);
    }
    std::vector<Endpoint> endpoints;
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
        const Endpoint endpoint = Endpoint::from(entry->ai_addr, entry->ai_addrlen);
        bool seen = false;
        for (const Endpoint& earlier : endpoints)
            seen = seen || earlier == endpoint;
        if (!seen)
            endpoints.push_back(endpoint);
    }
    ::freeaddrinfo(found);
    if (endpoints.empty())
        return base::Error::input(base::Fault::BadArgument, "\"" + name + "\"",
                                  "the name has no address");
    return endpoints;
}

base::Result<int> connectWithin(const Endpoint& remote, int type, std::uint32_t timeoutMs)
{
    const int fd = ::socket(remote.family(), type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return base::Error::fromErrno("socket");
    const auto fail = [fd](base::Error error) {
        ::close(fd);
        return error;
    };
    int result = ::connect(fd, remote.address(), remote.length);
    if (result != 0 && errno == EINPROGRESS) {
        pollfd wait{fd, POLLOUT, 0};
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            const int ready =
                ::poll(&wait, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready < 0)
                return fail(base::Error::fromErrno("poll"));
            if (ready == 0)
                return fail(base::Error(base::Fault::TimedOut));
            break;
        }
        int code = 0;
        socklen_t length = sizeof(code);
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &code, &length);
        if (code != 0)
            return fail(base::Error::system(code));
        result = 0;
    }
    if (result != 0)
        return fail(base::Error::fromErrno());
    // Left blocking, like the sockets the console's connect gives.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

} // namespace net

#include "hostlookup.h"

#include "lasterror.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace net
{

namespace
{

// inet_addr gives INADDR_NONE both for this text and for any text that is no
// dotted address; comparing with it tells the two apart.
constexpr char kBroadcastText[] = "255.255.255.255";
constexpr std::size_t kIpv4Length = 4;
// Work buffers of the re-entrant database calls: they start at this size and
// double on ERANGE up to the limit.
constexpr std::size_t kLookupBufferStart = 1024;
constexpr std::size_t kLookupBufferLimit = 1024 * 1024;

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Looks `name` up in the host database and hands the entry to `use`. The
// re-entrant call gives the same entries as gethostbyname (IPv4 only, in the
// database's order) without its process-wide result buffer, so concurrent
// callers cannot overwrite each other's results.
template <typename Use> bool withHostEntry(const char* name, Use use)
{
    std::vector<char> work(kLookupBufferStart);
    for (;;) {
        hostent entry{};
        hostent* result = nullptr;
        int hostError = 0;
        const int rc =
            ::gethostbyname_r(name, &entry, work.data(), work.size(), &result, &hostError);
        if (rc == ERANGE && work.size() < kLookupBufferLimit) {
            work.resize(work.size() * 2);
            continue;
        }
        if (rc != 0 || result == nullptr)
            return false;
        use(*result);
        return true;
    }
}

// The first IPv4 address of a host entry, as stored (network order).
bool firstAddress(const hostent& entry, std::uint32_t& address)
{
    if (entry.h_addr_list == nullptr || entry.h_addr_list[0] == nullptr ||
        entry.h_length < static_cast<int>(kIpv4Length))
        return false;
    std::memcpy(&address, entry.h_addr_list[0], kIpv4Length);
    return true;
}

// Copies a zero-terminated text with its zero into the caller's buffer, or
// sets 122 and leaves the buffer untouched when it does not fit.
bool copyOut(const char* text, char* buffer, std::size_t capacity)
{
    const std::size_t length = std::strlen(text);
    if (length + 1 > capacity) {
        setLastError(base::Error(base::Fault::BufferTooSmall));
        return false;
    }
    std::memcpy(buffer, text, length + 1);
    return true;
}

// gethostname into a zeroed work buffer; the last byte stays zero.
bool fetchHostName(char (&work)[kHostNameBufferSize])
{
    std::memset(work, 0, sizeof work);
    if (::gethostname(work, sizeof work - 1) != 0) {
        setLastErrorFromErrno();
        return false;
    }
    return true;
}

// What both local look-ups start with: a place to write the answer to, then
// the host name in `work`. False with the error set when either is missing.
bool beginLocalLookup(const char* buffer, std::size_t capacity, char (&work)[kHostNameBufferSize])
{
    if (buffer == nullptr || capacity == 0) {
        setLastError(base::Error(base::Fault::BadParameter));
        return false;
    }
    return fetchHostName(work);
}

} // namespace

std::uint16_t parsePort(const char* service)
{
    if (service == nullptr)
        return 0;
    if (isDigit(service[0])) {
        // Arithmetic modulo 65536 keeps exactly the low 16 bits of the whole
        // number, however many digits follow.
        std::uint32_t port = 0;
        for (const char* p = service; isDigit(*p); ++p)
            port = (port * 10 + static_cast<std::uint32_t>(*p - '0')) & 0xFFFFu;
        return static_cast<std::uint16_t>(port);
    }
    std::vector<char> work(kLookupBufferStart);
    for (;;) {
        servent entry{};
        servent* result = nullptr;
        const int rc =
            ::getservbyname_r(service, nullptr, &entry, work.data(), work.size(), &result);
        if (rc == ERANGE && work.size() < kLookupBufferLimit) {
            work.resize(work.size() * 2);
            continue;
        }
        if (rc != 0 || result == nullptr)
            return 0;
        return ntohs(static_cast<std::uint16_t>(result->s_port));
    }
}

std::uint32_t resolveHost(const char* host)
{
    char localName[kHostNameBufferSize] = {};
    const char* text = host;
    if (text == nullptr) {
        if (!localHostName(localName, sizeof localName))
            localName[0] = '\0';
        text = localName;
    }
    const in_addr_t dotted = ::inet_addr(text);
    if (dotted != INADDR_NONE)
        return ntohl(dotted);
    if (std::strcmp(text, kBroadcastText) == 0)
        return kAddressNone;
    std::uint32_t result = kAddressNone;
    withHostEntry(text, [&](const hostent& entry) {
        std::uint32_t address = 0;
        if (firstAddress(entry, address))
            result = ntohl(address);
    });
    return result;
}

bool localHostName(char* buffer, std::size_t capacity)
{
    char work[kHostNameBufferSize];
    if (!beginLocalLookup(buffer, capacity, work))
        return false;
    withHostEntry(work, [&](const hostent& entry) {
        // A canonical name too long for the work buffer is not cut short: the
        // plain host name stays then.
        if (entry.h_name == nullptr)
            return;
        const std::size_t length = std::strlen(entry.h_name);
        if (length < sizeof work)
            std::memmove(work, entry.h_name, length + 1);
    });
    return copyOut(work, buffer, capacity);
}

bool localDottedAddress(char* buffer, std::size_t capacity)
{
    char work[kHostNameBufferSize];
    if (!beginLocalLookup(buffer, capacity, work))
        return false;
    std::uint32_t address = 0;
    bool found = false;
    withHostEntry(work, [&](const hostent& entry) { found = firstAddress(entry, address); });
    if (!found)
        return false;
    return copyOut(dottedAddressText(address).c_str(), buffer, capacity);
}

base::Result<SocketHandle> acceptConnection(SocketHandle listening)
{
    for (;;) {
        const SocketHandle accepted = ::accept4(listening, nullptr, nullptr, SOCK_CLOEXEC);
        if (accepted >= 0)
            return accepted;
        if (errno != EINTR)
            return base::Error::fromErrno();
    }
}

SocketHandle acceptOne(SocketHandle listening)
{
    const base::Result<SocketHandle> accepted = acceptConnection(listening);
    if (accepted)
        return *accepted;
    setLastError(accepted.error());
    return kInvalidSocket;
}

bool shutdownAndClose(SocketHandle socket)
{
    ::shutdown(socket, SHUT_RDWR);
    if (::close(socket) == 0)
        return true;
    // Linux releases the descriptor even when close is interrupted, so EINTR
    // is a success and is never retried: a retry could close a number that
    // another thread has been handed in the meantime.
    if (errno == EINTR)
        return true;
    setLastErrorFromErrno();
    return false;
}

} // namespace net

#include "loopbacktcpserver.h"

#include "socket/hostlookup.h"
#include "socket/lasterror.h"
#include "socket/socketaddress.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ostream>
#include <string>
#include <thread>

using namespace net;

namespace
{

// A host name that cannot resolve and that the resolver rejects before
// sending any query (a label longer than 63 characters): no test traffic
// leaves the machine.
const std::string kUnresolvableHost = std::string(64, 'a') + ".invalid";

std::string canonicalLocalName()
{
    char name[kHostNameBufferSize] = {};
    EXPECT_TRUE(localHostName(name, sizeof name));
    return name;
}

} // namespace

struct PortRow {
    const char* text;
    std::uint16_t port;
};

void PrintTo(const PortRow& row, std::ostream* out)
{
    *out << '"' << row.text << '"';
}

class ParsePortTest : public testing::TestWithParam<PortRow>
{
};

TEST_P(ParsePortTest, GivesLowSixteenBitsOrServicePort)
{
    EXPECT_EQ(parsePort(GetParam().text), GetParam().port) << '"' << GetParam().text << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ParsePortTest,
    testing::Values(PortRow{"21210", 21210}, PortRow{"21210abc", 21210}, PortRow{"0", 0},
                    PortRow{"65535", 65535}, PortRow{"65536", 0}, PortRow{"70000", 4464},
                    PortRow{"4294967297", 1},
                    // A run of digits far beyond 64 bits must neither overflow nor saturate.
                    PortRow{"99999999999999999999", 65535},
                    PortRow{"000000000000000000000000021", 21}, PortRow{"ftp", 21},
                    PortRow{"http", 80}, PortRow{" 21", 0}, PortRow{"no-such-service", 0},
                    PortRow{"", 0}));

TEST(ParsePort, NoTextGivesZero)
{
    EXPECT_EQ(parsePort(nullptr), 0);
}

struct HostRow {
    std::string text;
    std::uint32_t address;
};

void PrintTo(const HostRow& row, std::ostream* out)
{
    *out << '"' << row.text.substr(0, 20) << '"';
}

class ResolveHostTest : public testing::TestWithParam<HostRow>
{
};

TEST_P(ResolveHostTest, GivesHostOrderAddress)
{
    EXPECT_EQ(resolveHost(GetParam().text.c_str()), GetParam().address) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Rows, ResolveHostTest,
                         testing::Values(HostRow{"192.168.0.1", 0xC0A80001u},
                                         HostRow{"127.0.0.1", 0x7F000001u}, HostRow{"0.0.0.0", 0},
                                         HostRow{"255.255.255.255", kAddressNone},
                                         HostRow{"localhost", 0x7F000001u},
                                         HostRow{kUnresolvableHost, kAddressNone},
                                         HostRow{"", kAddressNone}));

TEST(ResolveHost, NoTextResolvesTheLocalHost)
{
    char dotted[16] = {};
    ASSERT_TRUE(localDottedAddress(dotted, sizeof dotted));
    EXPECT_EQ(resolveHost(nullptr), ntohl(inet_addr(dotted)));
    EXPECT_EQ(resolveHost(nullptr), resolveHost(canonicalLocalName().c_str()));
}

TEST(SocketAddress, BuildStoresNetworkOrderBytes)
{
    SocketAddress record;
    std::memset(static_cast<void*>(&record), 0xAB, sizeof record);
    ASSERT_TRUE(record.buildFromText("192.168.0.1", "21210", 0x10002));
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&record);
    const std::uint8_t expected[16] = {2, 0, 0x52, 0xDA, 192, 168, 0, 1};
    EXPECT_EQ(std::memcmp(bytes, expected, sizeof expected), 0);
    EXPECT_EQ(record.family, AF_INET);
}

TEST(SocketAddress, BuildResultRows)
{
    SocketAddress record;
    EXPECT_FALSE(record.buildFromText("0.0.0.0", "0", AF_INET));
    SocketAddress familyOnly;
    familyOnly.family = AF_INET;
    EXPECT_EQ(std::memcmp(&record, &familyOnly, sizeof record), 0);

    EXPECT_TRUE(record.buildFromText("0.0.0.0", "1", AF_INET));
    EXPECT_EQ(ntohs(record.port), 1);

    // A host that does not resolve is stored as 255.255.255.255 and counts as found.
    EXPECT_TRUE(record.buildFromText(kUnresolvableHost.c_str(), "0", AF_INET));
    EXPECT_EQ(record.address, 0xFFFFFFFFu);

    ASSERT_TRUE(record.buildFromText(nullptr, "0", AF_INET));
    EXPECT_EQ(ntohl(record.address), resolveHost(nullptr));
    EXPECT_EQ(record.port, 0);
}

TEST(SocketAddress, SameEndpointIgnoresTrailingBytesOnly)
{
    SocketAddress a;
    ASSERT_TRUE(a.buildFromText("127.0.0.1", "21210", AF_INET));
    SocketAddress b = a;
    EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0);
    b.zero[0] = 1;
    b.zero[7] = 9;
    EXPECT_TRUE(a.sameEndpoint(b));
    b = a;
    b.port = htons(21211);
    EXPECT_FALSE(a.sameEndpoint(b));
    b = a;
    b.family = AF_INET6;
    EXPECT_FALSE(a.sameEndpoint(b));
    b = a;
    b.address = htonl(0x7F000002u);
    EXPECT_FALSE(a.sameEndpoint(b));
}

TEST(LocalHostName, ParameterAndBufferFaults)
{
    const std::string name = canonicalLocalName();
    ASSERT_FALSE(name.empty());
    char buffer[kHostNameBufferSize];

    setLastError(0);
    EXPECT_FALSE(localHostName(nullptr, sizeof buffer));
    EXPECT_EQ(lastError(), kErrorInvalidParameter);
    setLastError(0);
    EXPECT_FALSE(localHostName(buffer, 0));
    EXPECT_EQ(lastError(), kErrorInvalidParameter);

    // The terminating zero needs room too, and a failure leaves the buffer alone.
    std::memset(buffer, 'x', sizeof buffer);
    setLastError(0);
    EXPECT_FALSE(localHostName(buffer, name.size()));
    EXPECT_EQ(lastError(), kErrorInsufficientBuffer);
    EXPECT_EQ(buffer[0], 'x');

    ASSERT_TRUE(localHostName(buffer, name.size() + 1));
    EXPECT_EQ(name, buffer);
}

TEST(LocalDottedAddress, FitsSixteenBytesAndReportsFaults)
{
    char buffer[16];
    setLastError(0);
    EXPECT_FALSE(localDottedAddress(nullptr, sizeof buffer));
    EXPECT_EQ(lastError(), kErrorInvalidParameter);
    EXPECT_FALSE(localDottedAddress(buffer, 0));

    ASSERT_TRUE(localDottedAddress(buffer, sizeof buffer));
    const std::string dotted = buffer;
    EXPECT_NE(inet_addr(buffer), INADDR_NONE);

    std::memset(buffer, 'x', sizeof buffer);
    setLastError(0);
    EXPECT_FALSE(localDottedAddress(buffer, dotted.size()));
    EXPECT_EQ(lastError(), kErrorInsufficientBuffer);
    EXPECT_EQ(buffer[0], 'x');
}

TEST(LastError, IsKeptPerThread)
{
    setLastError(kErrorInvalidUserBuffer);
    std::uint32_t seenThere = 1;
    std::thread other([&] {
        seenThere = lastError();
        setLastError(kErrorInsufficientBuffer);
    });
    other.join();
    EXPECT_EQ(seenThere, 0u);
    EXPECT_EQ(lastError(), kErrorInvalidUserBuffer);
}

TEST(AcceptOne, GivesCloseOnExecSocketOrInvalid)
{
    LoopbackTcpServer listener;
    ASSERT_TRUE(listener.listening());
    const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    SocketAddress server;
    ASSERT_TRUE(server.buildFromText("127.0.0.1", listener.portText().c_str(), AF_INET));
    ASSERT_EQ(::connect(client, server.asSockaddr(), SocketAddress::kSize), 0);

    const SocketHandle accepted = acceptOne(listener.releaseListener());
    ASSERT_NE(accepted, kInvalidSocket);
    EXPECT_TRUE(::fcntl(accepted, F_GETFD) & FD_CLOEXEC);
    EXPECT_TRUE(shutdownAndClose(accepted));
    ::close(client);

    // A connected socket is not listening.
    setLastError(0);
    const int notListening = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    EXPECT_EQ(acceptOne(notListening), kInvalidSocket);
    EXPECT_EQ(lastError(), static_cast<std::uint32_t>(EINVAL));
    ::close(notListening);
}

TEST(ShutdownAndClose, FalseForClosedSocket)
{
    const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(s, 0);
    EXPECT_TRUE(shutdownAndClose(s));
    setLastError(0);
    EXPECT_FALSE(shutdownAndClose(s));
    EXPECT_EQ(lastError(), static_cast<std::uint32_t>(EBADF));
    EXPECT_FALSE(shutdownAndClose(kInvalidSocket));
}

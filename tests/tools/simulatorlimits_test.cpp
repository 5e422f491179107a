// What the simulator does against peers that would hold it or flood its log:
// idle connections are closed, a flood of records is summarised, and bytes
// from peers are never logged raw.

#include "consoleclient.h"
#include "rowname.h"
#include "simulatorundertest.h"

#include "socket/socketaddress.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <ostream>
#include <string>

using devicetools::SimulatorConfig;
using namespace std::chrono_literals;
using namespace std::string_literals;

namespace
{

constexpr auto kDeadline = 5s;

// A plain TCP connection to the simulator under test on 127.0.0.1; closed by
// the destructor.
class RawClient
{
public:
    explicit RawClient(const std::string& portText)
    {
        net::SocketAddress server;
        server.buildFromText("127.0.0.1", portText.c_str(), AF_INET);
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd_ >= 0 && ::connect(fd_, server.asSockaddr(), net::SocketAddress::kSize) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~RawClient()
    {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool connected() const { return fd_ >= 0; }
    bool send(std::string_view bytes)
    {
        return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    }
    // Reads and drops what comes until the far end closes; true once it has
    // within `limit`.
    bool waitForClose(std::chrono::milliseconds limit)
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        char buffer[256];
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd entry{fd_, POLLIN, 0};
            if (::poll(&entry, 1, 50) <= 0) {
                continue;
            }
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0) {
                return true;
            }
        }
        return false;
    }

private:
    int fd_ = -1;
};

struct IdleRow {
    const char* name;
    std::string sent;
};

void PrintTo(const IdleRow& row, std::ostream* out)
{
    *out << row.name;
}

class SimulatorIdleClient : public testing::TestWithParam<IdleRow>
{
};

// Clients that connect and then hold their slot without a whole record: the
// idle time-out frees the slot, and a refused client is told why in the log.
TEST_P(SimulatorIdleClient, IsClosedAfterTheIdleTimeAndFreesItsSlot)
{
    SimulatorConfig config;
    config.maxClients = 1;
    // Long enough that the second client is refused before the first one's
    // idle time runs out, also on a loaded machine.
    config.idleTimeoutMs = 1500;
    SimulatorUnderTest device(config);
    ASSERT_TRUE(device.started()) << device.startError();
    RawClient holder(device.portText());
    ASSERT_TRUE(holder.connected());
    ASSERT_TRUE(device.waitForLine("connected (1 of at most 1)", kDeadline));
    if (!GetParam().sent.empty()) {
        ASSERT_TRUE(holder.send(GetParam().sent));
    }
    RawClient refused(device.portText());
    ASSERT_TRUE(refused.connected());
    EXPECT_TRUE(refused.waitForClose(kDeadline));
    EXPECT_TRUE(device.waitForLine("refused: all 1 client slots busy", kDeadline));

    EXPECT_TRUE(holder.waitForClose(kDeadline));
    EXPECT_TRUE(
        device.waitForLine("closed: nothing received for 1500 ms (idle time-out)", kDeadline));
    ConsoleClient next(false);
    ASSERT_TRUE(next.connect(device.portText(), false));
    ASSERT_TRUE(next.sendDefaultFrame());
    EXPECT_TRUE(
        next.view().waitForTextEqual("[BA139123439=ENT-Message / Description\r\n", kDeadline))
        << next.view().text();
}

INSTANTIATE_TEST_SUITE_P(Rows, SimulatorIdleClient,
                         testing::Values(IdleRow{"silent", ""},
                                         IdleRow{"partial frame", "[BA139123439=EN"}),
                         rowName<IdleRow>);

TEST(SimulatorLogRate, RecordsBeyondTheRateAreSummarisedPerPeer)
{
    SimulatorConfig config;
    config.logRate = 5;
    SimulatorUnderTest device(config);
    ASSERT_TRUE(device.started()) << device.startError();
    ConsoleClient console(false);
    ASSERT_TRUE(console.connect(device.portText(), false));
    std::string records;
    for (int i = 0; i < 300; ++i) {
        records += "r\n";
    }
    ASSERT_TRUE(console.sendText(records));
    ASSERT_TRUE(device.waitForLine("more records from 127.0.0.1:", kDeadline));
    EXPECT_EQ(device.linesWith("- not a frame").size(), 5u);
    const std::vector<std::string> summary = device.linesWith("more records from");
    ASSERT_EQ(summary.size(), 1u);
    EXPECT_NE(summary.front().find("\u2026 295 more records from 127.0.0.1:"), std::string::npos)
        << summary.front();
    EXPECT_NE(summary.front().find(" in the last second"), std::string::npos);
}

TEST(SimulatorLogText, BytesFromPeersAreLoggedEscaped)
{
    SimulatorUnderTest device;
    ASSERT_TRUE(device.started()) << device.startError();
    ConsoleClient console(false);
    ASSERT_TRUE(console.connect(device.portText(), false));
    // A terminal's colour sequence, a byte above 127 and a frame whose message
    // holds one.
    ASSERT_TRUE(console.sendText("\x1b[31mred\xff"));
    ASSERT_TRUE(console.sendText("[BA1=ENT-caf\xe9"));
    ASSERT_TRUE(device.waitForLine("message=\"caf\\xe9\"", kDeadline));
    EXPECT_EQ(device.linesWith("\"\\x1b[31mred\\xff\"").size(), 1u);
    for (const std::string& line : device.lines()) {
        for (const char c : line) {
            const auto byte = static_cast<unsigned char>(c);
            EXPECT_TRUE(byte >= 0x20 && byte < 0x7f) << "raw byte " << int{byte} << " in " << line;
        }
    }
}

} // namespace

// framesend against hosts that do not resolve, listeners that never accept,
// connections that end before an answer, and field values a device may read
// differently: one exit status and one message for each, whatever the timing.

#include "commandline.h"
#include "framesender.h"
#include "loopbacktcpserver.h"
#include "loopbackudppeer.h"
#include "rowname.h"
#include "senderoptions.h"
#include "senderrun.h"
#include "simulatorundertest.h"

#include "socket/lasterror.h"
#include "socket/socketaddress.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <future>
#include <ostream>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

using devicetools::CommandLine;
using devicetools::FrameSender;
using devicetools::ParseResult;
using devicetools::SenderOptions;
using namespace std::chrono_literals;

namespace
{

constexpr auto kDeadline = 5s;

struct HostRow {
    const char* name;
    std::string host;
    bool udp;
};

void PrintTo(const HostRow& row, std::ostream* out)
{
    *out << row.name;
}

class SenderHost : public testing::TestWithParam<HostRow>
{
};

// None of these reaches a name service: the system refuses them as they stand.
TEST_P(SenderHost, ThatDoesNotResolveIsNamedAsSuch)
{
    SenderOptions options;
    options.host = GetParam().host;
    options.udp = GetParam().udp;
    const SenderRun outcome = runSender(options);
    EXPECT_EQ(outcome.code, FrameSender::kUsageOrConnectionError);
    EXPECT_EQ(outcome.out, "");
    EXPECT_NE(outcome.err.find("cannot resolve host \"" + GetParam().host + '"'), std::string::npos)
        << outcome.err;
}

INSTANTIATE_TEST_SUITE_P(Rows, SenderHost,
                         testing::Values(HostRow{"octet beyond 255 TCP", "999.1.1.1", false},
                                         HostRow{"octet beyond 255 UDP", "999.1.1.1", true},
                                         HostRow{"empty TCP", "", false},
                                         HostRow{"empty UDP", "", true}),
                         rowName<HostRow>);

// A listener whose accept queue is full drops further SYNs, so the connect
// would hang for its own bound; the run's time-out ends it.
TEST(SenderTimeout, BoundsTheConnect)
{
    LoopbackTcpServer listener(0);
    ASSERT_TRUE(listener.listening());
    net::SocketAddress server;
    ASSERT_TRUE(server.buildFromText("127.0.0.1", listener.portText().c_str(), AF_INET));
    std::vector<int> fillers;
    for (int i = 0; i < 4; ++i) {
        fillers.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        ::connect(fillers.back(), server.asSockaddr(), net::SocketAddress::kSize);
    }
    SenderOptions options;
    options.port = listener.portText();
    options.timeoutMs = 300;
    const auto start = std::chrono::steady_clock::now();
    const SenderRun outcome = runSender(options);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    for (const int fd : fillers) {
        ::close(fd);
    }
    EXPECT_EQ(outcome.code, FrameSender::kUsageOrConnectionError) << outcome.err;
    EXPECT_EQ(outcome.err, "framesend: timed out connecting to 127.0.0.1 port " +
                               listener.portText() + " over TCP\n");
    EXPECT_LT(elapsed, kDeadline);
}

// How a TCP device ends the connection after reading the frame, before any
// answer: a close or a reset. Either is a connection error, said on standard
// error, with nothing on standard output.
struct EndRow {
    const char* name;
    bool reset;
};

void PrintTo(const EndRow& row, std::ostream* out)
{
    *out << row.name;
}

class SenderConnectionEnd : public testing::TestWithParam<EndRow>
{
};

TEST_P(SenderConnectionEnd, BeforeAnAnswerIsAConnectionError)
{
    LoopbackTcpServer device;
    ASSERT_TRUE(device.listening());
    SenderOptions options;
    options.port = device.portText();
    options.timeoutMs = 3000;
    auto running = std::async(std::launch::async, [options] { return runSender(options); });
    ASSERT_TRUE(device.accept(kDeadline));
    std::string block;
    ASSERT_TRUE(device.receive(block, kDeadline));
    if (GetParam().reset) {
        const linger abort{1, 0};
        ::setsockopt(device.connection(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    }
    device.closeConnection();
    ASSERT_EQ(running.wait_for(kDeadline), std::future_status::ready);
    const SenderRun outcome = running.get();
    EXPECT_EQ(outcome.code, FrameSender::kUsageOrConnectionError);
    EXPECT_EQ(outcome.out, "");
    EXPECT_NE(outcome.err.find("the connection ended before an answer passed the check"),
              std::string::npos)
        << outcome.err;
}

INSTANTIATE_TEST_SUITE_P(Rows, SenderConnectionEnd,
                         testing::Values(EndRow{"close", false}, EndRow{"reset", true}),
                         rowName<EndRow>);

// Over UDP the end of the exchange is an empty datagram.
TEST(SenderConnectionEndUdp, EmptyDatagramBeforeAnAnswerIsAConnectionError)
{
    LoopbackUdpPeer device;
    ASSERT_TRUE(device.bound());
    SenderOptions options;
    options.port = device.portText();
    options.udp = true;
    options.timeoutMs = 3000;
    auto running = std::async(std::launch::async, [options] { return runSender(options); });
    std::string datagram;
    ASSERT_TRUE(device.receive(datagram, kDeadline));
    ASSERT_TRUE(device.sendToSender(""));
    ASSERT_EQ(running.wait_for(kDeadline), std::future_status::ready);
    const SenderRun outcome = running.get();
    EXPECT_EQ(outcome.code, FrameSender::kUsageOrConnectionError);
    EXPECT_EQ(outcome.out, "");
    EXPECT_NE(outcome.err.find("ended before an answer"), std::string::npos) << outcome.err;
}

// The socket layer's own last-error codes are no errno values: read as one,
// a bad parameter (87) said "Too many users" and a short buffer (122) "Disk
// quota exceeded". What the sender prints for a failed read or write.
TEST(SenderErrorText, BadParameterIsNotTooManyUsersNorShortBufferDiskQuotaExceeded)
{
    const auto textOf = [](std::uint32_t code) {
        net::setLastError(code);
        return net::errorOfLastErrorCode(net::lastError()).text();
    };
    EXPECT_EQ(textOf(net::kErrorInvalidParameter), "invalid parameter (no buffer, or a size of 0)");
    EXPECT_EQ(textOf(net::kErrorInsufficientBuffer), "the buffer is too small");
    EXPECT_EQ(textOf(net::kErrorInvalidUserBuffer), "no room for the 16-byte address header");
    EXPECT_EQ(textOf(ECONNRESET), std::system_category().message(ECONNRESET));
}

struct WarningRow {
    const char* name;
    std::vector<std::string> arguments;
    std::vector<std::string> warnings; // a part of each expected warning, in order
};

void PrintTo(const WarningRow& row, std::ostream* out)
{
    *out << row.name;
}

const std::vector<WarningRow> kWarningRows = {
    {"defaults", {}, {}},
    {"only the command's first three characters count", {"--command", "EXT -  Exit"}, {}},
    {"equal in the data", {"--data", "1=2"}, {"the data holds the delimiter '='"}},
    {"delimiters are no trouble in RELEASE", {"--release", "--data", "1=2-3["}, {}},
    {"start in the device id", {"--id", "A["}, {"the device id holds the delimiter '['"}},
    {"control byte in the message",
     {"--release", "--message", "a\x07z"},
     {"the message holds the control byte \\x07"}},
    {"line breaks in two fields",
     {"--media", "\n", "--message", "a\r\nb"},
     {"the media holds a line break", "the message holds a line break"}},
    {"line break in a text", {"--text", "a\nb"}, {"the text holds a line break"}},
    {"a text may hold delimiters", {"--text", "[a=b-c"}, {}},
};

class SenderFieldWarning : public testing::TestWithParam<WarningRow>
{
};

TEST_P(SenderFieldWarning, NamesEachFieldTheDeviceMayReadDifferently)
{
    CommandLine line(GetParam().arguments);
    SenderOptions options;
    const base::Result<ParseResult> parsed = devicetools::parseSenderArguments(line, options);
    ASSERT_TRUE(parsed && *parsed == ParseResult::Run) << parsed.error().text();
    const std::vector<std::string> warnings = devicetools::fieldWarnings(options);
    ASSERT_EQ(warnings.size(), GetParam().warnings.size());
    for (std::size_t i = 0; i < warnings.size(); ++i) {
        EXPECT_NE(warnings[i].find(GetParam().warnings[i]), std::string::npos) << warnings[i];
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, SenderFieldWarning, testing::ValuesIn(kWarningRows),
                         rowName<WarningRow>);

// The warning goes to standard error; the frame goes out as given.
TEST(SenderFieldWarningRun, WarnsAndSendsTheFrameAsGiven)
{
    SimulatorUnderTest device;
    ASSERT_TRUE(device.started()) << device.startError();
    SenderOptions options;
    options.port = device.portText();
    options.timeoutMs = 3000;
    options.fields.data = "1=2";
    const SenderRun outcome = runSender(options);
    EXPECT_NE(outcome.err.find("framesend: warning: the data holds the delimiter '='"),
              std::string::npos)
        << outcome.err;
    EXPECT_TRUE(device.waitForLine("data=\"1=2\"", kDeadline));
    EXPECT_EQ(outcome.out.find("warning"), std::string::npos);
}

} // namespace

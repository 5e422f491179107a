#include "commandline.h"
#include "framesender.h"
#include "loopbacktcpserver.h"
#include "loopbackudppeer.h"
#include "rowname.h"
#include "senderrun.h"
#include "simulatorarguments.h"
#include "simulatorundertest.h"

#include <gtest/gtest.h>

#include <sys/socket.h>

#include <algorithm>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

using devicetools::CommandLine;
using devicetools::FrameSender;
using devicetools::ParseResult;
using devicetools::SenderOptions;
using devicetools::SimulatorConfig;

namespace
{

constexpr std::uint32_t kTimeoutMs = 3000;
// For runs that wait for an answer that never comes.
constexpr std::uint32_t kShortTimeoutMs = 200;
const std::string kShown = "[BA139123439=ENT-Message / Description\n";

SenderOptions towards(const SimulatorUnderTest& device)
{
    SenderOptions options;
    options.port = device.portText();
    options.timeoutMs = kTimeoutMs;
    return options;
}

// A loopback port on which nothing listens: bound by the system, then freed.
std::string freePort(int type)
{
    if (type == SOCK_DGRAM)
        return LoopbackUdpPeer().portText();
    return LoopbackTcpServer().portText();
}

struct SendRow {
    const char* name;
    bool udp;
    bool release;
};

void PrintTo(const SendRow& row, std::ostream* out)
{
    *out << row.name;
}

class SenderAgainstSimulator : public testing::TestWithParam<SendRow>
{
};

TEST_P(SenderAgainstSimulator, GetsTheEchoThroughTheCheck)
{
    SimulatorUnderTest device;
    ASSERT_TRUE(device.started()) << device.startError();
    SenderOptions options = towards(device);
    options.udp = GetParam().udp;
    options.mode =
        GetParam().release ? protocol::DelimiterMode::Release : protocol::DelimiterMode::Demo;
    const SenderRun outcome = runSender(options);
    EXPECT_EQ(outcome.code, FrameSender::kAnswerPassed) << outcome.err;
    EXPECT_EQ(outcome.out, kShown);
    EXPECT_TRUE(device.waitForLine(GetParam().release ? "RELEASE media=B" : "DEMO media=B",
                                   std::chrono::seconds(5)));
}

INSTANTIATE_TEST_SUITE_P(Rows, SenderAgainstSimulator,
                         testing::Values(SendRow{"TCP DEMO", false, false},
                                         SendRow{"TCP RELEASE", false, true},
                                         SendRow{"UDP DEMO", true, false},
                                         SendRow{"UDP RELEASE", true, true}),
                         rowName<SendRow>);

TEST(SenderOutcome, FreeTextWithoutAnswerExitsOne)
{
    SimulatorUnderTest device;
    ASSERT_TRUE(device.started()) << device.startError();
    SenderOptions options = towards(device);
    options.text = "hello";
    options.timeoutMs = kShortTimeoutMs;
    const SenderRun outcome = runSender(options);
    EXPECT_EQ(outcome.code, FrameSender::kNoGoodAnswer);
    EXPECT_EQ(outcome.out, "");
}

TEST(SenderOutcome, MalformedAnswerShowsTheErrorLineAndExitsOne)
{
    SimulatorConfig config;
    config.faults.malformed = true;
    SimulatorUnderTest device(config);
    ASSERT_TRUE(device.started()) << device.startError();
    SenderOptions options = towards(device);
    options.timeoutMs = kShortTimeoutMs;
    const SenderRun outcome = runSender(options);
    EXPECT_EQ(outcome.code, FrameSender::kNoGoodAnswer);
    EXPECT_EQ(outcome.out, "Error received data !\n");
}

TEST(SenderOutcome, AnswerThenCloseShowsBothAndExitsZero)
{
    SimulatorConfig config;
    config.faults.closeAfterFrames = 1;
    SimulatorUnderTest device(config);
    ASSERT_TRUE(device.started()) << device.startError();
    SenderOptions options = towards(device);
    options.hex = true;
    const SenderRun outcome = runSender(options);
    EXPECT_EQ(outcome.code, FrameSender::kAnswerPassed) << outcome.err;
    EXPECT_EQ(outcome.out, "<- 41 bytes: 5b 42 41 31 33 39 31 32 33 34 33 39 3d 45 4e 54 2d 4d 65 "
                           "73 73 61 67 65 20 2f 20 44 65 73 63 72 69 70 74 69 6f 6e 0d 0a 00\n" +
                               kShown + "Connection Abandonned\n");
}

TEST(SenderOutcome, NothingListeningIsAConnectionError)
{
    for (const bool udp : {false, true}) {
        SCOPED_TRACE(udp ? "UDP" : "TCP");
        SenderOptions options;
        options.port = freePort(udp ? SOCK_DGRAM : SOCK_STREAM);
        options.udp = udp;
        options.timeoutMs = kTimeoutMs;
        const SenderRun outcome = runSender(options);
        EXPECT_EQ(outcome.code, FrameSender::kUsageOrConnectionError);
        EXPECT_NE(outcome.err.find("refused"), std::string::npos) << outcome.err;
    }
}

// --- command lines --------------------------------------------------------------

// A parser's outcome as a row tells it.
enum class Parsed { Run, Help, UsageError };

Parsed parsedOf(const base::Result<ParseResult>& result)
{
    if (!result) {
        return Parsed::UsageError;
    }
    return *result == ParseResult::Run ? Parsed::Run : Parsed::Help;
}

struct ArgumentRow {
    const char* name;
    std::vector<std::string> arguments;
    Parsed result;
    std::string errorPart;
};

void PrintTo(const ArgumentRow& row, std::ostream* out)
{
    *out << row.name;
}

const std::vector<ArgumentRow> kSenderRows = {
    {"defaults", {}, Parsed::Run, ""},
    {"attached values", {"--port=21211", "--udp", "--release", "--hex"}, Parsed::Run, ""},
    {"help", {"--port", "1", "--help"}, Parsed::Help, ""},
    {"port 0", {"--port", "0"}, Parsed::UsageError, "--port takes a number"},
    {"port too big", {"--port", "65536"}, Parsed::UsageError, "--port takes a number"},
    {"missing value", {"--timeout"}, Parsed::UsageError, "--timeout needs a value"},
    {"value for a switch", {"--hex=1"}, Parsed::UsageError, "--hex takes no value"},
    {"unknown option", {"--bogus"}, Parsed::UsageError, "unknown option \"--bogus\""},
    {"short command",
     {"--command", "EN", "--media", ""},
     Parsed::UsageError,
     "Error Command, have to be added !"},
    {"no media",
     {"--media", "", "--id", "A"},
     Parsed::UsageError,
     "Error Media, have to be added !"},
    {"short device id", {"--id", "A"}, Parsed::UsageError, "Error Device Id, have to be added !"},
    {"data too long", {"--data", std::string(37, '1')}, Parsed::UsageError, "at most 36"},
    {"empty text", {"--text", ""}, Parsed::UsageError, "1 to 2045"},
    {"text too long", {"--text", std::string(2046, 't')}, Parsed::UsageError, "1 to 2045"},
};

class SenderArguments : public testing::TestWithParam<ArgumentRow>
{
};

TEST_P(SenderArguments, ParseOrNameTheFault)
{
    CommandLine line(GetParam().arguments);
    SenderOptions options;
    const base::Result<ParseResult> parsed = devicetools::parseSenderArguments(line, options);
    EXPECT_EQ(parsedOf(parsed), GetParam().result);
    const std::string error = parsed.error().text();
    if (!GetParam().errorPart.empty()) {
        EXPECT_NE(error.find(GetParam().errorPart), std::string::npos) << error;
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, SenderArguments, testing::ValuesIn(kSenderRows),
                         rowName<ArgumentRow>);

const std::vector<ArgumentRow> kSimulatorRows = {
    {"every fault",
     {"--port", "0", "--close-after=3", "--malformed", "--nul-inside", "--split-at", "3,10",
      "--split-pause", "20", "--flood", "5", "--flood-for", "100", "--no-echo", "--max-clients",
      "64"},
     Parsed::Run,
     ""},
    {"split offsets not ascending",
     {"--split-at", "10,3"},
     Parsed::UsageError,
     "--split-at takes ascending"},
    {"split offset 0", {"--split-at", "0,3"}, Parsed::UsageError, "--split-at"},
    {"flood rate 0", {"--flood", "0"}, Parsed::UsageError, "--flood takes a number from 1"},
    {"flood too long", {"--flood-for", "60001"}, Parsed::UsageError, "to 60000"},
    {"too many clients", {"--max-clients", "65"}, Parsed::UsageError, "from 1 to 64"},
    {"port too big", {"--port", "65536"}, Parsed::UsageError, "to 65535"},
    {"rule file missing",
     {"--rules", "/nonexistent/rules"},
     Parsed::UsageError,
     "cannot read the rule file"},
    {"dialing with events",
     {"--connect", "localhost:21210", "--devices", "3", "--events", "0.5", "--event-mode",
      "release", "--dial-rate", "10"},
     Parsed::Run,
     ""},
    {"connect without a port", {"--connect", "localhost"}, Parsed::UsageError, "HOST:PORT"},
    {"connect to port 0", {"--connect", "h:0"}, Parsed::UsageError, "HOST:PORT"},
    {"connect and listen",
     {"--connect", "h:1", "--port", "5"},
     Parsed::UsageError,
     "--connect dials out"},
    {"events rate 0", {"--events", "0"}, Parsed::UsageError, "--events takes"},
    {"events rate not a number", {"--events", "1e3"}, Parsed::UsageError, "--events takes"},
    {"event mode unknown", {"--event-mode", "fast"}, Parsed::UsageError, "demo or release"},
    {"tls listening on IPv6", {"--tls", "--address", "::", "--port", "0"}, Parsed::Run, ""},
    {"tls dialing IPv6 pinned",
     {"--tls", "--connect", "[::1]:21210", "--pin", std::string(64, 'a')},
     Parsed::Run,
     ""},
    {"bare IPv6 host to dial", {"--connect", "::1:21210"}, Parsed::UsageError, "in brackets"},
    {"pin while listening",
     {"--tls", "--pin", std::string(64, 'a')},
     Parsed::UsageError,
     "judge the host a device dials"},
    {"cert without tls", {"--cert", "c.pem", "--key", "k.pem"}, Parsed::UsageError, "need --tls"},
};

class SimulatorArguments : public testing::TestWithParam<ArgumentRow>
{
};

TEST_P(SimulatorArguments, ParseOrNameTheFault)
{
    CommandLine line(GetParam().arguments);
    SimulatorConfig config;
    const base::Result<ParseResult> parsed = devicetools::parseSimulatorArguments(line, config);
    EXPECT_EQ(parsedOf(parsed), GetParam().result);
    const std::string error = parsed.error().text();
    if (!GetParam().errorPart.empty()) {
        EXPECT_NE(error.find(GetParam().errorPart), std::string::npos) << error;
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, SimulatorArguments, testing::ValuesIn(kSimulatorRows),
                         rowName<ArgumentRow>);

TEST(SimulatorArgumentsValues, EveryOptionReachesTheConfig)
{
    CommandLine line(kSimulatorRows.front().arguments);
    SimulatorConfig config;
    const base::Result<ParseResult> parsed = devicetools::parseSimulatorArguments(line, config);
    ASSERT_TRUE(parsed && *parsed == ParseResult::Run) << parsed.error().text();
    EXPECT_EQ(config.port, 0);
    EXPECT_FALSE(config.echo);
    EXPECT_EQ(config.maxClients, 64u);
    EXPECT_EQ(config.faults.closeAfterFrames, 3u);
    EXPECT_TRUE(config.faults.malformed);
    EXPECT_TRUE(config.faults.nulInside);
    EXPECT_EQ(config.faults.splitAt, (std::vector<std::uint32_t>{3, 10}));
    EXPECT_EQ(config.faults.splitPauseMs, 20u);
    EXPECT_EQ(config.faults.floodRate, 5u);
    EXPECT_EQ(config.faults.floodForMs, 100u);
}

TEST(SimulatorArgumentsValues, DialingOptionsReachTheConfigAndDropTheIdleTimeOut)
{
    const auto dialing =
        std::find_if(kSimulatorRows.begin(), kSimulatorRows.end(), [](const ArgumentRow& row) {
            return std::string(row.name) == "dialing with events";
        });
    CommandLine line(dialing->arguments);
    SimulatorConfig config;
    ASSERT_TRUE(devicetools::parseSimulatorArguments(line, config));
    EXPECT_EQ(config.connectHost, "localhost");
    EXPECT_EQ(config.connectPort, 21210);
    EXPECT_EQ(config.devices, 3u);
    EXPECT_EQ(config.eventsPerSecond, 0.5);
    EXPECT_EQ(config.eventMode, protocol::DelimiterMode::Release);
    EXPECT_EQ(config.dialRate, 10u);
    // A device keeps the connection it made unless told otherwise.
    EXPECT_EQ(config.idleTimeoutMs, 0u);
}

} // namespace

#include "consoleclient.h"
#include "rowname.h"
#include "simulatorundertest.h"

#include "protocol/messageviewchannel.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ostream>
#include <string>
#include <vector>

using devicetools::SimulatorConfig;
using namespace std::chrono_literals;
using namespace std::string_literals;

namespace
{

constexpr auto kDeadline = 5s;
const std::string kEcho = "[BA139123439=ENT-Message / Description\r\n";
const std::string kEchoOnWire = "[BA139123439=ENT-Message / Description\r\n\0"s;
const std::string kError = "Error received data !\r\n";
const std::string kDropped = "Connection Abandonned\r\n";
const std::string kFields =
    R"(media=B id=A1 data="39123439" command=ENT message="Message / Description")";

struct Transport {
    const char* name;
    bool udp;
    bool release;
};

void PrintTo(const Transport& row, std::ostream* out)
{
    *out << row.name;
}

const std::vector<Transport> kTransports = {
    {"TCP DEMO", false, false},
    {"TCP RELEASE", false, true},
    {"UDP DEMO", true, false},
    {"UDP RELEASE", true, true},
};

class SimulatorEcho : public testing::TestWithParam<Transport>
{
};

// The console sends its default frame; the simulator logs it decoded, with
// its mode, and echoes it in that mode, so the console's check passes and the
// view shows the frame with '[' '=' '-' whatever the mode.
TEST_P(SimulatorEcho, EchoesTheFrameInItsModeAndLogsItDecoded)
{
    SimulatorUnderTest device;
    ASSERT_TRUE(device.started()) << device.startError();
    ConsoleClient console(GetParam().release);
    ASSERT_TRUE(console.connect(device.portText(), GetParam().udp));
    ASSERT_TRUE(console.sendDefaultFrame());

    EXPECT_TRUE(console.view().waitForTextEqual(kEcho, kDeadline)) << console.view().text();
    const std::string mode = GetParam().release ? "RELEASE " : "DEMO ";
    const std::string peer = GetParam().udp ? " udp " : " tcp ";
    ASSERT_TRUE(device.waitForLine(mode + kFields, kDeadline));
    EXPECT_NE(device.linesWith(mode + kFields).front().find(peer), std::string::npos);
    const std::string release = "\x07"
                                "BA139123439\x08"
                                "ENT\x09"
                                "Message / Description\r\n\0"s;
    EXPECT_EQ(console.received(), GetParam().release ? release : kEchoOnWire);
}

INSTANTIATE_TEST_SUITE_P(Transports, SimulatorEcho, testing::ValuesIn(kTransports),
                         rowName<Transport>);

TEST(SimulatorText, FreeTextIsLoggedInHexAndGetsNoAnswer)
{
    SimulatorUnderTest device;
    ASSERT_TRUE(device.started()) << device.startError();
    ConsoleClient console(false);
    ASSERT_TRUE(console.connect(device.portText(), false));
    ASSERT_TRUE(console.sendText("abc"));
    ASSERT_TRUE(console.sendDefaultFrame());
    // The frame's echo shows that the text before it was handled: unanswered.
    EXPECT_TRUE(console.view().waitForTextEqual(kEcho, kDeadline)) << console.view().text();
    EXPECT_EQ(device.linesWith("- not a frame, 3 bytes: 61 62 63 \"abc\"").size(), 1u);
}

TEST(SimulatorClients, ServesSeveralAtOnceAndRefusesBeyondTheLimit)
{
    SimulatorConfig config;
    config.maxClients = 2;
    SimulatorUnderTest device(config);
    ASSERT_TRUE(device.started()) << device.startError();
    ConsoleClient first(false);
    ConsoleClient second(true);
    ASSERT_TRUE(first.connect(device.portText(), false));
    ASSERT_TRUE(second.connect(device.portText(), false));
    ASSERT_TRUE(first.sendDefaultFrame());
    ASSERT_TRUE(second.sendDefaultFrame());
    EXPECT_TRUE(first.view().waitForTextEqual(kEcho, kDeadline));
    EXPECT_TRUE(second.view().waitForTextEqual(kEcho, kDeadline));

    ConsoleClient third(false);
    ASSERT_TRUE(third.connect(device.portText(), false));
    EXPECT_TRUE(third.view().waitForTextEqual(kDropped, kDeadline)) << third.view().text();
    EXPECT_TRUE(device.waitForLine("refused: all 2 client slots busy", kDeadline));
}

TEST(SimulatorStop, DropsItsClientsAndEndsAFloodAtOnce)
{
    SimulatorConfig config;
    config.faults.floodRate = 10;
    config.faults.floodForMs = devicetools::FaultModes::kMaxFloodForMs;
    SimulatorUnderTest device(config);
    ASSERT_TRUE(device.started()) << device.startError();
    ConsoleClient console(false);
    ASSERT_TRUE(console.connect(device.portText(), false));
    ASSERT_TRUE(console.sendDefaultFrame());
    ASSERT_TRUE(device.waitForLine("flood: 600 frames at 10/s begin", kDeadline));

    const auto before = std::chrono::steady_clock::now();
    device.simulator().stop();
    // A stop that waited for the flood would take a minute.
    EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);
    EXPECT_EQ(device.simulator().activeClients(), 0u);
    EXPECT_TRUE(console.view().waitForText(
        [](const std::string& text) { return text.ends_with(kDropped); }, kDeadline));
}

// --- reply rules ------------------------------------------------------------

struct RuleRow {
    const char* name;
    bool release;
    const char* command;
    std::string view;
};

void PrintTo(const RuleRow& row, std::ostream* out)
{
    *out << row.name;
}

const std::vector<RuleRow> kRuleRows = {
    {"frame rule DEMO", false, "ENT -  Entrence",
     "[BA139123439=ACK-Welcome Message / Description\r\n"},
    {"frame rule RELEASE", true, "ENT -  Entrence",
     "[BA139123439=ACK-Welcome Message / Description\r\n"},
    {"text rule fails the check", false, "ERR -  Error", kError},
    {"no rule echoes", true, "EXT -  Exit", "[BA139123439=EXT-Message / Description\r\n"},
};

class SimulatorRules : public testing::TestWithParam<RuleRow>
{
};

// IGN gets no answer; the second frame's answer is then the whole view.
TEST_P(SimulatorRules, AnswerAsTheRuleFileSays)
{
    const auto rules = devicetools::ReplyRules::parse("ENT => frame [{media}{id}{data}=ACK-Welcome "
                                                      "{message}\n"
                                                      "ERR => text Error {message}\n"
                                                      "IGN => none\n");
    ASSERT_TRUE(rules) << rules.error().text();
    SimulatorConfig config;
    config.rules = *rules;
    SimulatorUnderTest device(config);
    ASSERT_TRUE(device.started()) << device.startError();
    ConsoleClient console(GetParam().release);
    ASSERT_TRUE(console.connect(device.portText(), false));
    ASSERT_TRUE(console.sendFrame("B", "A1", "", "IGN  -  Ignore", ""));
    ASSERT_TRUE(
        console.sendFrame("B", "A1", "39123439", GetParam().command, "Message / Description"));
    EXPECT_TRUE(console.view().waitForTextEqual(GetParam().view, kDeadline))
        << console.view().text();
    EXPECT_EQ(device.linesWith("command=IGN").size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Rows, SimulatorRules, testing::ValuesIn(kRuleRows), rowName<RuleRow>);

// --- fault modes, as the console sees them ------------------------------------

class SimulatorFault : public testing::TestWithParam<Transport>
{
};

TEST_P(SimulatorFault, CloseAfterTwoFramesDropsTheConnection)
{
    SimulatorConfig config;
    config.faults.closeAfterFrames = 2;
    SimulatorUnderTest device(config);
    ASSERT_TRUE(device.started()) << device.startError();
    ConsoleClient console(GetParam().release);
    ASSERT_TRUE(console.connect(device.portText(), GetParam().udp));
    ASSERT_TRUE(console.sendDefaultFrame());
    ASSERT_TRUE(console.view().waitForTextEqual(kEcho, kDeadline));
    ASSERT_TRUE(console.sendDefaultFrame());

    EXPECT_TRUE(console.view().waitForTextEqual(kEcho + kEcho + kDropped, kDeadline))
        << console.view().text();
    ASSERT_TRUE(console.view().waitForPosts(1, kDeadline));
    EXPECT_EQ(console.view().posted().front(),
              std::make_pair(protocol::MessageViewChannel::kSocketEventMessage, std::uintptr_t{2}));
    EXPECT_TRUE(device.waitForLine("fault: ", kDeadline));
}

INSTANTIATE_TEST_SUITE_P(Transports, SimulatorFault, testing::ValuesIn(kTransports),
                         rowName<Transport>);

TEST(SimulatorFaults, MalformedAnswerShowsTheErrorLine)
{
    SimulatorConfig config;
    config.faults.malformed = true;
    SimulatorUnderTest device(config);
    ASSERT_TRUE(device.started()) << device.startError();
    ConsoleClient console(false);
    ASSERT_TRUE(console.connect(device.portText(), false));
    ASSERT_TRUE(console.sendDefaultFrame());
    EXPECT_TRUE(console.view().waitForTextEqual(kError, kDeadline)) << console.view().text();
}

TEST(SimulatorFaults, SplitAnswerArrivesAsSeveralBlocksEachFailingTheCheck)
{
    SimulatorConfig config;
    config.faults.splitAt = {3, 10};
    SimulatorUnderTest device(config);
    ASSERT_TRUE(device.started()) << device.startError();
    ConsoleClient console(false);
    ASSERT_TRUE(console.connect(device.portText(), false));
    ASSERT_TRUE(console.sendDefaultFrame());

    ASSERT_TRUE(console.waitForReceived([](const std::string& all) { return all == kEchoOnWire; },
                                        kDeadline));
    const std::size_t blocks = console.blocks().size();
    // Three pieces, 50 ms apart: at least two blocks even on a loaded machine.
    EXPECT_GE(blocks, 2u);
    std::string errors;
    for (std::size_t i = 0; i < blocks; ++i) {
        errors += kError;
    }
    EXPECT_TRUE(console.view().waitForTextEqual(errors, kDeadline)) << console.view().text();
}

TEST(SimulatorFaults, NulInsideCutsTheShownAnswer)
{
    SimulatorConfig config;
    config.faults.nulInside = true;
    SimulatorUnderTest device(config);
    ASSERT_TRUE(device.started()) << device.startError();
    ConsoleClient console(true);
    ASSERT_TRUE(console.connect(device.portText(), true));
    ASSERT_TRUE(console.sendDefaultFrame());
    // 38 characters of frame: the NUL stands after the first 19.
    EXPECT_TRUE(console.view().waitForTextEqual("[BA139123439=ENT-Me", kDeadline))
        << console.view().text();
    EXPECT_EQ(console.received().size(), kEchoOnWire.size() + 1);
}

TEST(SimulatorFaults, FloodSendsItsCountOfNumberedFrames)
{
    SimulatorConfig config;
    config.faults.floodRate = 200;
    config.faults.floodForMs = 250;
    SimulatorUnderTest device(config);
    ASSERT_TRUE(device.started()) << device.startError();
    ConsoleClient console(false);
    ASSERT_TRUE(console.connect(device.portText(), false));
    ASSERT_TRUE(console.sendFrame("B", "A1", "", "TIM", ""));

    std::string expected = "[BA1=TIM-\r\n\0"s;
    for (int i = 1; i <= 50; ++i) {
        expected += "[BA1" + std::to_string(i) + "=TIM-flood\r\n\0"s;
    }
    EXPECT_TRUE(console.waitForReceived(
        [&](const std::string& all) { return all.size() >= expected.size(); }, kDeadline));
    EXPECT_EQ(console.received(), expected);
    EXPECT_TRUE(device.waitForLine("flood: 50 of 50 frames sent", kDeadline));
}

} // namespace

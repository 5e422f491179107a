#include "childprocess.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <regex>
#include <string>
#include <vector>

using namespace std::chrono_literals;

namespace
{

constexpr auto kDeadline = 10s;
const std::string kSimulator = DEVICESIM_PATH;
const std::string kSender = FRAMESEND_PATH;

TEST(Programs, HelpAndUsageErrors)
{
    for (const std::string& program : {kSimulator, kSender}) {
        SCOPED_TRACE(program);
        const ProcessResult help = runProcess(program, {"--help"}, kDeadline);
        EXPECT_EQ(help.code, 0);
        EXPECT_NE(help.output.find("Usage: "), std::string::npos);
        EXPECT_NE(help.output.find("Examples:"), std::string::npos);
        const ProcessResult wrong = runProcess(program, {"--bogus"}, kDeadline);
        EXPECT_EQ(wrong.code, 2);
        EXPECT_NE(wrong.output.find("unknown option"), std::string::npos) << wrong.output;
    }
}

// The two programs as a script uses them: the simulator on a port of its
// choosing, the sender's exit codes against it, and a clean stop on SIGTERM.
TEST(Programs, SenderExitCodesAgainstTheSimulator)
{
    ChildProcess simulator(kSimulator, {"--port", "0"});
    ASSERT_TRUE(simulator.started());
    ASSERT_TRUE(simulator.waitForLine("Ctrl+C stops.", kDeadline)) << simulator.output();
    std::smatch found;
    ASSERT_TRUE(std::regex_search(simulator.output(), found,
                                  std::regex("listening on 127\\.0\\.0\\.1 port ([0-9]+) ")));
    const std::string port = found[1];

    const ProcessResult frame = runProcess(kSender, {"--port", port, "--release"}, kDeadline);
    EXPECT_EQ(frame.code, 0) << frame.output;
    EXPECT_EQ(frame.output, "[BA139123439=ENT-Message / Description\n");

    const ProcessResult text = runProcess(
        kSender, {"--port", port, "--udp", "--text", "hi", "--timeout", "200"}, kDeadline);
    EXPECT_EQ(text.code, 1) << text.output;

    const ProcessResult usage = runProcess(kSender, {"--port", port, "--command", "EN"}, kDeadline);
    EXPECT_EQ(usage.code, 2);
    EXPECT_NE(usage.output.find("Error Command, have to be added !"), std::string::npos);

    simulator.signal(SIGTERM);
    EXPECT_EQ(simulator.wait(kDeadline), 0) << simulator.output();
    EXPECT_NE(simulator.output().find("tcp 127.0.0.1:"), std::string::npos);
    EXPECT_NE(simulator.output().find("RELEASE media=B id=A1 data=\"39123439\" command=ENT"),
              std::string::npos)
        << simulator.output();
    EXPECT_NE(simulator.output().find("- not a frame, 2 bytes: 68 69 \"hi\""), std::string::npos);
    EXPECT_NE(simulator.output().find("devicesim stopping on SIGTERM"), std::string::npos);

    // Nothing listens on the port any more.
    const ProcessResult refused = runProcess(kSender, {"--port", port}, kDeadline);
    EXPECT_EQ(refused.code, 2) << refused.output;
}

} // namespace

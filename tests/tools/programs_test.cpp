#include "childprocess.h"
#include "consoleclient.h"
#include "loopbacktcpserver.h"
#include "waituntil.h"

#include "socket/socketaddress.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <regex>
#include <string>
#include <vector>

using namespace std::chrono_literals;

namespace
{

constexpr auto kDeadline = 10s;
const std::string kSimulator = DEVICESIM_PATH;
const std::string kSender = FRAMESEND_PATH;
const std::string kChecker = DEVICECHECK_PATH;
const std::string kEcho = "[BA139123439=ENT-Message / Description\r\n";

// The port the simulator announces in its start line.
std::string announcedPort(ChildProcess& simulator)
{
    if (!simulator.waitForLine("Ctrl+C stops.", kDeadline)) {
        return {};
    }
    std::smatch found;
    const std::string output = simulator.output();
    if (!std::regex_search(output, found,
                           std::regex("listening on 127\\.0\\.0\\.1 port ([0-9]+) "))) {
        return {};
    }
    return found[1];
}

// A TCP connection to 127.0.0.1, or -1. A non-blocking one is left to finish
// (or not) in the background.
int connectTo(const std::string& port, int flags = 0)
{
    net::SocketAddress server;
    server.buildFromText("127.0.0.1", port.c_str(), AF_INET);
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | flags, 0);
    if (fd >= 0 && ::connect(fd, server.asSockaddr(), net::SocketAddress::kSize) != 0 &&
        errno != EINPROGRESS) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// The console's default frame, answered by the echo within the deadline.
bool echoes(const std::string& port, bool udp)
{
    ConsoleClient console(false);
    return console.connect(port, udp) && console.sendDefaultFrame() &&
           console.view().waitForTextEqual(kEcho, kDeadline);
}

TEST(Programs, HelpAndUsageErrors)
{
    for (const std::string& program : {kSimulator, kSender, kChecker}) {
        SCOPED_TRACE(program);
        const ProcessResult help = runProcess(program, {"--help"}, kDeadline);
        EXPECT_EQ(help.code, 0);
        EXPECT_NE(help.output.find("Usage: "), std::string::npos);
        EXPECT_NE(help.output.find("Examples:"), std::string::npos);
        EXPECT_NE(help.output.find("Exit status"), std::string::npos);
        const ProcessResult wrong = runProcess(program, {"--bogus"}, kDeadline);
        EXPECT_EQ(wrong.code, 2);
        EXPECT_NE(wrong.output.find("unknown option"), std::string::npos) << wrong.output;
        // A terminal's clear-screen sequence in an argument comes back escaped.
        const ProcessResult control = runProcess(program, {"--x\x1b[2J"}, kDeadline);
        EXPECT_EQ(control.code, 2);
        EXPECT_NE(control.output.find("\"--x\\x1b[2J\""), std::string::npos) << control.output;
        EXPECT_EQ(control.output.find('\x1b'), std::string::npos);
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

// devicesim | sleep 600 with a client sending records fast: the pipe fills
// and is never read (or its reader goes), and yet both transports go on
// answering and SIGTERM ends the simulator with status 0 (its own bound is a
// second; the test allows more).
class ProgramsStalledOutput : public testing::TestWithParam<bool>
{
};

TEST_P(ProgramsStalledOutput, SimulatorServesAndStopsWhateverItsOutputDoes)
{
    // A port that was free a moment ago; the output that would name a port of
    // the simulator's choosing is never read here.
    const std::string port = LoopbackTcpServer().portText();
    ChildProcess simulator(kSimulator, {"--port", port, "--log-rate", "0"},
                           ChildProcess::Output::StalledOutput);
    ASSERT_TRUE(simulator.started());
    int flooder = -1;
    waitUntil([&] { return (flooder = connectTo(port)) >= 0; }, kDeadline);
    ASSERT_GE(flooder, 0) << simulator.output();
    if (GetParam()) {
        simulator.closeStalledOutput();
    }
    // About 2 MB of log for 40,000 records, far beyond any pipe's buffer.
    std::string records;
    for (int i = 0; i < 1000; ++i) {
        records += "r\n";
    }
    for (int i = 0; i < 40; ++i) {
        ASSERT_EQ(::send(flooder, records.data(), records.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(records.size()));
    }
    EXPECT_TRUE(echoes(port, false));
    EXPECT_TRUE(echoes(port, true));
    ::close(flooder);

    const auto stopping = std::chrono::steady_clock::now();
    simulator.signal(SIGTERM);
    EXPECT_EQ(simulator.wait(kDeadline), 0) << simulator.output();
    EXPECT_LT(std::chrono::steady_clock::now() - stopping, std::chrono::seconds(3));
}

INSTANTIATE_TEST_SUITE_P(Readers, ProgramsStalledOutput, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) {
                             return info.param ? "ReaderGone" : "NeverRead";
                         });

// Out of descriptors (a limit of 32 leaves room for about 20 clients, fewer
// when the test inherits descriptors): the failed accepts are logged once, the
// waiting clients are taken once descriptors are free again, and that is
// logged too.
TEST(Programs, SimulatorLogsRunningOutOfDescriptorsOnce)
{
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizers' runtime in the simulator needs descriptors of its own
    // for its checks, and this test uses every one up.
    GTEST_SKIP() << "not in a sanitizer build: the sanitizer runtime needs free descriptors";
#endif
    ChildProcess simulator(
        "/bin/sh", {"-c", "ulimit -n 32 && exec \"$0\" --port 0 --max-clients 64", kSimulator});
    ASSERT_TRUE(simulator.started());
    const std::string port = announcedPort(simulator);
    ASSERT_FALSE(port.empty()) << simulator.output();
    std::vector<int> clients;
    // Non-blocking: connects beyond the accept queue are not waited for.
    for (int i = 0; i < 40; ++i) {
        const int fd = connectTo(port, SOCK_NONBLOCK);
        ASSERT_GE(fd, 0);
        clients.push_back(fd);
    }
    EXPECT_TRUE(
        simulator.waitForLine("tcp: cannot accept a client: Too many open files", kDeadline))
        << simulator.output();
    for (const int fd : clients) {
        ::close(fd);
    }
    EXPECT_TRUE(simulator.waitForLine("tcp: accepting clients again", kDeadline))
        << simulator.output();
    simulator.signal(SIGTERM);
    EXPECT_EQ(simulator.wait(kDeadline), 0) << simulator.output();
    const std::string& output = simulator.output();
    EXPECT_EQ(output.find("cannot accept a client"), output.rfind("cannot accept a client"))
        << output;
}

} // namespace

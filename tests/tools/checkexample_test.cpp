#include "childprocess.h"
#include "simulatorundertest.h"

#include "check/checkrun.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <set>
#include <string>

namespace
{

using Clock = std::chrono::steady_clock;

check::Millis since(Clock::time_point start)
{
    return std::chrono::duration_cast<check::Millis>(Clock::now() - start);
}

int connectTo(std::uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 &&
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

// The example check file passes against the simulator as it starts: the run
// is driven here the way a checking tool drives it, over loopback TCP.
TEST(CheckExample, PassesAgainstTheSimulatorsDefaults)
{
    const auto loaded = check::loadCheckFile(EXAMPLE_CHECK_FILE_PATH);
    ASSERT_TRUE(loaded.ok()) << loaded.error().text();
    check::CheckFile file = *loaded;
    SimulatorUnderTest simulator;
    ASSERT_TRUE(simulator.started()) << simulator.startError();
    const int fd = connectTo(simulator.simulator().port());
    ASSERT_GE(fd, 0);

    const check::DeviceValues values = {{"id", "A1"}};
    const base::Error fits = check::checkDeviceValues(file, values);
    ASSERT_TRUE(fits.ok()) << fits.text();
    check::CheckRun run(file, values);
    const Clock::time_point start = Clock::now();
    run.start(start);
    std::array<char, 4096> buffer{};
    while (since(start) < check::Millis{10000}) {
        for (const std::string& block : run.takeSends()) {
            ASSERT_EQ(::send(fd, block.data(), block.size(), MSG_NOSIGNAL),
                      static_cast<ssize_t>(block.size()));
        }
        if (run.finished()) {
            break;
        }
        const check::Instant now = Clock::now();
        const check::Millis wait =
            std::max(check::Millis{0},
                     std::chrono::ceil<check::Millis>(run.nextDeadline().value_or(now) - now));
        pollfd ready{fd, POLLIN, 0};
        if (::poll(&ready, 1, static_cast<int>(std::min<long>(wait.count(), 100))) > 0) {
            const ssize_t got = ::recv(fd, buffer.data(), buffer.size(), 0);
            if (got <= 0) {
                run.abort("connection closed", Clock::now());
                break;
            }
            run.received(std::string_view(buffer.data(), static_cast<std::size_t>(got)),
                         check::Chunk::Stream, Clock::now());
        }
        run.advance(Clock::now());
    }
    ::close(fd);
    for (const check::StepResult& result : run.takeResults()) {
        EXPECT_EQ(result.outcome, check::StepOutcome::Passed)
            << result.stepName << ": " << result.reason;
    }
    EXPECT_TRUE(run.passed());
    EXPECT_TRUE(simulator.waitForLine("\"check done for A1\"", std::chrono::seconds(5)));
}

// The examples failed in devicecheck without a targets list ("no value for
// {id}"): every file in examples/ passes, run by the program as the README
// runs it, against the simulator as the README starts it.
TEST(CheckExample, EveryExamplePassesInDevicecheck)
{
    // Each example, and whether the simulator runs with the example replies.
    const std::vector<std::pair<std::string, bool>> examples = {{"reader-basic.toml", false},
                                                                {"door-open.toml", true}};
    const std::filesystem::path folder =
        std::filesystem::path(EXAMPLE_CHECK_FILE_PATH).parent_path();
    std::set<std::string> listed;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        listed.insert(entry.path().filename().string());
    }
    std::set<std::string> tested;
    for (const auto& [name, withRules] : examples) {
        tested.insert(name);
        devicetools::SimulatorConfig config;
        if (withRules) {
            auto rules = devicetools::ReplyRules::load(EXAMPLE_RULES_PATH);
            ASSERT_TRUE(rules.ok()) << rules.error().text();
            config.rules = std::move(*rules);
        }
        SimulatorUnderTest simulator(std::move(config));
        ASSERT_TRUE(simulator.started()) << simulator.startError();
        const ProcessResult run = runProcess(
            DEVICECHECK_PATH, {(folder / name).string(), "127.0.0.1:" + simulator.portText()},
            std::chrono::seconds(30));
        EXPECT_EQ(run.code, 0) << name << ":\n" << run.output;
    }
    EXPECT_EQ(listed, tested) << "every example has its row here";
}

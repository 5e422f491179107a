// devicesim --devices N run as a process: every device of the fleet answers
// on its own port over TCP and UDP, faults and limits hold for each device,
// one loop serves them all, and the open-file limit is raised or reported.

#include "childprocess.h"
#include "consoleclient.h"
#include "rowname.h"

#include "socket/socketaddress.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <vector>

using namespace std::chrono_literals;

namespace
{

constexpr auto kDeadline = 10s;
const std::string kSimulator = DEVICESIM_PATH;
const std::string kWelcome = "[BA139123439=ENT-Welcome, door open\r\n";
const std::string kEcho = "[BA139123439=ENT-Message / Description\r\n";
const std::string kError = "Error received data !\r\n";
const std::string kDropped = "Connection Abandonned\r\n";

// A fleet on ports of the system's choosing; stopped (and checked to stop
// cleanly) by stop().
class Fleet
{
public:
    Fleet(int devices, std::vector<std::string> options = {})
    {
        options.insert(options.begin(), {"--port", "0", "--devices", std::to_string(devices)});
        process_ = std::make_unique<ChildProcess>(kSimulator, options);
        std::smatch found;
        if (process_->waitForLine("Ctrl+C stops.", kDeadline) &&
            std::regex_search(
                process_->output(), found,
                std::regex("listening on 127\\.0\\.0\\.1 ports ([0-9]+) to ([0-9]+) "))) {
            first_ = std::stoi(found[1]);
            last_ = std::stoi(found[2]);
        }
    }
    bool started() const { return first_ != 0; }
    int first() const { return first_; }
    int last() const { return last_; }
    std::string port(int device) const { return std::to_string(first_ + device); }
    ChildProcess& process() { return *process_; }
    // The entries of /proc/PID/task.
    std::size_t threads() const
    {
        const std::string tasks = "/proc/" + std::to_string(process_->pid()) + "/task";
        return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(tasks),
                                                      std::filesystem::directory_iterator()));
    }
    int stop()
    {
        process_->signal(SIGTERM);
        return process_->wait(kDeadline);
    }

private:
    std::unique_ptr<ChildProcess> process_;
    int first_ = 0;
    int last_ = 0;
};

// A plain loopback socket, cheaper than a console client where hundreds are
// needed; closed by the destructor.
class PlainClient
{
public:
    PlainClient() = default;
    ~PlainClient()
    {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    PlainClient(const PlainClient&) = delete;
    PlainClient& operator=(const PlainClient&) = delete;

    bool connect(const std::string& port, bool udp)
    {
        net::SocketAddress server;
        server.buildFromText("127.0.0.1", port.c_str(), AF_INET);
        fd_ = ::socket(AF_INET, (udp ? SOCK_DGRAM : SOCK_STREAM) | SOCK_CLOEXEC, 0);
        return fd_ >= 0 && ::connect(fd_, server.asSockaddr(), net::SocketAddress::kSize) == 0;
    }
    bool send(const std::string& bytes)
    {
        return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    }
    // True once `count` bytes have come within the deadline.
    bool receives(std::size_t count)
    {
        const auto deadline = std::chrono::steady_clock::now() + kDeadline;
        char buffer[256];
        std::size_t got = 0;
        while (got < count && std::chrono::steady_clock::now() < deadline) {
            pollfd entry{fd_, POLLIN, 0};
            if (::poll(&entry, 1, 50) > 0) {
                const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
                if (n <= 0) {
                    return false;
                }
                got += static_cast<std::size_t>(n);
            }
        }
        return got >= count;
    }

private:
    int fd_ = -1;
};

TEST(SimulatorFleet, EveryDeviceAnswersByTheRulesOverTcpAndUdp)
{
    constexpr int kDevices = 5;
    Fleet fleet(kDevices, {"--rules", EXAMPLE_RULES_PATH});
    ASSERT_TRUE(fleet.started()) << fleet.process().output();
    EXPECT_EQ(fleet.last() - fleet.first(), kDevices - 1);
    for (int device = 0; device < kDevices; ++device) {
        for (const bool udp : {false, true}) {
            SCOPED_TRACE(fleet.port(device) + (udp ? " UDP" : " TCP"));
            ConsoleClient console(udp);
            ASSERT_TRUE(console.connect(fleet.port(device), udp));
            ASSERT_TRUE(console.sendDefaultFrame());
            EXPECT_TRUE(console.view().waitForTextEqual(kWelcome, kDeadline))
                << console.view().text();
        }
    }
    EXPECT_EQ(fleet.stop(), 0);
    const std::string& log = fleet.process().output();
    // The TCP client in DEMO, the UDP one in RELEASE.
    for (const std::string peer : {"tcp", "udp"}) {
        const std::string mode = peer == "tcp" ? " DEMO" : " RELEASE";
        EXPECT_TRUE(
            std::regex_search(log, std::regex(peer + " 127\\.0\\.0\\.1:[0-9]+ to port " +
                                              fleet.port(kDevices - 1) + mode + " media=B")))
            << log;
    }
}

struct FaultRow {
    const char* name;
    std::vector<std::string> options;
    bool udp;
    int frames;
    // The view after `frames` default frames; empty: the split answer's
    // pieces, each a block failing the check.
    std::string view;
    // Or, where blocks may merge on the way, the bytes received.
    std::string wire = {};
};

void PrintTo(const FaultRow& row, std::ostream* out)
{
    *out << row.name;
}

// The echo and then `count` flood frames, as they come.
std::string floodWire(int count)
{
    std::string wire = kEcho + '\0';
    for (int i = 1; i <= count; ++i) {
        wire += "[BA1" + std::to_string(i) + "=ENT-flood\r\n" + '\0';
    }
    return wire;
}

const std::vector<FaultRow> kFaultRows = {
    {"close after 2 TCP", {"--close-after", "2"}, false, 2, kEcho + kEcho + kDropped},
    {"close after 2 UDP", {"--close-after", "2"}, true, 2, kEcho + kEcho + kDropped},
    {"malformed TCP", {"--malformed"}, false, 1, kError},
    {"split TCP", {"--split-at", "3,10", "--split-pause", "80"}, false, 1, {}},
    {"split UDP", {"--split-at", "3,10", "--split-pause", "80"}, true, 1, {}},
    {"flood TCP", {"--flood", "100", "--flood-for", "200"}, false, 1, {}, floodWire(20)},
    {"flood UDP", {"--flood", "100", "--flood-for", "200"}, true, 1, {}, floodWire(20)},
};

class SimulatorFleetFault : public testing::TestWithParam<FaultRow>
{
};

// Two devices at once, each client on a device of its own: the fault plays
// out for each as for the single device, the pauses of one not holding up
// the other.
TEST_P(SimulatorFleetFault, AppliesToEachDevice)
{
    const FaultRow& row = GetParam();
    Fleet fleet(3, row.options);
    ASSERT_TRUE(fleet.started()) << fleet.process().output();
    std::vector<std::unique_ptr<ConsoleClient>> clients;
    for (const int device : {0, 2}) {
        clients.push_back(std::make_unique<ConsoleClient>(false));
        ASSERT_TRUE(clients.back()->connect(fleet.port(device), row.udp));
    }
    for (int frame = 0; frame < row.frames; ++frame) {
        for (auto& client : clients) {
            ASSERT_TRUE(client->sendDefaultFrame());
            // The next frame goes once this one is answered.
            if (frame + 1 < row.frames) {
                ASSERT_TRUE(client->view().waitForTextEqual(kEcho, kDeadline));
            }
        }
    }
    for (auto& client : clients) {
        if (!row.wire.empty()) {
            EXPECT_TRUE(client->waitForReceived(
                [&](const std::string& all) { return all.size() >= row.wire.size(); }, kDeadline));
            EXPECT_EQ(client->received(), row.wire);
            continue;
        }
        std::string expected = row.view;
        if (expected.empty()) {
            ASSERT_TRUE(client->waitForReceived(
                [](const std::string& all) { return all.size() == kEcho.size() + 1; }, kDeadline));
            EXPECT_GE(client->blocks().size(), 2u);
            for (std::size_t i = 0; i < client->blocks().size(); ++i) {
                expected += kError;
            }
        }
        EXPECT_TRUE(client->view().waitForTextEqual(expected, kDeadline)) << client->view().text();
    }
    EXPECT_EQ(fleet.stop(), 0);
}

INSTANTIATE_TEST_SUITE_P(Rows, SimulatorFleetFault, testing::ValuesIn(kFaultRows),
                         rowName<FaultRow>);

TEST(SimulatorFleet, ClientLimitHoldsForEachDevice)
{
    Fleet fleet(2, {"--max-clients", "1"});
    ASSERT_TRUE(fleet.started()) << fleet.process().output();
    ConsoleClient first(false);
    ConsoleClient refused(false);
    ConsoleClient other(false);
    ASSERT_TRUE(first.connect(fleet.port(0), false));
    ASSERT_TRUE(first.sendDefaultFrame());
    ASSERT_TRUE(first.view().waitForTextEqual(kEcho, kDeadline));
    ASSERT_TRUE(refused.connect(fleet.port(0), false));
    EXPECT_TRUE(refused.view().waitForTextEqual(kDropped, kDeadline)) << refused.view().text();
    ASSERT_TRUE(other.connect(fleet.port(1), false));
    ASSERT_TRUE(other.sendDefaultFrame());
    EXPECT_TRUE(other.view().waitForTextEqual(kEcho, kDeadline)) << other.view().text();
    EXPECT_TRUE(fleet.process().waitForLine(
        "to port " + fleet.port(0) + " refused: all 1 client slots busy", kDeadline));
    EXPECT_EQ(fleet.stop(), 0);
}

// One loop serves the fleet: a fleet of 200 devices, each with a client,
// runs on as many threads as a fleet of one with one client.
TEST(SimulatorFleet, ThreadCountDoesNotGrowWithTheFleet)
{
    std::vector<std::size_t> threads;
    for (const int devices : {1, 200}) {
        SCOPED_TRACE(devices);
        Fleet fleet(devices);
        ASSERT_TRUE(fleet.started()) << fleet.process().output();
        // Every client connected and answered before the count.
        std::vector<PlainClient> clients(static_cast<std::size_t>(devices));
        for (int device = 0; device < devices; ++device) {
            ASSERT_TRUE(clients[device].connect(fleet.port(device), device % 2 == 1));
            ASSERT_TRUE(clients[device].send(kEcho + '\0'));
        }
        for (PlainClient& client : clients) {
            EXPECT_TRUE(client.receives(kEcho.size() + 1));
        }
        threads.push_back(fleet.threads());
        EXPECT_EQ(fleet.stop(), 0);
    }
    EXPECT_EQ(threads.front(), threads.back());
}

struct LimitRow {
    const char* name;
    const char* ulimit;
    int exitCode; // -1: starts
};

void PrintTo(const LimitRow& row, std::ostream* out)
{
    *out << row.name;
}

class SimulatorFleetOpenFiles : public testing::TestWithParam<LimitRow>
{
};

// 100 devices with 8 clients each need 1,032 open files: a low soft limit is
// raised, a low hard limit ends the start with one line and status 2.
TEST_P(SimulatorFleetOpenFiles, RaisesTheLimitOrSaysItIsTooLow)
{
    rlimit own{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &own), 0);
    if (own.rlim_max != RLIM_INFINITY && own.rlim_max < 1032) {
        GTEST_SKIP() << "the hard limit here is below what 100 devices need";
    }
    const std::string script =
        std::string(GetParam().ulimit) + " && exec \"$0\" --port 0 --devices 100 --max-clients 8";
    ChildProcess fleet("/bin/sh", {"-c", script, kSimulator});
    ASSERT_TRUE(fleet.started());
    if (GetParam().exitCode >= 0) {
        EXPECT_EQ(fleet.wait(kDeadline), GetParam().exitCode);
        EXPECT_NE(fleet.output().find("need up to 1032 open files, but only 64 are allowed"),
                  std::string::npos)
            << fleet.output();
        EXPECT_EQ(fleet.output().find('\n'), fleet.output().size() - 1) << fleet.output();
        return;
    }
    ASSERT_TRUE(fleet.waitForLine("Ctrl+C stops.", kDeadline)) << fleet.output();
    std::ifstream limits("/proc/" + std::to_string(fleet.pid()) + "/limits");
    std::string line;
    while (std::getline(limits, line) && !line.starts_with("Max open files")) {
    }
    std::smatch soft;
    ASSERT_TRUE(std::regex_search(line, soft, std::regex("([0-9]+)"))) << line;
    EXPECT_GE(std::stoul(soft[1]), 1032u) << line;
}

const std::vector<LimitRow> kLimitRows = {
    {"hard limit too low", "ulimit -n 64", 2},
    {"soft limit raised", "ulimit -Sn 64", -1},
};

INSTANTIATE_TEST_SUITE_P(Rows, SimulatorFleetOpenFiles, testing::ValuesIn(kLimitRows),
                         rowName<LimitRow>);

// A silent client of one device is closed after the idle time-out, while a
// UDP peer of another goes on being answered.
TEST(SimulatorFleet, IdleTimeOutClosesASilentClient)
{
    Fleet fleet(2, {"--idle-timeout", "1"});
    ASSERT_TRUE(fleet.started()) << fleet.process().output();
    PlainClient silent;
    ASSERT_TRUE(silent.connect(fleet.port(1), false));
    EXPECT_FALSE(silent.receives(1));
    EXPECT_TRUE(fleet.process().waitForLine("to port " + fleet.port(1) +
                                                " closed: nothing received for 1 s (idle time-out)",
                                            kDeadline));
    PlainClient udp;
    ASSERT_TRUE(udp.connect(fleet.port(0), true));
    ASSERT_TRUE(udp.send(kEcho + '\0'));
    EXPECT_TRUE(udp.receives(kEcho.size() + 1));
    EXPECT_EQ(fleet.stop(), 0);
}

TEST(SimulatorFleet, RangeBeyondTheLastPortIsAUsageError)
{
    const ProcessResult result =
        runProcess(kSimulator, {"--port", "65000", "--devices", "1000"}, kDeadline);
    EXPECT_EQ(result.code, 2);
    EXPECT_NE(result.output.find("1000 devices from port 65000 pass port 65535"), std::string::npos)
        << result.output;
}

} // namespace

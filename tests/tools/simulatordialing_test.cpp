#include "consoleclient.h"
#include "simulatorundertest.h"
#include "waituntil.h"

#include "protocol/framedecoder.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <optional>
#include <set>
#include <string>

using devicetools::SimulatorConfig;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace
{

constexpr auto kDeadline = 10s;

// The host the simulated devices dial: a TCP socket on 127.0.0.1, bound at
// once (so the port is known and taken) but listening only from listen() on:
// until then every dial is refused, as by a host that is away.
class AbsentHost
{
public:
    AbsentHost()
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof local;
        if (fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 &&
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length) == 0) {
            port_ = ntohs(local.sin_port);
        }
    }
    ~AbsentHost()
    {
        for (const int fd : accepted_) {
            ::close(fd);
        }
        ::close(fd_);
    }
    std::uint16_t port() const { return port_; }
    bool listen() { return ::listen(fd_, 4096) == 0; }

    // The next connection, or -1 once `limit` has passed.
    int accept(std::chrono::milliseconds limit)
    {
        pollfd ready{fd_, POLLIN, 0};
        if (::poll(&ready, 1, static_cast<int>(limit.count())) != 1) {
            return -1;
        }
        const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
            accepted_.push_back(fd);
        }
        return fd;
    }

    // The first record `fd` sends (up to its line end), or nothing by the deadline.
    static std::optional<std::string> readRecord(int fd, Clock::time_point deadline)
    {
        std::string bytes;
        while (bytes.find("\r\n") == std::string::npos) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            pollfd ready{fd, POLLIN, 0};
            char buffer[512];
            // One byte at a time: the next record stays for the next call.
            if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) != 1 ||
                ::recv(fd, buffer, 1, 0) != 1) {
                return std::nullopt;
            }
            bytes += buffer[0];
        }
        return bytes.substr(0, bytes.find("\r\n"));
    }

private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
    std::vector<int> accepted_;
};

SimulatorConfig dialing(std::uint16_t port, std::uint32_t devices, double events)
{
    SimulatorConfig config;
    config.connectHost = "127.0.0.1";
    config.connectPort = port;
    config.devices = devices;
    config.eventsPerSecond = events;
    return config;
}

// The seconds of the wait a log line ends with ("...next try in 1.8 s").
double loggedWait(const std::string& line)
{
    const std::size_t in = line.rfind(" in ");
    return in == std::string::npos ? -1 : std::stod(line.substr(in + 4));
}

int threadCount()
{
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "Threads:") {
            int count = 0;
            status >> count;
            return count;
        }
    }
    return -1;
}

// A device whose host is away dials again and again, the waits growing, and
// reaches the host once it listens; when the host drops the connection the
// device dials again after about a second and is served as before.
TEST(SimulatorDialing, RetriesUntilTheHostAppearsAndAgainAfterADrop)
{
    AbsentHost host;
    ASSERT_NE(host.port(), 0);
    SimulatorUnderTest device(dialing(host.port(), 0, 0));
    ASSERT_TRUE(device.started()) << device.startError();
    ASSERT_TRUE(waitUntil([&] { return device.linesWith("next try in").size() >= 2; }, kDeadline));
    const std::vector<std::string> failures = device.linesWith("next try in");
    EXPECT_NE(failures[0].find("cannot connect: "), std::string::npos) << failures[0];
    EXPECT_GE(loggedWait(failures[0]), 0.8);
    EXPECT_LE(loggedWait(failures[0]), 1.0);
    EXPECT_GE(loggedWait(failures[1]), 1.6);
    EXPECT_LE(loggedWait(failures[1]), 2.0);

    ASSERT_TRUE(host.listen());
    const int first = host.accept(kDeadline);
    ASSERT_GE(first, 0);
    const std::string frame = std::string("[BA139123439=ENT-hello\r\n\0", 25);
    ASSERT_EQ(::send(first, frame.data(), frame.size(), MSG_NOSIGNAL), 25);
    EXPECT_EQ(AbsentHost::readRecord(first, Clock::now() + kDeadline), "[BA139123439=ENT-hello");

    ::shutdown(first, SHUT_RDWR);
    const auto dropped = Clock::now();
    const int second = host.accept(kDeadline);
    ASSERT_GE(second, 0);
    // The waits start at a second again.
    EXPECT_LT(Clock::now() - dropped, 3s);
    const std::vector<std::string> again = device.linesWith("dialing again in");
    ASSERT_EQ(again.size(), 1u);
    EXPECT_LE(loggedWait(again[0]), 1.0);
    ASSERT_EQ(::send(second, frame.data(), frame.size(), MSG_NOSIGNAL), 25);
    EXPECT_EQ(AbsentHost::readRecord(second, Clock::now() + kDeadline), "[BA139123439=ENT-hello");
}

// Many devices from one process, on one thread: the host sees each with a
// device id of its own in its event frames, and the devices log the answers.
TEST(SimulatorDialing, ManyDevicesSendEventsWithIdsOfTheirOwnAndLogTheAnswers)
{
    constexpr std::uint32_t kDevices = 100;
    AbsentHost host;
    ASSERT_TRUE(host.listen());
    const int threadsBefore = threadCount();
    SimulatorUnderTest devices(dialing(host.port(), kDevices, 20));
    ASSERT_TRUE(devices.started()) << devices.startError();
    std::set<std::string> ids;
    const auto deadline = Clock::now() + kDeadline;
    for (std::uint32_t i = 0; i < kDevices; ++i) {
        const int fd = host.accept(kDeadline);
        ASSERT_GE(fd, 0) << i << " devices connected";
        const std::optional<std::string> record = AbsentHost::readRecord(fd, deadline);
        ASSERT_TRUE(record.has_value()) << "no event from device " << i;
        const auto event = protocol::FrameDecoder::decode(*record);
        ASSERT_TRUE(event.has_value()) << *record;
        EXPECT_EQ(event->fields.command, "EVT");
        EXPECT_EQ(event->fields.media, "C");
        ids.insert(event->fields.deviceId);
        if (i == 0) {
            // The host answers the event as an automatic answer would.
            const std::string answer =
                "[C" + event->fields.deviceId + event->fields.data + "=EVT-accepted\r\n";
            ASSERT_GT(::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL), 0);
            EXPECT_TRUE(devices.waitForLine("device " + event->fields.deviceId +
                                                " DEMO media=C id=" + event->fields.deviceId,
                                            kDeadline));
        }
    }
    EXPECT_EQ(ids.size(), kDevices);
    // The loop's thread and the log's, whatever the number of devices (and
    // ThreadSanitizer's own background thread, which it starts on its own).
#if defined(__SANITIZE_THREAD__)
    constexpr int kSanitizerThreads = 1;
#else
    constexpr int kSanitizerThreads = 0;
#endif
    EXPECT_LE(threadCount(), threadsBefore + 2 + kSanitizerThreads);
    EXPECT_EQ(devices.simulator().activeClients(), kDevices);
}

struct ModeRow {
    const char* name;
    bool release;
};

class SimulatorEvents : public testing::TestWithParam<ModeRow>
{
};

// A listening device sends its events to a connected client in the mode it
// was given; an answer to one is logged and not answered.
TEST_P(SimulatorEvents, ListeningDeviceSendsEventsAndLogsTheAnswers)
{
    SimulatorConfig config;
    config.eventsPerSecond = 20;
    config.verbose = true;
    config.eventMode =
        GetParam().release ? protocol::DelimiterMode::Release : protocol::DelimiterMode::Demo;
    SimulatorUnderTest device(config);
    ASSERT_TRUE(device.started()) << device.startError();
    ConsoleClient console(GetParam().release);
    ASSERT_TRUE(console.connect(device.portText(), false));
    const std::string start = GetParam().release ? "\x07"
                                                   "C01"
                                                 : "[C01";
    ASSERT_TRUE(console.waitForReceived(
        [&](const std::string& bytes) { return bytes.find(start) != std::string::npos; },
        kDeadline))
        << console.received();
    ASSERT_TRUE(console.sendFrame("C", "01", "0000100001", "EVT", "accepted"));
    ASSERT_TRUE(device.waitForLine("message=\"accepted\"", kDeadline));
    for (const std::string& line : device.linesWith("answer, ")) {
        ADD_FAILURE() << "the answer to an event was answered: " << line;
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, SimulatorEvents,
                         testing::Values(ModeRow{"DEMO", false}, ModeRow{"RELEASE", true}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace

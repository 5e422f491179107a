// The host serves devices that call in, on one loop: TCP devices, UDP peers,
// the bound, the console's device handed over and back, automatic answers.

#include "host/devicehost.h"

#include "protocol/commandframe.h"
#include "traffic/trafficrecord.h"

#include "waituntil.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

using namespace host;
using namespace std::chrono_literals;

namespace
{

constexpr auto kDeadline = 3000ms;

net::Endpoint loopbackAny()
{
    return *net::Endpoint::fromNumeric("127.0.0.1", 0);
}

// A device: a socket of `type` connected to the host's port.
struct Device {
    int fd = -1;
    Device(int type, const net::Endpoint& host, int receiveBuffer = 0)
    {
        fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
        if (receiveBuffer > 0)
            ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        if (::connect(fd, host.address(), host.length) != 0) {
            ::close(fd);
            fd = -1;
        }
    }
    ~Device()
    {
        if (fd >= 0)
            ::close(fd);
    }
    bool send(std::string_view bytes)
    {
        return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    }
    // What comes within the deadline; nullopt for the end of the stream.
    std::optional<std::string> receive(std::chrono::milliseconds limit = kDeadline)
    {
        pollfd ready{fd, POLLIN, 0};
        if (::poll(&ready, 1, static_cast<int>(limit.count())) <= 0)
            return std::string();
        char got[4096];
        const ssize_t n = ::recv(fd, got, sizeof got, 0);
        if (n <= 0)
            return std::nullopt;
        return std::string(got, static_cast<std::size_t>(n));
    }
    net::Endpoint local() const { return net::Endpoint::localOf(fd); }
};

std::string frame(const protocol::FrameFields& fields)
{
    return protocol::composeFrame(fields, protocol::DelimiterMode::Demo) + "\r\n";
}

std::optional<DeviceRow> rowOf(const DeviceHost& host, const net::Endpoint& peer)
{
    for (const DeviceRow& row : host.snapshot().rows)
        if (row.peer == peer)
            return row;
    return std::nullopt;
}

bool rowIs(const DeviceHost& host, const net::Endpoint& peer, DeviceState state)
{
    const std::optional<DeviceRow> row = rowOf(host, peer);
    return row && row->state == state;
}

HostSettings quick()
{
    HostSettings settings;
    settings.publishEvery = 10ms;
    return settings;
}

} // namespace

TEST(DeviceHost, ListsTcpDevicesWithTheirTrafficAndHowTheyEnded)
{
    DeviceHost host(quick());
    ASSERT_TRUE(host.error().ok());
    const auto local = host.listen(DeviceHost::Tcp, loopbackAny());
    ASSERT_TRUE(local.ok()) << local.error().text();
    Device first(SOCK_STREAM, *local);
    Device second(SOCK_STREAM, *local);
    ASSERT_GE(second.fd, 0);
    ASSERT_TRUE(first.send(frame({"B", "07", "", "EVT", "door"}) + "half"));
    ASSERT_TRUE(waitUntil(
        [&] {
            const auto row = rowOf(host, first.local());
            return row && row->bytesIn > 0 && !row->lastFrame.empty();
        },
        kDeadline));
    const DeviceRow row = *rowOf(host, first.local());
    EXPECT_EQ(row.transport, Transport::Tcp);
    EXPECT_EQ(row.state, DeviceState::Connected);
    EXPECT_NE(row.lastFrame.find("command=EVT"), std::string::npos) << row.lastFrame;

    host.send(row.id, "hello");
    EXPECT_EQ(first.receive(), "hello");
    ASSERT_TRUE(waitUntil([&] { return rowOf(host, first.local())->bytesOut == 5; }, kDeadline));

    const net::Endpoint secondPeer = second.local();
    ::close(second.fd);
    second.fd = -1;
    EXPECT_TRUE(
        waitUntil([&] { return rowIs(host, secondPeer, DeviceState::ClosedByDevice); }, kDeadline));
    host.close(row.id);
    EXPECT_EQ(first.receive(), std::nullopt);
    EXPECT_TRUE(
        waitUntil([&] { return rowIs(host, first.local(), DeviceState::ClosedHere); }, kDeadline));
    EXPECT_EQ(host.snapshot().connected, 0u);
}

TEST(DeviceHost, DeviceBeyondTheBoundIsClosedAtOnceAndNoted)
{
    HostSettings settings = quick();
    settings.maxDevices = 2;
    std::mutex lock;
    std::vector<std::string> notes;
    DeviceHost host(settings, {}, [&](const std::string& line) {
        const std::lock_guard<std::mutex> guard(lock);
        notes.push_back(line);
    });
    const auto local = host.listen(DeviceHost::Both, loopbackAny());
    ASSERT_TRUE(local.ok());
    Device a(SOCK_STREAM, *local), b(SOCK_STREAM, *local);
    ASSERT_TRUE(waitUntil([&] { return host.snapshot().connected == 2; }, kDeadline));
    Device beyond(SOCK_STREAM, *local);
    EXPECT_EQ(beyond.receive(), std::nullopt);
    Device udpBeyond(SOCK_DGRAM, *local);
    ASSERT_TRUE(udpBeyond.send("x"));
    ASSERT_TRUE(waitUntil([&] { return host.snapshot().refused == 2; }, kDeadline));
    EXPECT_EQ(host.snapshot().connected, 2u);
    const std::lock_guard<std::mutex> guard(lock);
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0],
              "TCP device " + beyond.local().text() + " refused: 2 devices connected already");
}

TEST(DeviceHost, UdpDevicesAreKnownByAddressAndLeaveWhenSilent)
{
    HostSettings settings = quick();
    settings.udpIdle = 300ms;
    DeviceHost host(settings);
    const auto local = host.listen(DeviceHost::Udp, loopbackAny());
    ASSERT_TRUE(local.ok());
    Device first(SOCK_DGRAM, *local), second(SOCK_DGRAM, *local);
    ASSERT_TRUE(first.send(frame({"B", "01", "", "EVT", ""})));
    ASSERT_TRUE(second.send("one"));
    ASSERT_TRUE(second.send("two"));
    ASSERT_TRUE(waitUntil(
        [&] {
            const auto row = rowOf(host, second.local());
            return row && row->bytesIn == 6 && rowOf(host, first.local());
        },
        kDeadline));
    EXPECT_EQ(host.snapshot().connected, 2u);
    EXPECT_EQ(rowOf(host, second.local())->lastFrame, "not a frame: \"two\"");
    host.send(rowOf(host, first.local())->id, "to first");
    EXPECT_EQ(first.receive(), "to first");

    // The first keeps talking past the idle time; the second falls silent.
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < 500ms) {
        ASSERT_TRUE(first.send("still here"));
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_TRUE(
        waitUntil([&] { return rowIs(host, second.local(), DeviceState::Dropped); }, kDeadline));
    EXPECT_EQ(rowOf(host, second.local())->why, "silent for 0 s");
    EXPECT_TRUE(rowIs(host, first.local(), DeviceState::Connected));
}

TEST(DeviceHost, PortInUseIsRefusedWithTheSystemsReason)
{
    DeviceHost first(quick());
    const auto taken = first.listen(DeviceHost::Tcp, loopbackAny());
    ASSERT_TRUE(taken.ok());
    DeviceHost second(quick());
    const auto refused = second.listen(DeviceHost::Both, *taken);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().systemCode(), EADDRINUSE);
    EXPECT_TRUE(second.snapshot().tcpLocal.empty());
    EXPECT_TRUE(second.snapshot().udpLocal.empty());
}

TEST(DeviceHost, UdpPortInUseIsRefused)
{
    DeviceHost first(quick());
    const auto taken = first.listen(DeviceHost::Udp, loopbackAny());
    ASSERT_TRUE(taken.ok());
    DeviceHost second(quick());
    const auto refused = second.listen(DeviceHost::Udp, *taken);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().systemCode(), EADDRINUSE);
}

TEST(DeviceHost, HandsTheConsolesDeviceOverAndTakesItBack)
{
    std::mutex lock;
    std::vector<DeviceHost::Offer> offers;
    DeviceHost host(quick(), [&](const DeviceHost::Offer& offer) {
        const std::lock_guard<std::mutex> guard(lock);
        offers.push_back(offer);
    });
    const auto local = host.listen(DeviceHost::Tcp, loopbackAny());
    ASSERT_TRUE(local.ok());
    host.wantDevice(true);
    Device mine(SOCK_STREAM, *local);
    Device other(SOCK_STREAM, *local);
    ASSERT_TRUE(waitUntil([&] { return host.snapshot().connected == 2; }, kDeadline));
    ASSERT_TRUE(rowIs(host, mine.local(), DeviceState::WithConsole));
    ASSERT_TRUE(rowIs(host, other.local(), DeviceState::Connected));
    DeviceHost::Offer offer;
    {
        const std::lock_guard<std::mutex> guard(lock);
        ASSERT_EQ(offers.size(), 1u);
        offer = offers[0];
    }
    EXPECT_EQ(offer.peer, mine.local());
    ASSERT_TRUE(mine.send("to the console"));
    char got[32] = {};
    EXPECT_EQ(::recv(offer.fd, got, sizeof got, 0), 14);

    // Back to the host, and the other one to the console.
    host.giveBack(offer.id, offer.fd);
    host.takeDevice(rowOf(host, other.local())->id);
    ASSERT_TRUE(
        waitUntil([&] { return rowIs(host, mine.local(), DeviceState::Connected); }, kDeadline));
    ASSERT_TRUE(waitUntil(
        [&] {
            const std::lock_guard<std::mutex> guard(lock);
            return offers.size() == 2;
        },
        kDeadline));
    const DeviceHost::Offer second = offers[1];
    ASSERT_TRUE(other.send("later"));
    std::string read;
    ASSERT_TRUE(waitUntil(
        [&] {
            const ssize_t n = ::recv(second.fd, got, sizeof got, MSG_DONTWAIT);
            if (n > 0)
                read.append(got, static_cast<std::size_t>(n));
            return read.size() >= 5;
        },
        kDeadline));
    EXPECT_EQ(read, "later");
    ASSERT_TRUE(mine.send("to the host"));
    EXPECT_TRUE(waitUntil([&] { return rowOf(host, mine.local())->bytesIn == 11; }, kDeadline));
    ::close(second.fd);
    host.handedDeviceEnded(second.id, DeviceState::ClosedHere);
    EXPECT_TRUE(
        waitUntil([&] { return rowIs(host, other.local(), DeviceState::ClosedHere); }, kDeadline));
}

TEST(DeviceHost, UdpDeviceHandedOverIsRelayedAndTakenBack)
{
    std::mutex lock;
    std::vector<DeviceHost::Offer> offers;
    DeviceHost host(quick(), [&](const DeviceHost::Offer& offer) {
        const std::lock_guard<std::mutex> guard(lock);
        offers.push_back(offer);
    });
    const auto local = host.listen(DeviceHost::Udp, loopbackAny());
    ASSERT_TRUE(local.ok());
    host.wantDevice(true);
    Device device(SOCK_DGRAM, *local);
    ASSERT_TRUE(device.send("first"));
    ASSERT_TRUE(waitUntil(
        [&] {
            const std::lock_guard<std::mutex> guard(lock);
            return offers.size() == 1;
        },
        kDeadline));
    const DeviceHost::Offer offer = offers[0];
    EXPECT_EQ(offer.transport, Transport::Udp);
    EXPECT_EQ(offer.peer, device.local());
    // Datagrams both ways through the console's end, whole.
    char got[64] = {};
    pollfd ready{offer.fd, POLLIN, 0};
    ASSERT_EQ(::poll(&ready, 1, 3000), 1);
    EXPECT_EQ(::recv(offer.fd, got, sizeof got, 0), 5);
    ASSERT_EQ(::send(offer.fd, "reply", 5, 0), 5);
    EXPECT_EQ(device.receive(), "reply");
    ASSERT_TRUE(waitUntil([&] { return rowOf(host, device.local())->bytesOut == 5; }, kDeadline));

    host.giveBack(offer.id, offer.fd);
    ASSERT_TRUE(
        waitUntil([&] { return rowIs(host, device.local(), DeviceState::Connected); }, kDeadline));
    host.send(offer.id, "from the host");
    EXPECT_EQ(device.receive(), "from the host");
}

TEST(DeviceHost, AnswersEveryDeviceWithinItsOwnBound)
{
    DeviceHost host(quick());
    check::AnswerRule ack;
    ack.name = "ack";
    ack.when.command = "EVT";
    ack.answer.fields = {"{media}", "{id}", "", "ACK", ""};
    host.setAnswers({ack}, 2, protocol::DelimiterMode::Demo);
    const auto local = host.listen(DeviceHost::Both, loopbackAny());
    ASSERT_TRUE(local.ok());
    Device tcp(SOCK_STREAM, *local), udp(SOCK_DGRAM, *local);
    const std::string event = frame({"B", "07", "", "EVT", ""});
    // A burst of five from each: two answered each, whatever the other did.
    std::string burst;
    for (int i = 0; i < 5; ++i)
        burst += event;
    ASSERT_TRUE(tcp.send(burst));
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(udp.send(event));
    const std::string answer = protocol::wireBlock(
        protocol::composeFrame({"B", "07", "", "ACK", ""}, protocol::DelimiterMode::Demo));
    std::string tcpGot;
    ASSERT_TRUE(waitUntil(
        [&] {
            tcpGot += tcp.receive(50ms).value_or("");
            return tcpGot.size() >= 2 * answer.size();
        },
        kDeadline));
    EXPECT_EQ(tcpGot, answer + answer);
    EXPECT_EQ(udp.receive(), answer);
    EXPECT_EQ(udp.receive(), answer);
    EXPECT_EQ(udp.receive(200ms), "");
    EXPECT_EQ(tcp.receive(200ms), "");
}

// Collects what a recorder is handed, as a file recorder would take it.
struct Collected : traffic::RecordSink {
    std::mutex lock;
    std::vector<traffic::Record> records;
    void record(const traffic::Record& record) override
    {
        const std::lock_guard<std::mutex> guard(lock);
        records.push_back(record);
    }
    // "kind text" of every record so far, the bytes of reads and writes after.
    std::vector<std::string> lines()
    {
        const std::lock_guard<std::mutex> guard(lock);
        std::vector<std::string> out;
        for (const traffic::Record& each : records)
            out.push_back(std::to_string(static_cast<int>(each.kind)) + " " + each.text + "|" +
                          each.bytes);
        return out;
    }
};

TEST(DeviceHost, EveryServedDeviceIsRecordedWholeWhenItEnds)
{
    ::check::AnswerRule ack;
    ack.when.command = "EVT";
    ack.answer.fields = {"{media}", "{id}", "", "ACK", ""};
    DeviceHost host(quick());
    auto collected = std::make_shared<Collected>();
    host.setRecorder(collected);
    host.setAnswers({ack}, 10, protocol::DelimiterMode::Demo);
    const auto local = host.listen(DeviceHost::Tcp, loopbackAny());
    ASSERT_TRUE(local.ok());
    {
        Device first(SOCK_STREAM, *local), second(SOCK_STREAM, *local);
        ASSERT_TRUE(first.send(frame({"B", "07", "", "EVT", ""})));
        ASSERT_FALSE(first.receive()->empty());
        ASSERT_TRUE(second.send("hello\r\n"));
        ASSERT_TRUE(waitUntil(
            [&] {
                return host.snapshot().connected == 2 && rowOf(host, second.local())->bytesIn == 7;
            },
            kDeadline));
        // Nothing is handed out while the devices run: a file each, whole.
        EXPECT_TRUE(collected->lines().empty());
    }
    const auto disconnects = [&] {
        const std::vector<std::string> now = collected->lines();
        return std::count_if(now.begin(), now.end(),
                             [](const std::string& line) { return line.rfind("6 ", 0) == 0; });
    };
    ASSERT_TRUE(waitUntil([&] { return disconnects() == 2; }, kDeadline));
    const std::vector<std::string> lines = collected->lines();
    // Each device's records in a row of their own: attempt, accepted, traffic, end.
    std::size_t attempts = 0, reads = 0, writes = 0, ends = 0;
    for (const std::string& line : lines) {
        attempts += line.rfind("0 TCP 127.0.0.1:", 0) == 0;
        reads += line.rfind("4 ", 0) == 0;
        writes += line.rfind("3 ", 0) == 0;
        ends += line.rfind("6 ", 0) == 0;
    }
    EXPECT_EQ(attempts, 2u);
    EXPECT_EQ(reads, 2u);
    EXPECT_EQ(writes, 1u); // the answer to the event
    EXPECT_EQ(ends, 2u);
    EXPECT_EQ(lines[0].rfind("0 ", 0), 0u);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "5 Connection accepted|"), lines.end());

    // Recording off: devices from now on leave no record.
    host.setRecorder(nullptr);
    const std::size_t before = collected->lines().size();
    {
        Device third(SOCK_STREAM, *local);
        ASSERT_TRUE(third.send("x\r\n"));
        ASSERT_TRUE(waitUntil([&] { return host.snapshot().connected == 1; }, kDeadline));
    }
    ASSERT_TRUE(waitUntil([&] { return host.snapshot().connected == 0; }, kDeadline));
    EXPECT_EQ(collected->lines().size(), before);
}

TEST(DeviceHost, StalledDeviceIsGivenUpWithoutSlowingAnother)
{
    HostSettings settings = quick();
    settings.streamLimits.maxQueuedBytes = 64 * 1024;
    settings.streamLimits.writeStall = 300ms;
    DeviceHost host(settings);
    const auto local = host.listen(DeviceHost::Tcp, loopbackAny());
    ASSERT_TRUE(local.ok());
    Device stalled(SOCK_STREAM, *local, 4096), lively(SOCK_STREAM, *local);
    ASSERT_TRUE(waitUntil([&] { return host.snapshot().connected == 2; }, kDeadline));
    const std::uint64_t stalledId = rowOf(host, stalled.local())->id;
    const std::uint64_t livelyId = rowOf(host, lively.local())->id;
    const std::string chunk(16 * 1024, 'x');
    for (int i = 0; i < 200; ++i)
        host.send(stalledId, chunk); // never read: beyond the bound the rest is dropped
    host.send(livelyId, "ping");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(lively.receive(), "ping");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1000ms);
    EXPECT_TRUE(
        waitUntil([&] { return rowIs(host, stalled.local(), DeviceState::Dropped); }, kDeadline));
    EXPECT_TRUE(rowIs(host, lively.local(), DeviceState::Connected));
}

// The simulator with TLS (listening with a made or a given certificate,
// dialing a TLS host, clients that never handshake) and on IPv6.

#include "childprocess.h"
#include "loopdevice.h"
#include "senderrun.h"
#include "simulatorundertest.h"
#include "waituntil.h"

#include "socket/addresslookup.h"
#include "tls/certificateinfo.h"
#include "tls/selfsigned.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

using devicetools::FrameSender;
using devicetools::SenderOptions;
using devicetools::SimulatorConfig;
using namespace std::chrono_literals;

namespace
{

constexpr auto kDeadline = 10s;

SimulatorConfig withTls()
{
    SimulatorConfig config;
    config.tls.on = true;
    return config;
}

SenderRun sendTo(const std::string& host, std::uint16_t port, const std::string& pin)
{
    SenderOptions options;
    options.host = host;
    options.port = std::to_string(port);
    options.timeoutMs = 5000;
    options.tls.on = true;
    options.tls.pin = pin;
    return runSender(options);
}

bool hasIpv6Loopback()
{
    const LoopDevice probe(*net::Endpoint::fromNumeric("::1", 0));
    return probe.listening();
}

// TCP connections to `port` that never send a byte; closed by the destructor.
struct SilentClients {
    std::vector<int> fds;
    SilentClients(std::uint16_t port, int count)
    {
        const net::Endpoint to = *net::Endpoint::fromNumeric("127.0.0.1", port);
        for (int i = 0; i < count; ++i) {
            if (const base::Result<int> fd = net::connectWithin(to, SOCK_STREAM, 2000))
                fds.push_back(*fd);
        }
    }
    ~SilentClients()
    {
        for (const int fd : fds)
            ::close(fd);
    }
    // The simulator closed every one of them.
    bool allClosed(std::chrono::milliseconds limit) const
    {
        return waitUntil(
            [this] {
                for (const int fd : fds) {
                    char byte;
                    if (::recv(fd, &byte, 1, MSG_DONTWAIT | MSG_PEEK) != 0)
                        return false;
                }
                return true;
            },
            limit);
    }
};

TEST(SimulatorTls, ACertificateGivenByFilesIsTheOneShown)
{
    const tls::Credentials own = *tls::makeSelfSigned("door-9", {"127.0.0.1"});
    char folderName[] = "/tmp/simtls-XXXXXX";
    ASSERT_NE(::mkdtemp(folderName), nullptr);
    const std::filesystem::path folder(folderName);
    const auto write = [&folder](const char* name, const std::string& text) {
        const std::string path = (folder / name).string();
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        EXPECT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
        ::close(fd);
        return path;
    };
    SimulatorConfig config = withTls();
    config.tls.certificateFile = write("certificate.pem", own.certificatePem);
    config.tls.keyFile = write("key.pem", own.keyPem);
    {
        SimulatorUnderTest sim(config);
        ASSERT_TRUE(sim.started()) << sim.startError();
        const std::string pin = tls::CertificateInfo::ofPem(own.certificatePem)->fingerprint;
        EXPECT_EQ(sim.simulator().tlsFingerprint(), pin);
        EXPECT_FALSE(sim.simulator().tlsCertificateMade());
        const SenderRun pinned = sendTo("127.0.0.1", sim.simulator().port(), pin);
        EXPECT_EQ(pinned.out, "[BA139123439=ENT-Message / Description\n") << pinned.err;
        // The record is logged as plaintext, after the line that names the session.
        EXPECT_TRUE(sim.waitForLine("command=ENT", kDeadline));
        EXPECT_EQ(sim.linesWith("TLS ready: TLSv1.3, ").size(), 1u);
        EXPECT_EQ(sim.linesWith("client certificate none").size(), 1u);
    }
    // A key that is no key is refused at start, naming the problem.
    config.tls.keyFile = config.tls.certificateFile;
    SimulatorUnderTest broken(config);
    EXPECT_FALSE(broken.started());
    EXPECT_FALSE(broken.startError().empty());
    std::filesystem::remove_all(folder);
}

// Connections that never handshake are closed at the limit; those beyond the
// bound of handshakes at once wait their turn, and a real client among them
// is served once a turn is free.
TEST(SimulatorTls, ClientsThatNeverHandshakeAreClosedAndAFloodWaitsItsTurn)
{
    SimulatorConfig config = withTls();
    config.handshakeTimeoutMs = 400;
    config.devices = 2;
    config.maxClients = 64;
    SimulatorUnderTest sim(config);
    ASSERT_TRUE(sim.started()) << sim.startError();
    const std::uint16_t first = sim.simulator().port();
    const SilentClients flood(first, 64);
    const SilentClients more(static_cast<std::uint16_t>(first + 1), 4);
    ASSERT_EQ(flood.fds.size() + more.fds.size(), 68u);
    const SenderRun served = sendTo("127.0.0.1", first + 1, sim.simulator().tlsFingerprint());
    EXPECT_EQ(served.code, FrameSender::kAnswerPassed) << served.err;
    EXPECT_TRUE(flood.allClosed(kDeadline));
    EXPECT_TRUE(more.allClosed(kDeadline));
    EXPECT_TRUE(waitUntil(
        [&sim] { return sim.linesWith("closed: no TLS handshake within 400 ms").size() == 68u; },
        kDeadline));
}

// What a tester does: pins the fingerprint the start line shows.
TEST(SimulatorTls, TheFingerprintOnTheStartLineLetsFramesendIn)
{
    const bool ipv6 = hasIpv6Loopback();
    const std::string address = ipv6 ? "::1" : "127.0.0.1";
    ChildProcess simulator(DEVICESIM_PATH, {"--tls", "--port", "0", "--address", address});
    ASSERT_TRUE(simulator.waitForLine("Ctrl+C stops.", kDeadline)) << simulator.output();
    std::smatch found;
    const std::string output = simulator.output();
    ASSERT_TRUE(std::regex_search(
        output, found,
        std::regex("listening on (\\[::1\\]|127\\.0\\.0\\.1) port ([0-9]+) \\(TCP and UDP\\); "
                   "TLS, certificate (SHA256:[0-9A-F:]{95}) \\(made at start\\)")))
        << output;
    EXPECT_EQ(found[1] == "[::1]", ipv6);
    const ProcessResult refused =
        runProcess(FRAMESEND_PATH, {"--host", address, "--port", found[2], "--tls"}, kDeadline);
    EXPECT_EQ(refused.code, FrameSender::kUsageOrConnectionError);
    EXPECT_NE(
        refused.output.find("not trusted (self-signed certificate), fingerprint " + found[3].str()),
        std::string::npos)
        << refused.output;
    const ProcessResult sent =
        runProcess(FRAMESEND_PATH,
                   {"--host", address, "--port", found[2], "--tls", "--pin", found[3]}, kDeadline);
    EXPECT_EQ(sent.code, FrameSender::kAnswerPassed) << sent.output;
    simulator.signal(SIGTERM);
    EXPECT_EQ(simulator.wait(kDeadline), 0);
}

struct DialRow {
    const char* name;
    bool pinned, insecure, accepted;
};

class SimulatorTlsDialing : public testing::TestWithParam<DialRow>
{
};

TEST_P(SimulatorTlsDialing, TheHostIsAcceptedOnlyWhenTrustedPinnedOrInsecure)
{
    const DialRow row = GetParam();
    const tls::Credentials own = *tls::makeSelfSigned("host-1", {"127.0.0.1"});
    const std::string pin = tls::CertificateInfo::ofPem(own.certificatePem)->fingerprint;
    LoopDevice host(*net::Endpoint::fromNumeric("127.0.0.1", 0), own);
    ASSERT_TRUE(host.listening());
    SimulatorConfig config = withTls();
    config.connectHost = "127.0.0.1";
    config.connectPort = host.port();
    config.eventsPerSecond = 20;
    config.tls.pin = row.pinned ? pin : "";
    config.tls.insecure = row.insecure;
    SimulatorUnderTest sim(config);
    ASSERT_TRUE(sim.started()) << sim.startError();
    if (row.accepted) {
        EXPECT_TRUE(sim.waitForLine("TLS ready: TLSv1.3, ", kDeadline));
        EXPECT_EQ(sim.linesWith("host certificate " + pin).size(), 1u);
        // The events go out through the session, and the answers come back
        // logged as plaintext.
        EXPECT_TRUE(waitUntil([&host] { return host.received().find("EVT") != std::string::npos; },
                              kDeadline));
        EXPECT_TRUE(sim.waitForLine("ENT-OK", kDeadline));
    } else {
        EXPECT_TRUE(sim.waitForLine("dialing again in", kDeadline));
        const std::vector<std::string> refused = sim.linesWith("not trusted");
        ASSERT_FALSE(refused.empty());
        EXPECT_NE(refused.front().find("fingerprint " + pin), std::string::npos) << refused.front();
        EXPECT_EQ(host.received(), "");
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, SimulatorTlsDialing,
                         testing::Values(DialRow{"Pinned", true, false, true},
                                         DialRow{"Insecure", false, true, true},
                                         DialRow{"Unknown", false, false, false}),
                         [](const testing::TestParamInfo<DialRow>& info) {
                             return info.param.name;
                         });

struct Ipv6Row {
    const char* name;
    const char* listen;
    std::vector<const char*> senders; // addresses that reach the device
    const char* logged;               // how the first sender is logged
};

class SimulatorIpv6 : public testing::TestWithParam<Ipv6Row>
{
};

TEST_P(SimulatorIpv6, ListensOnIpv6LoopbackAndOnBothFamilies)
{
    if (!hasIpv6Loopback())
        GTEST_SKIP() << "no IPv6 loopback on this machine";
    const Ipv6Row row = GetParam();
    SimulatorUnderTest sim(withTls(), row.listen);
    ASSERT_TRUE(sim.started()) << sim.startError();
    for (const char* sender : row.senders) {
        const SenderRun run =
            sendTo(sender, sim.simulator().port(), sim.simulator().tlsFingerprint());
        EXPECT_EQ(run.code, FrameSender::kAnswerPassed) << sender << ": " << run.err;
    }
    EXPECT_TRUE(sim.waitForLine(row.logged, kDeadline));
    EXPECT_EQ(sim.linesWith("command=ENT").size(), row.senders.size());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SimulatorIpv6,
    testing::Values(Ipv6Row{"Loopback", "::1", {"::1"}, "tcp [::1]:"},
                    Ipv6Row{"BothFamilies", "::", {"127.0.0.1", "::1"}, "tcp 127.0.0.1:"}),
    [](const testing::TestParamInfo<Ipv6Row>& info) { return info.param.name; });

// A name that does not resolve is reported with the resolver's reason (IPv6
// addresses, once "cannot resolve the address", are served above).
TEST(SimulatorIpv6, MessagesNameTheRealProblem)
{
    // A label too long for any name: the resolver refuses it without a query.
    const std::string unknown = std::string(64, 'a') + ".invalid";
    SimulatorUnderTest listening({}, unknown);
    EXPECT_FALSE(listening.started());
    EXPECT_EQ(listening.startError().rfind("cannot listen: \"" + unknown + "\": ", 0), 0u)
        << listening.startError();
    SimulatorConfig dialing;
    dialing.connectHost = unknown;
    dialing.connectPort = 21210;
    SimulatorUnderTest dialer(dialing);
    EXPECT_EQ(dialer.startError().rfind("cannot dial: \"" + unknown + "\": ", 0), 0u)
        << dialer.startError();
}

class SimulatorIpv6Dialing : public testing::TestWithParam<const char*>
{
};

// "localhost" names both families: the device reaches a host that listens
// on IPv6 alone whichever address the system gives first.
TEST_P(SimulatorIpv6Dialing, ADeviceDialsAHostOnIpv6Loopback)
{
    LoopDevice host(*net::Endpoint::fromNumeric("::1", 0));
    if (!host.listening())
        GTEST_SKIP() << "no IPv6 loopback on this machine";
    const base::Result<std::vector<net::Endpoint>> addresses =
        net::lookUpEndpoints(GetParam(), host.port(), SOCK_STREAM);
    if (!addresses || std::none_of(addresses->begin(), addresses->end(),
                                   [](const net::Endpoint& a) { return a.family() == AF_INET6; }))
        GTEST_SKIP() << GetParam() << " names no IPv6 address on this machine";
    SimulatorConfig config;
    config.connectHost = GetParam();
    config.connectPort = host.port();
    config.eventsPerSecond = 20;
    SimulatorUnderTest sim(config);
    ASSERT_TRUE(sim.started()) << sim.startError();
    EXPECT_TRUE(
        sim.waitForLine("tcp [::1]:" + host.portText() + " connected from [::1]:", kDeadline));
    EXPECT_TRUE(
        waitUntil([&host] { return host.received().find("EVT") != std::string::npos; }, kDeadline));
}

INSTANTIATE_TEST_SUITE_P(Rows, SimulatorIpv6Dialing, testing::Values("::1", "localhost"),
                         [](const testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param) == "::1" ? "Address" : "Name";
                         });

} // namespace

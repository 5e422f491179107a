// Devices that call in over TLS: served and answered through the host's
// bridges, handed to the console with their session's facts, and forty
// handshakes that never end given up without holding up the devices served.

#include "host/devicehost.h"

#include "protocol/commandframe.h"
#include "tls/certificateinfo.h"
#include "tls/selfsigned.h"
#include "tls/tlssession.h"

#include "waituntil.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

using namespace host;
using namespace std::chrono_literals;

namespace
{

constexpr auto kDeadline = 5000ms;

std::shared_ptr<tls::TlsContext> context(tls::Role role, const tls::Credentials& own)
{
    tls::ContextSettings settings;
    settings.role = role;
    settings.own = own;
    settings.askClientCertificate = role == tls::Role::Server;
    auto made = tls::TlsContext::make(settings);
    EXPECT_TRUE(made.ok()) << made.error().text();
    return made.ok() ? *made : nullptr;
}

tls::Credentials made(const std::string& name)
{
    auto own = tls::makeSelfSigned(name, {"127.0.0.1"});
    EXPECT_TRUE(own.ok());
    return *own;
}

// A socket that connects and then does nothing: a handshake that never ends.
struct Silent {
    int fd = -1;
    explicit Silent(const net::Endpoint& host)
    {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (::connect(fd, host.address(), host.length) != 0) {
            ::close(fd);
            fd = -1;
        }
    }
    ~Silent()
    {
        if (fd >= 0)
            ::close(fd);
    }
    // The host closed it within `limit`.
    bool closedWithin(std::chrono::milliseconds limit) const
    {
        pollfd ready{fd, POLLIN, 0};
        char byte = 0;
        return ::poll(&ready, 1, static_cast<int>(limit.count())) == 1 &&
               ::recv(fd, &byte, 1, MSG_DONTWAIT) <= 0;
    }
};

// A TLS device: a client session driven over a blocking loopback socket.
struct TlsDevice {
    int fd = -1;
    tls::TlsSession session;

    TlsDevice(const net::Endpoint& host, const tls::Credentials& own = {})
        : session(context(tls::Role::Client, own))
    {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (::connect(fd, host.address(), host.length) != 0) {
            ::close(fd);
            fd = -1;
        }
    }
    ~TlsDevice()
    {
        if (fd >= 0)
            ::close(fd);
    }
    bool flush()
    {
        const std::string out = session.takeOutput();
        return ::send(fd, out.data(), out.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(out.size());
    }
    // Feeds the session what arrives within `limit`; false at the end of stream.
    bool pump(std::chrono::milliseconds limit)
    {
        pollfd ready{fd, POLLIN, 0};
        if (::poll(&ready, 1, static_cast<int>(limit.count())) <= 0)
            return true;
        char got[16384];
        const ssize_t n = ::recv(fd, got, sizeof got, 0);
        if (n <= 0)
            return false;
        session.receive(std::string_view(got, static_cast<std::size_t>(n)));
        return flush();
    }
    bool handshake()
    {
        session.start();
        if (!flush())
            return false;
        return waitUntil(
                   [&] {
                       pump(20ms);
                       return session.state() != tls::TlsSession::State::Handshaking;
                   },
                   kDeadline) &&
               session.state() == tls::TlsSession::State::Open;
    }
    bool send(std::string_view plain) { return session.send(plain).ok() && flush(); }
    // Plaintext that arrives until `wanted` bytes are there or the deadline.
    std::string receive(std::size_t wanted, std::chrono::milliseconds limit = kDeadline)
    {
        std::string got;
        waitUntil(
            [&] {
                pump(20ms);
                got += session.takeReceived();
                return got.size() >= wanted;
            },
            limit);
        return got;
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

class SecureHost : public testing::Test
{
protected:
    void SetUp() override
    {
        own = made("console");
        server = context(tls::Role::Server, own);
        settings.publishEvery = 10ms;
        ack.name = "ack";
        ack.when.command = "EVT";
        ack.answer.fields = {"{media}", "{id}", "", "ACK", ""};
    }
    // A host answering every EVT, listening with TLS on loopback.
    std::unique_ptr<DeviceHost> start(DeviceHost::Handover handover = {})
    {
        auto host = std::make_unique<DeviceHost>(settings, std::move(handover),
                                                 [this](const std::string& line) {
                                                     const std::lock_guard<std::mutex> guard(lock);
                                                     notes.push_back(line);
                                                 });
        host->setAnswers({ack}, 1000, protocol::DelimiterMode::Demo);
        const auto listening =
            host->listen(DeviceHost::Tcp, *net::Endpoint::fromNumeric("127.0.0.1", 0), server);
        EXPECT_TRUE(listening.ok());
        local = *listening;
        return host;
    }
    std::size_t notesWith(const std::string& text)
    {
        const std::lock_guard<std::mutex> guard(lock);
        return static_cast<std::size_t>(
            std::count_if(notes.begin(), notes.end(), [&](const std::string& line) {
                return line.find(text) != std::string::npos;
            }));
    }

    tls::Credentials own;
    std::shared_ptr<tls::TlsContext> server;
    HostSettings settings;
    check::AnswerRule ack;
    net::Endpoint local;
    std::mutex lock;
    std::vector<std::string> notes;
    const std::string event = frame({"B", "07", "", "EVT", "door"});
    const std::string answer = protocol::wireBlock(
        protocol::composeFrame({"B", "07", "", "ACK", ""}, protocol::DelimiterMode::Demo));
};

} // namespace

TEST_F(SecureHost, TlsDeviceIsServedByItsAddressAndAnsweredEncrypted)
{
    const tls::Credentials deviceOwn = made("door-7");
    const std::string deviceFingerprint =
        tls::CertificateInfo::ofPem(deviceOwn.certificatePem)->fingerprint;
    auto host = start();
    struct Case {
        const char* name;
        tls::Credentials own;
        std::string fingerprint;
    };
    for (const Case& each : {Case{"no client certificate", {}, ""},
                             Case{"client certificate", deviceOwn, deviceFingerprint}}) {
        SCOPED_TRACE(each.name);
        TlsDevice device(local, each.own);
        ASSERT_TRUE(device.handshake()) << device.session.failure().text();
        EXPECT_EQ(device.session.peer().certificate.fingerprint,
                  tls::CertificateInfo::ofPem(own.certificatePem)->fingerprint);
        ASSERT_TRUE(device.send(event));
        EXPECT_EQ(device.receive(answer.size()), answer);
        // The row names the device's TCP address, not the bridge's socket.
        ASSERT_TRUE(waitUntil(
            [&] {
                const auto row = rowOf(*host, device.local());
                return row && !row->lastFrame.empty();
            },
            kDeadline));
        const DeviceRow row = *rowOf(*host, device.local());
        EXPECT_NE(row.lastFrame.find("command=EVT"), std::string::npos) << row.lastFrame;
        EXPECT_EQ(row.tls.version, device.session.version());
        EXPECT_EQ(row.tls.cipher, device.session.cipher());
        EXPECT_EQ(row.tls.clientCertificate, each.fingerprint);
        EXPECT_EQ(row.bytesIn, event.size());
    }
}

TEST_F(SecureHost, TlsDeviceHandedToTheConsoleCarriesItsSessionAndPlaintext)
{
    std::mutex offered;
    std::vector<DeviceHost::Offer> offers;
    auto host = start([&](const DeviceHost::Offer& offer) {
        const std::lock_guard<std::mutex> guard(offered);
        offers.push_back(offer);
    });
    host->wantDevice(true);
    TlsDevice device(local);
    ASSERT_TRUE(device.handshake());
    ASSERT_TRUE(waitUntil(
        [&] {
            const std::lock_guard<std::mutex> guard(offered);
            return !offers.empty();
        },
        kDeadline));
    const DeviceHost::Offer offer = offers.front();
    EXPECT_EQ(offer.peer, device.local());
    EXPECT_EQ(offer.tls.version, device.session.version());
    EXPECT_EQ(offer.tls.text(), device.session.version() + ", " + device.session.cipher() +
                                    ", no client certificate");
    // The console reads and writes plaintext on its socket.
    ASSERT_TRUE(device.send("ping"));
    char got[16] = {};
    pollfd ready{offer.fd, POLLIN, 0};
    ASSERT_EQ(::poll(&ready, 1, 5000), 1);
    EXPECT_EQ(std::string(got, static_cast<std::size_t>(::recv(offer.fd, got, sizeof got, 0))),
              "ping");
    ASSERT_EQ(::send(offer.fd, "pong", 4, MSG_NOSIGNAL), 4);
    EXPECT_EQ(device.receive(4), "pong");
    // Given back, the host serves it on and answers it.
    host->giveBack(offer.id, offer.fd);
    ASSERT_TRUE(device.send(event));
    EXPECT_EQ(device.receive(answer.size()), answer);
    ASSERT_TRUE(waitUntil(
        [&] {
            const auto row = rowOf(*host, device.local());
            return row && row->state == DeviceState::Connected;
        },
        kDeadline));
    EXPECT_EQ(rowOf(*host, device.local())->tls.version, device.session.version());
}

TEST_F(SecureHost, FloodOfStalledHandshakesStarvesNeitherServedNorLaterDevices)
{
    settings.handshakeLimit = 1000ms;
    auto host = start();
    TlsDevice served(local);
    ASSERT_TRUE(served.handshake());
    std::vector<std::unique_ptr<Silent>> flood;
    for (int i = 0; i < 40; ++i)
        flood.push_back(std::make_unique<Silent>(local));
    // The served device is answered at once, every time, while they stall.
    for (int i = 0; i < 5; ++i) {
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(served.send(event));
        EXPECT_EQ(served.receive(answer.size()), answer);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
    }
    // Beyond the bound they wait in the backlog: each given up in its turn,
    // and a device that comes after them is served once the first ones went.
    TlsDevice later(local);
    const auto waited = std::chrono::steady_clock::now();
    ASSERT_TRUE(later.handshake());
    EXPECT_GE(std::chrono::steady_clock::now() - waited, 500ms);
    ASSERT_TRUE(later.send(event));
    EXPECT_EQ(later.receive(answer.size()), answer);
    for (const auto& each : flood)
        EXPECT_TRUE(each->closedWithin(kDeadline));
    EXPECT_TRUE(waitUntil([&] { return notesWith("handshake failed") == 40; }, kDeadline));
    EXPECT_EQ(host->snapshot().connected, 2u);
}

TEST_F(SecureHost, TlsDeviceWhoseConnectionFailsIsNotedNotTakenForAnOrderlyClose)
{
    auto host = start();
    TlsDevice orderly(local), reset(local);
    ASSERT_TRUE(orderly.handshake());
    ASSERT_TRUE(reset.handshake());
    ASSERT_TRUE(waitUntil([&] { return host->snapshot().connected == 2; }, kDeadline));
    orderly.session.close();
    ASSERT_TRUE(orderly.flush());
    // A reset, as a device that loses power mid-session sends none: the
    // bridge's reason reaches the record.
    const linger abort{1, 0};
    ::setsockopt(reset.fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    ::close(reset.fd);
    reset.fd = -1;
    EXPECT_TRUE(waitUntil([&] { return host->snapshot().connected == 0; }, kDeadline));
    EXPECT_TRUE(waitUntil([&] { return notesWith("connection failed") == 1; }, kDeadline));
    EXPECT_EQ(notesWith("TLS device"), 1u);
}

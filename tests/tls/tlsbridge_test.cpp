#include "tls/certificateinfo.h"
#include "tls/selfsigned.h"
#include "tls/tlsbridge.h"

#include "socket/loopdialer.h"
#include "socket/streamlistener.h"

#include "loopturns.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <optional>
#include <string>

namespace
{

using net::EventLoop;
using Millis = EventLoop::Millis;

// A TLS device on the loop that greets, echoes and can flood; the bridge
// dials it and hands the plaintext to a consumer socket read by the test.
class TlsBridgeTest : public testing::Test
{
protected:
    void SetUp() override
    {
        auto own = tls::makeSelfSigned("door-7", {"127.0.0.1"});
        ASSERT_TRUE(own.ok());
        fingerprint = tls::CertificateInfo::ofPem(own->certificatePem)->fingerprint;
        tls::ContextSettings server;
        server.role = tls::Role::Server;
        server.own = *own;
        serverContext = *tls::TlsContext::make(server);
        const base::Result<int> fd =
            net::StreamListener::open(*net::Endpoint::fromNumeric("127.0.0.1", 0));
        ASSERT_TRUE(fd.ok());
        listener = std::make_unique<net::StreamListener>(
            loop, *fd, [this](int accepted, const net::Endpoint&) { accept(accepted); });
        ASSERT_TRUE(listener->start().ok());
        dialer = std::make_unique<net::LoopDialer>(loop, [this](base::Result<int> fd) {
            ASSERT_TRUE(fd.ok());
            tls::TlsBridge::Settings settings;
            settings.context = *tls::TlsContext::make(tls::ContextSettings{});
            settings.peerName = "127.0.0.1";
            bridge = std::make_unique<tls::TlsBridge>(loop, *fd, settings);
            ASSERT_TRUE(bridge
                            ->start(
                                [this](const tls::TlsSession& session) {
                                    seen = session.peer().certificate.fingerprint;
                                },
                                [this](const base::Error& why) { bridgeEnd = why; })
                            .ok());
        });
        dialer->dial(listener->local(), Millis(5000));
        ASSERT_TRUE(turnUntil(loop, [&] { return bridge && bridge->secured(); }));
    }

    void TearDown() override
    {
        if (consumer >= 0)
            ::close(consumer);
    }

    void accept(int fd)
    {
        device = std::make_unique<tls::TlsStream>(loop, fd, serverContext, "",
                                                  net::LoopStream::Limits{}, Millis(5000));
        ASSERT_TRUE(device
                        ->start(
                            [this](const tls::TlsSession&) {
                                (void)device->send("HELLO\r\n");
                                return base::Error();
                            },
                            [this](std::string_view plain) {
                                (void)device->send("echo " + std::string(plain));
                            },
                            [this](const base::Error& why) { deviceEnd = why; })
                        .ok());
    }

    void openConsumer()
    {
        const base::Result<int> fd = bridge->open();
        ASSERT_TRUE(fd.ok());
        consumer = *fd;
    }

    // What the consumer can read now.
    void drain()
    {
        char buffer[4096];
        for (;;) {
            const ssize_t count = ::recv(consumer, buffer, sizeof buffer, MSG_DONTWAIT);
            if (count == 0)
                consumerSawEnd = true;
            if (count <= 0)
                return;
            consumed.append(buffer, static_cast<std::size_t>(count));
        }
    }

    EventLoop loop;
    std::shared_ptr<tls::TlsContext> serverContext;
    std::unique_ptr<net::StreamListener> listener;
    std::unique_ptr<net::LoopDialer> dialer;
    std::unique_ptr<tls::TlsBridge> bridge;
    std::unique_ptr<tls::TlsStream> device;
    std::string fingerprint, seen, consumed;
    int consumer = -1;
    bool consumerSawEnd = false;
    std::optional<base::Error> bridgeEnd, deviceEnd;
};

TEST_F(TlsBridgeTest, PlaintextFlowsBothWaysOnceOpenAndWhatCameBeforeWaits)
{
    EXPECT_EQ(seen, fingerprint);
    // The greeting came with the handshake's end and waited for the consumer.
    ASSERT_TRUE(turnUntil(loop, [&] { return device && device->secure(); }));
    openConsumer();
    ASSERT_EQ(::send(consumer, "[CARD=1-]\r\n", 11, MSG_NOSIGNAL), 11);
    ASSERT_TRUE(turnUntil(loop, [&] {
        drain();
        return consumed == "HELLO\r\necho [CARD=1-]\r\n";
    })) << consumed;

    // The consumer's close is the session's close at the device.
    ::close(consumer);
    consumer = -1;
    ASSERT_TRUE(turnUntil(loop, [&] { return deviceEnd && bridgeEnd; }));
    EXPECT_EQ(deviceEnd->fault(), base::Fault::PeerClosed);
}

TEST_F(TlsBridgeTest, AFloodReachesASlowConsumerWholeThenTheDevicesEnd)
{
    openConsumer();
    // 4 MiB, far beyond every bound on the way: the device waits, nothing is lost.
    std::string flood;
    for (int i = 0; flood.size() < 4 * 1024 * 1024; ++i)
        flood += "[EVT" + std::to_string(i) + "=IN-1]\r\n";
    std::size_t offered = 0;
    ASSERT_TRUE(turnUntil(loop, [&] {
        while (offered < flood.size() && device->transport().queuedBytes() < 64 * 1024) {
            const std::size_t piece = std::min<std::size_t>(16 * 1024, flood.size() - offered);
            if (!device->send(std::string_view(flood).substr(offered, piece)).ok())
                return false;
            offered += piece;
        }
        if (offered == flood.size() && device->transport().queuedBytes() == 0 && !deviceEnd)
            device->finish();
        drain();
        return consumerSawEnd;
    }));
    EXPECT_EQ(consumed.size(), flood.size() + 7);
    EXPECT_TRUE(consumed == "HELLO\r\n" + flood);
    ::close(consumer);
    consumer = -1;
    ASSERT_TRUE(turnUntil(loop, [&] { return bridgeEnd.has_value(); }));
    EXPECT_EQ(bridgeEnd->fault(), base::Fault::PeerClosed);
}

} // namespace

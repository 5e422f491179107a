#include "tls/selfsigned.h"
#include "tls/tlsstream.h"

#include "socket/loopdialer.h"
#include "socket/streamlistener.h"

#include "loopturns.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

namespace
{

using net::EventLoop;
using Millis = EventLoop::Millis;

class TlsStreamTest : public testing::Test
{
protected:
    void SetUp() override
    {
        auto own = tls::makeSelfSigned("host.test", {"127.0.0.1"});
        ASSERT_TRUE(own.ok());
        tls::ContextSettings server;
        server.role = tls::Role::Server;
        server.own = *own;
        serverContext = *tls::TlsContext::make(server);
        clientContext = *tls::TlsContext::make(tls::ContextSettings{});
        const base::Result<int> fd =
            net::StreamListener::open(*net::Endpoint::fromNumeric("127.0.0.1", 0));
        ASSERT_TRUE(fd.ok());
        listener = std::make_unique<net::StreamListener>(
            loop, *fd, [this](int accepted, const net::Endpoint&) { accept(accepted); });
        ASSERT_TRUE(listener->start().ok());
    }

    virtual void accept(int fd)
    {
        served = std::make_unique<tls::TlsStream>(loop, fd, serverContext, "",
                                                  net::LoopStream::Limits{}, Millis(5000));
        ASSERT_TRUE(served
                        ->start([](const tls::TlsSession&) { return base::Error(); },
                                [this](std::string_view plain) {
                                    (void)served->send("echo " + std::string(plain));
                                },
                                [this](const base::Error& why) { serverEnd = why; })
                        .ok());
    }

    void dial(Millis handshakeLimit, tls::TlsStream::SecureHandler onSecure)
    {
        dialer = std::make_unique<net::LoopDialer>(loop, [=, this](base::Result<int> fd) {
            ASSERT_TRUE(fd.ok());
            client = std::make_unique<tls::TlsStream>(loop, *fd, clientContext, "127.0.0.1",
                                                      net::LoopStream::Limits{}, handshakeLimit);
            ASSERT_TRUE(client
                            ->start(
                                onSecure, [this](std::string_view plain) { received += plain; },
                                [this](const base::Error& why) { clientEnd = why; })
                            .ok());
            ASSERT_TRUE(client->send("[CARD=1-]\r\n").ok());
        });
        dialer->dial(listener->local(), Millis(5000));
    }

    EventLoop loop;
    std::shared_ptr<tls::TlsContext> serverContext, clientContext;
    std::unique_ptr<net::StreamListener> listener;
    std::unique_ptr<net::LoopDialer> dialer;
    std::unique_ptr<tls::TlsStream> served, client;
    std::string received;
    std::optional<base::Error> serverEnd, clientEnd;
};

TEST_F(TlsStreamTest, AnAcceptedPeerGetsThePlaintextThatWaitedForTheHandshake)
{
    std::string seen;
    dial(Millis(5000), [&](const tls::TlsSession& session) {
        seen = session.peer().problem;
        return base::Error();
    });
    ASSERT_TRUE(turnUntil(loop, [&] { return received == "echo [CARD=1-]\r\n"; }));
    EXPECT_EQ(seen, "self-signed certificate");
    client->finish();
    ASSERT_TRUE(turnUntil(loop, [&] { return serverEnd.has_value(); }));
    EXPECT_EQ(serverEnd->fault(), base::Fault::PeerClosed);
}

TEST_F(TlsStreamTest, ARefusedPeerNeverSeesThePlaintext)
{
    std::string plainAtServer;
    dial(Millis(5000), [](const tls::TlsSession&) {
        return base::Error::input(base::Fault::Untrusted, "TLS", "not pinned");
    });
    ASSERT_TRUE(turnUntil(loop, [&] { return clientEnd.has_value() && serverEnd.has_value(); }));
    EXPECT_EQ(clientEnd->fault(), base::Fault::Untrusted);
    EXPECT_TRUE(received.empty());
}

class StallingHost : public TlsStreamTest
{
protected:
    // Takes the connection and never answers the handshake.
    void accept(int fd) override { held = std::make_unique<net::LoopStream>(loop, fd); }
    std::unique_ptr<net::LoopStream> held;
};

TEST_F(StallingHost, AHandshakeThatNeverEndsIsGivenUp)
{
    dial(Millis(300), [](const tls::TlsSession&) { return base::Error(); });
    ASSERT_TRUE(turnUntil(loop, [&] { return clientEnd.has_value(); }));
    EXPECT_EQ(clientEnd->fault(), base::Fault::TimedOut);
    EXPECT_FALSE(client->transport().open());
}

} // namespace

#include "tlsstream.h"

namespace tls
{

TlsStream::TlsStream(net::EventLoop& loop, int fd, std::shared_ptr<TlsContext> context,
                     std::string peerName, net::LoopStream::Limits limits,
                     net::EventLoop::Millis handshakeLimit)
    : loop_(loop), session_(std::move(context), std::move(peerName)), transport_(loop, fd, limits),
      limits_(limits), handshakeLimit_(handshakeLimit)
{
}

TlsStream::~TlsStream()
{
    loop_.cancel(handshakeTimer_);
}

base::Error TlsStream::start(SecureHandler onSecure, ReadHandler onRead, CloseHandler onClose)
{
    onSecure_ = std::move(onSecure);
    onRead_ = std::move(onRead);
    onClose_ = std::move(onClose);
    if (base::Error error = transport_.start([this](std::string_view bytes) { onBytes(bytes); },
                                             [this](const base::Error& why) {
                                                 // A peer that ends the stream before its
                                                 // close still ends the session in order.
                                                 end(why);
                                             });
        !error.ok())
        return error;
    handshakeTimer_ = loop_.after(handshakeLimit_, [this] {
        handshakeTimer_ = 0;
        transport_.close();
        end(base::Error::input(base::Fault::TimedOut, "TLS",
                               "the handshake did not finish in time"));
    });
    session_.start();
    pushOutput();
    return {};
}

void TlsStream::onBytes(std::string_view cipher)
{
    session_.receive(cipher);
    const std::weak_ptr<bool> alive = alive_;
    pushOutput();
    if (alive.expired() || !transport_.open())
        return;
    if (session_.state() == TlsSession::State::Failed) {
        transport_.close();
        end(session_.failure());
        return;
    }
    if (!secure_ && session_.state() != TlsSession::State::Handshaking) {
        secure_ = true;
        loop_.cancel(handshakeTimer_);
        handshakeTimer_ = 0;
        if (onSecure_) {
            const base::Error verdict = onSecure_(session_);
            if (alive.expired())
                return;
            if (!verdict.ok()) {
                transport_.close();
                end(verdict);
                return;
            }
        }
        if (!waiting_.empty()) {
            std::string waiting;
            waiting.swap(waiting_);
            if (base::Error error = session_.send(waiting); !error.ok()) {
                transport_.close();
                end(error);
                return;
            }
        }
        pushOutput();
        if (alive.expired() || !transport_.open())
            return;
    }
    std::string plain = session_.takeReceived();
    if (!plain.empty() && onRead_)
        onRead_(plain);
    if (alive.expired())
        return;
    if (session_.state() == TlsSession::State::Closed && transport_.open()) {
        transport_.close();
        end(base::Error(base::Fault::PeerClosed));
    }
}

void TlsStream::pushOutput()
{
    const std::string out = session_.takeOutput();
    if (out.empty() || !transport_.open())
        return;
    if (base::Error error = transport_.send(out); !error.ok()) {
        transport_.close();
        end(error);
    }
}

base::Error TlsStream::send(std::string_view plain)
{
    if (!transport_.open())
        return base::Error(base::Fault::PeerClosed);
    // Until the secure handler has accepted the peer nothing plain goes to
    // the session, which would send it with the handshake's end.
    if (!secure_) {
        if (waiting_.size() + plain.size() > limits_.maxQueuedBytes)
            return base::Error(base::Fault::SendQueueFull);
        waiting_.append(plain);
        return {};
    }
    if (base::Error error = session_.send(plain); !error.ok())
        return error;
    const std::string out = session_.takeOutput();
    return out.empty() ? base::Error() : transport_.send(out);
}

void TlsStream::finish()
{
    session_.close();
    pushOutput();
    transport_.finish();
}

void TlsStream::close()
{
    loop_.cancel(handshakeTimer_);
    handshakeTimer_ = 0;
    onClose_ = nullptr;
    transport_.close();
}

void TlsStream::end(const base::Error& why)
{
    loop_.cancel(handshakeTimer_);
    handshakeTimer_ = 0;
    if (onClose_) {
        CloseHandler handler = std::move(onClose_);
        onClose_ = nullptr;
        handler(why);
    }
}

} // namespace tls

#include "dialhandshake.h"

namespace devicetools
{

namespace
{

DialHandshake::Step failed(std::string reason)
{
    return {DialHandshake::State::Failed, std::move(reason)};
}

} // namespace

DialHandshake::DialHandshake(std::shared_ptr<const DialTls> tls, const check::Target& target,
                             traffic::ChannelRecorder& recorder)
    : tls_(std::move(tls)), pin_(target.pin), recorder_(recorder),
      link_(std::make_unique<SecureLink>(
          std::make_unique<tls::TlsSession>(tls_->context, target.host)))
{
}

DialHandshake::Step DialHandshake::start(int fd)
{
    link_->start();
    return writable(fd);
}

DialHandshake::Step DialHandshake::writable(int fd)
{
    if (const base::Error error = link_->flush(fd); !error.ok()) {
        return failed("TLS handshake failed: " + error.text());
    }
    return {};
}

DialHandshake::Step DialHandshake::received(std::string_view cipher, int fd)
{
    std::string plain = link_->receive(cipher);
    if (const base::Error error = link_->flush(fd); !error.ok()) {
        return failed("TLS handshake failed: " + error.text());
    }
    return judged(std::move(plain));
}

DialHandshake::Step DialHandshake::judged(std::string plain)
{
    const tls::TlsSession& session = link_->session();
    if (session.state() == tls::TlsSession::State::Handshaking) {
        return {};
    }
    if (session.state() != tls::TlsSession::State::Open) {
        return failed(session.state() == tls::TlsSession::State::Failed
                          ? "TLS handshake failed: " + session.failure().reason()
                          : std::string("the device closed the TLS session in its handshake"));
    }
    recorder_.note(link_->description());
    if (const base::Error refused = tls_->options.judge(session, pin_); !refused.ok()) {
        return failed(refused.reason());
    }
    return {State::Open, std::move(plain)};
}

} // namespace devicetools

#include "tlsfloodpeer.h"

#include "tls/certificateinfo.h"
#include "tls/selfsigned.h"
#include "tls/tlssession.h"

#include <cstdio>

namespace
{

constexpr std::chrono::seconds kAcceptLimit{5};
constexpr std::size_t kPiece = 16 * 1024; // one TLS record's plaintext

} // namespace

TlsFloodPeer::TlsFloodPeer()
{
    for (int i = 0; payload_.size() < 64 * 1024; ++i) {
        char frame[64];
        std::snprintf(frame, sizeof frame, "[A01data%06d=CMD-flood message\r\n", i % 1000000);
        payload_ += frame;
    }
    base::Result<tls::Credentials> own = tls::makeSelfSigned("flood-device", {"127.0.0.1"});
    if (!own)
        return;
    tls::ContextSettings settings;
    settings.role = tls::Role::Server;
    settings.own = *own;
    if (auto context = tls::TlsContext::make(settings))
        context_ = *context;
    if (auto info = tls::CertificateInfo::ofPem(own->certificatePem))
        fingerprint_ = info->fingerprint;
}

TlsFloodPeer::~TlsFloodPeer()
{
    join();
}

std::uint16_t TlsFloodPeer::port() const
{
    return server_.listening() && context_ ? server_.port() : 0;
}

void TlsFloodPeer::start(Clock::duration limit)
{
    thread_ = std::thread([this, limit] { run(Clock::now() + limit); });
}

void TlsFloodPeer::join()
{
    if (thread_.joinable())
        thread_.join();
}

bool TlsFloodPeer::sendAll(std::string_view bytes, Clock::time_point deadline)
{
    while (!bytes.empty()) {
        const auto now = Clock::now();
        if (now >= deadline)
            return false;
        const std::ptrdiff_t n =
            server_.sendSome(bytes, std::chrono::ceil<std::chrono::milliseconds>(deadline - now));
        if (n < 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

void TlsFloodPeer::run(Clock::time_point deadline)
{
    if (!server_.accept(kAcceptLimit))
        return;
    tls::TlsSession session(context_);
    std::string block;
    while (session.state() == tls::TlsSession::State::Handshaking && Clock::now() < deadline) {
        if (!sendAll(session.takeOutput(), deadline))
            return;
        if (server_.receive(block, std::chrono::milliseconds(100)))
            session.receive(block);
    }
    if (session.state() != tls::TlsSession::State::Open || !sendAll(session.takeOutput(), deadline))
        return;
    const std::string_view payload(payload_);
    for (std::size_t at = 0; Clock::now() < deadline;) {
        const std::string_view piece = payload.substr(at, kPiece);
        if (!session.send(piece).ok() || !sendAll(session.takeOutput(), deadline))
            break;
        sent_ += piece.size();
        at = (at + piece.size()) % payload.size();
    }
    server_.closeConnection();
}

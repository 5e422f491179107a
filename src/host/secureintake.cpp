#include "secureintake.h"

#include <unistd.h>

namespace host
{

SecureIntake::SecureIntake(net::EventLoop& loop, Settings settings, Secured onSecured,
                           Failed onFailed, Room onRoom)
    : loop_(loop), settings_(std::move(settings)), onSecured_(std::move(onSecured)),
      onFailed_(std::move(onFailed)), onRoom_(std::move(onRoom))
{
}

SecureIntake::~SecureIntake()
{
    for (auto& [key, entry] : bridges_)
        entry.bridge->close();
}

void SecureIntake::take(int fd, const net::Endpoint& peer, std::shared_ptr<tls::TlsContext> context)
{
    tls::TlsBridge::Settings bridgeSettings;
    bridgeSettings.context = std::move(context);
    bridgeSettings.limits = settings_.limits;
    bridgeSettings.handshakeLimit = settings_.handshakeLimit;
    const std::uint64_t key = nextKey_++;
    Bridge& entry = bridges_[key];
    entry.bridge = std::make_unique<tls::TlsBridge>(loop_, fd, std::move(bridgeSettings));
    entry.peer = peer;
    ++handshaking_;
    const base::Error started =
        entry.bridge->start([this, key](const tls::TlsSession& session) { secured(key, session); },
                            [this, key](const base::Error& why) { ended(key, why); });
    if (!started.ok()) {
        entry.bridge->close();
        bridges_.erase(key);
        --handshaking_;
        if (onFailed_)
            onFailed_(peer, started, false);
        return;
    }
    if (handshaking_ >= settings_.maxHandshakes && !full_) {
        full_ = true;
        if (onRoom_)
            onRoom_(false);
    }
}

void SecureIntake::secured(std::uint64_t key, const tls::TlsSession& session)
{
    const auto found = bridges_.find(key);
    if (found == bridges_.end())
        return;
    Bridge& entry = found->second;
    // Opened at once: the host trusts every device that finishes its
    // handshake, and notes what it showed.
    const base::Result<int> fd = entry.bridge->open();
    if (!fd)
        return; // the bridge ends as told: ended() tells why
    entry.handedOn = true;
    --handshaking_;
    TlsFacts facts;
    facts.version = session.version();
    facts.cipher = session.cipher();
    if (session.peer().presented)
        facts.clientCertificate = session.peer().certificate.fingerprint;
    const net::Endpoint peer = entry.peer;
    handshakeOver();
    if (onSecured_)
        onSecured_(*fd, peer, facts);
    else
        ::close(*fd);
}

void SecureIntake::ended(std::uint64_t key, const base::Error& why)
{
    const auto found = bridges_.find(key);
    if (found == bridges_.end())
        return;
    const bool handedOn = found->second.handedOn;
    const net::Endpoint peer = found->second.peer;
    // The bridge's own handler runs now: it allows being destroyed here.
    bridges_.erase(found);
    if (handedOn) {
        if (why.fault() != base::Fault::PeerClosed && onFailed_)
            onFailed_(peer, why, true);
        return;
    }
    --handshaking_;
    if (onFailed_)
        onFailed_(peer, why, false);
    handshakeOver();
}

void SecureIntake::closeHandshakes()
{
    for (auto it = bridges_.begin(); it != bridges_.end();) {
        if (it->second.handedOn) {
            ++it;
            continue;
        }
        it->second.bridge->close();
        it = bridges_.erase(it);
    }
    handshaking_ = 0;
    handshakeOver();
}

void SecureIntake::handshakeOver()
{
    if (full_ && handshaking_ < settings_.maxHandshakes) {
        full_ = false;
        if (onRoom_)
            onRoom_(true);
    }
}

} // namespace host

#include "consoleconnector.h"

#include "app/tls/trustprompt.h"

#include "tls/knowndevices.h"
#include "tls/trustpolicy.h"

#include <sys/socket.h>

namespace app
{

ConsoleConnector::ConsoleConnector(Handler onEnded, QWidget* promptParent)
    : onEnded_(std::move(onEnded)), promptParent_(promptParent),
      background_([this](net::ConnectOutcome outcome) { connected(std::move(outcome)); })
{
}

ConsoleConnector::~ConsoleConnector()
{
    if (prompt_)
        prompt_->disconnect(this);
    delete prompt_;
}

void ConsoleConnector::setBrokenNote(std::function<void(const std::string& line)> note)
{
    tlsConnector_.setBrokenHandler([note = std::move(note)](const base::Error& why) {
        note("TLS session ended: " + why.text());
    });
}

bool ConsoleConnector::start(net::ConnectRequest request, std::optional<TlsRequest> tls)
{
    if (pending())
        return false;
    started_ = std::chrono::steady_clock::now();
    tls_ = std::move(tls);
    base::Error problem;
    if (tls_ && !tls_->problem.ok())
        problem = tls_->problem;
    else if (tls_ && request.type != SOCK_STREAM)
        problem = base::Error::input(base::Fault::BadParameter, "TLS",
                                     "it runs over TCP only: choose TCP");
    if (!problem.ok()) {
        stage_ = Stage::Connecting;
        // Told from the event loop, as every end is.
        QMetaObject::invokeMethod(
            this,
            [this, problem] {
                if (stage_ == Stage::Connecting && !background_.pending())
                    fail(problem);
            },
            Qt::QueuedConnection);
        return true;
    }
    stage_ = Stage::Connecting;
    background_.start(std::move(request));
    return true;
}

std::chrono::milliseconds ConsoleConnector::elapsed() const
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 started_);
}

void ConsoleConnector::connected(net::ConnectOutcome outcome)
{
    if (!tls_ || !outcome.connected()) {
        finish(ConnectEnd{std::move(outcome), std::nullopt, false});
        return;
    }
    stage_ = Stage::Handshaking;
    local_ = outcome.socket.local();
    tls::TlsBridge::Settings settings;
    settings.context = tls_->context;
    settings.peerName = tls_->peerName;
    settings.handshakeLimit = tls_->handshakeLimit;
    settings.keyLog = tls_->keyLog;
    // The console's channel is the consumer: it is never given up for
    // reading slowly (the device waits in its own buffers instead).
    settings.limits.writeStall = net::EventLoop::Millis(0);
    tlsConnector_.start(
        outcome.socket.release(), std::move(settings),
        [this](const TlsFacts& facts) { secured(facts); },
        [this](const base::Error& why) { fail(why); });
}

void ConsoleConnector::secured(const TlsFacts& facts)
{
    base::Result<tls::KnownDevices> known = tls::KnownDevices::load(tls_->knownDevicesPath);
    if (!known) {
        fail(known.error());
        return;
    }
    const tls::TrustDecision decision = tls::decideTrust(facts.peer, known->pinned(tls_->device));
    switch (decision.trust) {
    case tls::Trust::Trusted:
    case tls::Trust::Pinned:
        open(facts, false);
        return;
    case tls::Trust::Changed:
        fail(base::Error::input(base::Fault::Untrusted, "TLS", decision.refusal(facts.peer)));
        return;
    case tls::Trust::Unknown:
        ask(facts);
        return;
    }
}

void ConsoleConnector::ask(const TlsFacts& facts)
{
    stage_ = Stage::Asking;
    prompt_ = new TrustPrompt(tls_->device, facts.peer, promptParent_);
    connect(prompt_, &QDialog::finished, this, [this, facts](int result) {
        prompt_ = nullptr;
        if (stage_ != Stage::Asking)
            return;
        if (result != QDialog::Accepted) {
            fail(base::Error::input(base::Fault::Untrusted, "TLS",
                                    "the certificate was refused, fingerprint " +
                                        facts.peer.certificate.fingerprint));
            return;
        }
        // Read again: another console may have pinned meanwhile.
        base::Result<tls::KnownDevices> known = tls::KnownDevices::load(tls_->knownDevicesPath);
        if (!known) {
            fail(known.error());
            return;
        }
        known->pin(tls_->device, facts.peer.certificate.fingerprint);
        if (base::Error saved = known->save(tls_->knownDevicesPath); !saved.ok()) {
            fail(saved);
            return;
        }
        open(facts, true);
    });
    prompt_->show();
}

void ConsoleConnector::open(const TlsFacts& facts, bool pinnedNow)
{
    base::Result<int> plain = tlsConnector_.open();
    if (!plain) {
        fail(plain.error());
        return;
    }
    ConnectEnd end;
    end.outcome.socket = net::ConnectedSocket(*plain, local_);
    end.outcome.error = base::Error();
    end.tls = facts;
    end.pinnedNow = pinnedNow;
    finish(std::move(end));
}

void ConsoleConnector::fail(const base::Error& why)
{
    tlsConnector_.close();
    ConnectEnd end;
    end.outcome.error = why;
    finish(std::move(end));
}

void ConsoleConnector::finish(ConnectEnd end)
{
    stage_ = Stage::Idle;
    end.outcome.elapsed = elapsed();
    onEnded_(std::move(end));
}

net::ConnectOutcome ConsoleConnector::cancel()
{
    net::ConnectOutcome outcome;
    if (stage_ == Stage::Connecting && background_.pending()) {
        outcome = background_.cancel();
    } else {
        tlsConnector_.close();
        if (prompt_) {
            prompt_->disconnect(this);
            prompt_->close();
            prompt_ = nullptr;
        }
        outcome.error = net::ConnectOutcome::connectCancelled();
        outcome.elapsed = elapsed();
    }
    stage_ = Stage::Idle;
    return outcome;
}

} // namespace app

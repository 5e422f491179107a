#include "tlsconnector.h"

#include <QMetaObject>
#include <QPointer>

#include <future>

#include <unistd.h>

namespace app
{

std::string TlsFacts::noteText(bool pinnedNow) const
{
    const char* trust = peer.trusted ? "vouched for by an authority"
                        : pinnedNow  ? "pinned now by the operator"
                                     : "pinned";
    return "TLS " + version + ", " + cipher + ", certificate " + peer.certificate.fingerprint +
           ", " + trust;
}

TlsConnector::TlsConnector(QObject* parent) : QObject(parent) {}

TlsConnector::~TlsConnector()
{
    if (!loop_)
        return;
    // The bridges end on their own thread, which then ends.
    loop_->post([this] {
        for (auto& [id, bridge] : bridges_)
            bridge->close();
        bridges_.clear();
        loop_->quit();
    });
    thread_.join();
}

void TlsConnector::ensureThread()
{
    if (loop_)
        return;
    loop_ = std::make_unique<net::EventLoop>();
    thread_ = std::thread([this] { static_cast<void>(loop_->run()); });
}

bool TlsConnector::call(const std::function<void()>& task)
{
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> ended = done->get_future();
    loop_->post([task, done] {
        task();
        done->set_value();
    });
    return ended.wait_for(kCallWait) == std::future_status::ready;
}

void TlsConnector::toOwner(std::uint64_t id, std::function<void()> deliver)
{
    // Queued to this object's thread; dropped with it, or when the
    // connection is no longer the one being set up.
    QMetaObject::invokeMethod(
        this,
        [this, id, deliver = std::move(deliver)] {
            if (id == current_)
                deliver();
        },
        Qt::QueuedConnection);
}

void TlsConnector::start(int fd, tls::TlsBridge::Settings settings, SecuredHandler onSecured,
                         FailedHandler onFailed)
{
    close();
    ensureThread();
    const std::uint64_t id = ++lastId_;
    current_ = id;
    loop_->post([this, id, fd, settings = std::move(settings), onSecured, onFailed]() mutable {
        auto bridge = std::make_unique<tls::TlsBridge>(*loop_, fd, std::move(settings));
        tls::TlsBridge& held = *bridge;
        bridges_[id] = std::move(bridge);
        const base::Error error = held.start(
            [this, id, onSecured](const tls::TlsSession& session) {
                TlsFacts facts{session.peer(), session.version(), session.cipher()};
                toOwner(id, [onSecured, facts] { onSecured(facts); });
            },
            [this, id, onFailed](const base::Error& why) {
                // Before it was secured this is the handshake's failure; after,
                // an opened connection's end, which its channel tells.
                const bool secured = bridges_.count(id) != 0 && bridges_[id]->secured();
                if (!secured)
                    toOwner(id, [this, onFailed, why] {
                        current_ = 0;
                        onFailed(why);
                    });
                else if (why.fault() != base::Fault::PeerClosed)
                    QMetaObject::invokeMethod(
                        this,
                        [this, why] {
                            if (onBroken_)
                                onBroken_(why);
                        },
                        Qt::QueuedConnection);
                bridges_.erase(id);
            });
        if (!error.ok()) {
            bridges_.erase(id);
            toOwner(id, [this, onFailed, error] {
                current_ = 0;
                onFailed(error);
            });
        }
    });
}

base::Result<int> TlsConnector::open()
{
    if (current_ == 0 || !loop_)
        return base::Error(base::Fault::BadParameter);
    const std::uint64_t id = current_;
    current_ = 0;
    // Shared: a task that runs after the wait has given up still has it.
    auto opened = std::make_shared<base::Result<int>>(base::Error(base::Fault::PeerClosed));
    if (!call([this, id, opened] {
            const auto found = bridges_.find(id);
            if (found != bridges_.end())
                *opened = found->second->open();
        }))
        return base::Error(base::Fault::TimedOut);
    return *opened;
}

void TlsConnector::close()
{
    if (current_ == 0 || !loop_)
        return;
    const std::uint64_t id = current_;
    current_ = 0;
    loop_->post([this, id] {
        const auto found = bridges_.find(id);
        if (found == bridges_.end())
            return;
        found->second->close();
        bridges_.erase(found);
    });
}

} // namespace app

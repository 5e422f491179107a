#include "loopdevice.h"

LoopDevice::LoopDevice(const net::Endpoint& local, const tls::Credentials& own,
                       const std::string& clientAuthorities)
{
    if (!own.empty()) {
        tls::ContextSettings settings;
        settings.role = tls::Role::Server;
        settings.own = own;
        settings.caFile = clientAuthorities;
        settings.requireClientCertificate = !clientAuthorities.empty();
        base::Result<std::shared_ptr<tls::TlsContext>> made = tls::TlsContext::make(settings);
        if (!made)
            return;
        context_ = *made;
    }
    const base::Result<int> fd = net::StreamListener::open(local);
    if (!fd)
        return;
    listener_ = std::make_unique<net::StreamListener>(
        loop_, *fd, [this](int accepted, const net::Endpoint&) { accept(accepted); });
    if (!listener_->start().ok())
        return;
    port_ = listener_->local().port();
    thread_ = std::thread([this] { (void)loop_.run(); });
}

LoopDevice::~LoopDevice()
{
    if (thread_.joinable()) {
        loop_.post([this] {
            plain_.clear();
            secure_.clear();
            listener_.reset();
        });
        loop_.quit();
        thread_.join();
    }
}

std::string LoopDevice::received() const
{
    const std::lock_guard guard(lock_);
    return received_;
}

void LoopDevice::accept(int fd)
{
    const int key = next_++;
    const auto keep = [this](std::string_view bytes) {
        const std::lock_guard guard(lock_);
        received_ += bytes;
    };
    if (!context_) {
        auto stream = std::make_unique<net::LoopStream>(loop_, fd);
        net::LoopStream* raw = stream.get();
        plain_[key] = std::move(stream);
        (void)raw->start(
            [raw, keep](std::string_view bytes) {
                keep(bytes);
                (void)raw->send(kAnswer);
            },
            [this, key](const base::Error&) { plain_.erase(key); });
        return;
    }
    auto stream = std::make_unique<tls::TlsStream>(
        loop_, fd, context_, "", net::LoopStream::Limits{}, net::EventLoop::Millis(5000));
    tls::TlsStream* raw = stream.get();
    secure_[key] = std::move(stream);
    (void)raw->start([](const tls::TlsSession&) { return base::Error(); },
                     [raw, keep](std::string_view bytes) {
                         keep(bytes);
                         (void)raw->send(kAnswer);
                     },
                     [this, key](const base::Error&) { secure_.erase(key); });
}

#include "tlsbridge.h"

#include <sys/socket.h>
#include <unistd.h>

namespace tls
{

TlsBridge::TlsBridge(net::EventLoop& loop, int fd, Settings settings)
    : loop_(loop), settings_(std::move(settings)), peer_(net::Endpoint::peerOf(fd)),
      stream_(loop, fd, settings_.context, settings_.peerName, settings_.limits,
              settings_.handshakeLimit)
{
    if (settings_.keyLog)
        stream_.session().setKeyLog(settings_.keyLog);
}

TlsBridge::~TlsBridge()
{
    close();
}

base::Error TlsBridge::start(Secured onSecured, Ended onEnded)
{
    onEnded_ = std::move(onEnded);
    // Reads resume when the held plaintext has gone to the consumer.
    stream_.transport().setDrainHandler([this] {
        if (plain_)
            plain_->setReading(true);
    });
    return stream_.start(
        [this, onSecured = std::move(onSecured)](const TlsSession& session) {
            secured_ = true;
            if (onSecured)
                onSecured(session);
            return base::Error();
        },
        [this](std::string_view plain) { fromDevice(plain); },
        [this](const base::Error& why) { deviceEnded(why); });
}

base::Result<int> TlsBridge::open()
{
    if (plain_ || !secured_)
        return base::Error(base::Fault::BadParameter);
    if (deviceDone_)
        return base::Error(base::Fault::PeerClosed);
    int pair[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        const base::Error error = base::Error::fromErrno("socketpair");
        stream_.close();
        deviceDone_ = consumerDone_ = true;
        note(error);
        return error;
    }
    plain_ = std::make_unique<net::LoopStream>(loop_, pair[0], settings_.limits);
    plain_->setDrainHandler([this] {
        if (!held_.empty()) {
            std::string held;
            held.swap(held_);
            fromDevice(held);
            return;
        }
        stream_.transport().setReading(true);
    });
    if (base::Error error = plain_->start([this](std::string_view bytes) { fromConsumer(bytes); },
                                          [this](const base::Error& why) { consumerEnded(why); });
        !error.ok()) {
        ::close(pair[1]);
        plain_.reset();
        return error;
    }
    if (!held_.empty()) {
        std::string held;
        held.swap(held_);
        fromDevice(held);
    }
    stream_.transport().setReading(true);
    return pair[1];
}

void TlsBridge::fromDevice(std::string_view plain)
{
    const net::LoopStream::Limits& limits = settings_.limits;
    if (!plain_) {
        // Not open yet: kept, and the device waits once half the bound is held.
        held_.append(plain);
        if (held_.size() > limits.maxQueuedBytes / 2)
            stream_.transport().setReading(false);
        return;
    }
    // Sent whole even beyond the bound (a read is at most one scratch
    // buffer), and the device waits until it has gone.
    const base::Error error = plain_->send(plain);
    if (!error.ok() && error.fault() == base::Fault::SendQueueFull) {
        held_.append(plain);
        stream_.transport().setReading(false);
        return;
    }
    if (plain_->queuedBytes() > limits.maxQueuedBytes / 2)
        stream_.transport().setReading(false);
}

void TlsBridge::fromConsumer(std::string_view plain)
{
    if (deviceDone_)
        return;
    if (base::Error error = stream_.send(plain); !error.ok()) {
        stream_.close();
        deviceEnded(error);
        return;
    }
    if (stream_.transport().queuedBytes() > settings_.limits.maxQueuedBytes / 2)
        plain_->setReading(false);
}

void TlsBridge::deviceEnded(const base::Error& why)
{
    deviceDone_ = true;
    note(why);
    if (plain_ && plain_->open() && !consumerDone_) {
        // What the device sent reaches the consumer before the end of stream.
        if (!held_.empty()) {
            static_cast<void>(plain_->send(held_));
            held_.clear();
        }
        plain_->finish();
        return;
    }
    consumerDone_ = true;
    endIfDone();
}

void TlsBridge::consumerEnded(const base::Error& why)
{
    consumerDone_ = true;
    note(why);
    if (!deviceDone_) {
        // The session's close goes to the device, which then ends its side.
        stream_.finish();
        return;
    }
    endIfDone();
}

void TlsBridge::note(const base::Error& why)
{
    if (!why_)
        why_ = why;
}

void TlsBridge::endIfDone()
{
    if (!deviceDone_ || !consumerDone_ || !onEnded_)
        return;
    Ended handler = std::move(onEnded_);
    onEnded_ = nullptr;
    // Last: the handler may destroy the bridge.
    handler(why_ ? *why_ : base::Error(base::Fault::PeerClosed));
}

void TlsBridge::close()
{
    onEnded_ = nullptr;
    stream_.close();
    if (plain_)
        plain_->close();
    held_.clear();
}

} // namespace tls

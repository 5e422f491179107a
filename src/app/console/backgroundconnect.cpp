#include "backgroundconnect.h"

#include <QMetaObject>

#include <cerrno>

namespace app
{

BackgroundConnect::BackgroundConnect(Handler onEnded, QObject* parent)
    : QObject(parent), onEnded_(std::move(onEnded))
{
}

BackgroundConnect::~BackgroundConnect()
{
    if (attempt_)
        attempt_->cancel();
}

bool BackgroundConnect::start(net::ConnectRequest request)
{
    if (attempt_)
        return false;
    attempt_ = std::make_unique<net::ConnectAttempt>(std::move(request));
    started_ = std::chrono::steady_clock::now();
    const std::uint64_t generation = ++generation_;
    // The completion runs on the attempt's thread: it only queues the
    // delivery to this object's thread. It never runs after cancel() has
    // returned, and a queued delivery dies with this object.
    const auto queueDelivery = [this, generation] {
        QMetaObject::invokeMethod(
            this, [this, generation] { deliver(generation); }, Qt::QueuedConnection);
    };
    if (!attempt_->start(queueDelivery))
        queueDelivery();
    return true;
}

net::ConnectOutcome BackgroundConnect::cancel()
{
    if (!attempt_)
        return {};
    attempt_->cancel();
    ++generation_;
    return takeOutcome();
}

net::ConnectOutcome BackgroundConnect::takeOutcome()
{
    std::optional<net::ConnectOutcome> outcome = attempt_->take();
    attempt_.reset();
    if (outcome)
        return std::move(*outcome);
    // Only a host-name look-up outlasts cancel(); its thread ends alone and
    // closes what it made. Told as the attempt would have told it.
    net::ConnectOutcome cancelled;
    cancelled.error = net::ConnectOutcome::connectCancelled();
    cancelled.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - started_);
    return cancelled;
}

void BackgroundConnect::deliver(std::uint64_t generation)
{
    if (generation != generation_ || !attempt_)
        return;
    onEnded_(takeOutcome());
}

} // namespace app

#pragma once

#include "socket/connectattempt.h"

#include <QObject>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

namespace app
{

// One client connect at a time, run off the UI thread by net::ConnectAttempt,
// with its end handed back to the UI thread.
//
// Threads: every member is called on the thread the object lives on (the UI
// thread), and the handler runs there too, from the event loop, never inside
// start() or abandon(). The attempt owns its socket until the handler takes
// the outcome; a socket of an abandoned attempt is closed by the attempt.
class BackgroundConnect : public QObject
{
    Q_OBJECT
public:
    // Receives how an attempt ended (Connected with the socket, or why not).
    using Handler = std::function<void(net::ConnectOutcome)>;

    explicit BackgroundConnect(Handler onEnded, QObject* parent = nullptr);
    // Abandons a pending attempt; the handler is not called for it.
    ~BackgroundConnect() override;

    // Starts an attempt. False, with nothing started, when one is pending
    // already. Otherwise the handler runs exactly once for it, unless it is
    // abandoned first; an attempt whose thread cannot start ends at once as
    // Failed, with the handler called from the event loop as for any other.
    bool start(net::ConnectRequest request);
    bool pending() const { return attempt_ != nullptr; }
    // Ends the pending attempt within a few milliseconds and gives its outcome
    // (Abandoned, or how it ended if it ended meanwhile, its socket closed);
    // the handler is not called for it. Nothing pending: a Failed outcome
    // without an error.
    net::ConnectOutcome abandon();

private:
    void deliver(std::uint64_t generation);
    // The pending attempt's outcome; the attempt is gone afterwards.
    net::ConnectOutcome takeOutcome();

    Handler onEnded_;
    std::unique_ptr<net::ConnectAttempt> attempt_;
    // Tells the end of the current attempt from a late one of an earlier.
    std::uint64_t generation_ = 0;
    std::chrono::steady_clock::time_point started_;
};

} // namespace app

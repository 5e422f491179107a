#pragma once

#include <QPointer>
#include <QWidget>

#include <optional>
#include <string>

namespace net
{
struct ConnectOutcome;
}

namespace app
{

class ConsoleControls;

// The console's controls while its own connect attempt runs: enter() shows
// the busy cursor, disables Connect and enables Disconnect; leave() undoes
// that and gives Connect the focus back when it had it at the click and the
// focus has not moved since the attempt began. It also keeps what the attempt
// was asked for until it ends, and tells a failed one in Connect's tooltip.
//
// Threads: UI thread only. The controls outlive it; every enter() is left
// before it goes.
class PendingConnect
{
public:
    // What a pending connect was asked for, read from the controls at the click.
    struct Attempt {
        std::string host;
        std::string port;
        bool tcp = true;
        bool connectHadFocus = false;
        bool tls = false; // secured with TLS
    };

    explicit PendingConnect(ConsoleControls& controls) : controls_(controls) {}

    void enter(Attempt attempt);
    // The attempt entered last; call only after enter().
    Attempt leave();
    // Connect's tooltip tells how `attempt` failed: its server, socket type,
    // reason and duration.
    void showLastAttempt(const Attempt& attempt, const net::ConnectOutcome& outcome);

private:
    ConsoleControls& controls_;
    std::optional<Attempt> attempt_;
    // Where the focus was while the attempt ran.
    QPointer<QWidget> focusWhilePending_;
    bool busyCursor_ = false;
};

} // namespace app

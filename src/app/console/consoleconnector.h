#pragma once

#include "backgroundconnect.h"

#include "app/tls/tlsconnector.h"
#include "app/tls/tlsrequest.h"

#include "socket/connectattempt.h"
#include "tls/tlscontext.h"
#include "tls/tlssession.h"

#include <QObject>
#include <QPointer>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QWidget;

namespace app
{

class TrustPrompt;

// How the console's connect ended: the outcome as for any connect (with, for
// TLS, the plaintext end of the bridge as its socket and the TCP socket's
// local address), and for TLS what the handshake came to and whether the
// certificate was pinned just now.
struct ConnectEnd {
    net::ConnectOutcome outcome;
    std::optional<TlsFacts> tls;
    bool pinnedNow = false;
};

// One connect of the console's at a time, all of it off the UI thread: the
// TCP or UDP connect (BackgroundConnect), then for TLS the handshake
// (TlsConnector) and the trust decision: a certificate an authority vouches
// for, or the one pinned for the device, is taken; a certificate that differs
// from the pinned one is refused with both fingerprints (Untrusted); an
// unknown one is shown to the operator (TrustPrompt), and pinned in the
// known-devices file when trusted. A failed handshake ends as TlsFailed with
// the library's reason; a handshake that does not end within the limit as
// TimedOut.
//
// Threads: UI thread only; the handler runs from the event loop, exactly once
// per start() unless cancel() comes first.
class ConsoleConnector : public QObject
{
    Q_OBJECT
public:
    using Handler = std::function<void(ConnectEnd end)>;

    ConsoleConnector(Handler onEnded, QWidget* promptParent);
    ~ConsoleConnector() override;

    // False, with nothing started, while a connect is pending. A TLS request
    // over UDP ends at once (TLS runs over TCP only).
    bool start(net::ConnectRequest request, std::optional<TlsRequest> tls);
    bool pending() const { return stage_ != Stage::Idle; }
    // Told, with a line for the record, when a TLS connection that was
    // handed over breaks (the device's alert, a reset): its channel sees only
    // the end of the stream.
    void setBrokenNote(std::function<void(const std::string& line)> note);
    // Gives the pending connect up at whatever step it is (the prompt
    // closes); its outcome (Cancelled, or how it ended meanwhile).
    net::ConnectOutcome cancel();

private:
    enum class Stage { Idle, Connecting, Handshaking, Asking };

    void connected(net::ConnectOutcome outcome);
    void secured(const TlsFacts& facts);
    void ask(const TlsFacts& facts);
    void open(const TlsFacts& facts, bool pinnedNow);
    void fail(const base::Error& why);
    void finish(ConnectEnd end);
    std::chrono::milliseconds elapsed() const;

    Handler onEnded_;
    QWidget* promptParent_;
    BackgroundConnect background_;
    TlsConnector tlsConnector_;
    Stage stage_ = Stage::Idle;
    std::optional<TlsRequest> tls_;
    net::SocketAddress local_; // the TCP socket's own address, for the record
    std::chrono::steady_clock::time_point started_;
    QPointer<TrustPrompt> prompt_;
};

} // namespace app

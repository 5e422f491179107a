#pragma once

#include "tls/tlsbridge.h"

#include "base/error.h"
#include "socket/eventloop.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>

namespace app
{

// What the handshake of the console's connection came to.
struct TlsFacts {
    tls::PeerCheck peer;
    std::string version; // "TLSv1.3"
    std::string cipher;  // "TLS_AES_256_GCM_SHA384"

    // For the record: "TLS TLSv1.3, TLS_AES_256_GCM_SHA384, certificate
    // SHA256:..., vouched for by an authority" (or "pinned", "pinned now").
    std::string noteText(bool pinnedNow) const;
};

// The console's own TLS connections: each a tls::TlsBridge on an event loop
// thread of this object's own (started on first use), so the UI thread never
// waits for a handshake, and the console's channel reads and writes the
// plaintext end as it would a socket.
//
// One connection is being set up at a time: start() (the handshake), then
// open() after the Secured handler (the trust decision is the caller's), or
// close(). Bridges that were opened live on until both their ends have
// closed (the channel's, the device's), even after a newer start().
//
// Threads: every member on the owner's (UI) thread; the handlers run there,
// from its event loop, never inside a member, and never for a connection
// closed or replaced meanwhile.
class TlsConnector : public QObject
{
    Q_OBJECT
public:
    using SecuredHandler = std::function<void(const TlsFacts& facts)>;
    using FailedHandler = std::function<void(const base::Error& why)>;
    // An opened connection ended otherwise than in order (the device's
    // alert, a reset): its reason, for the record.
    using BrokenHandler = std::function<void(const base::Error& why)>;

    static constexpr std::chrono::milliseconds kCallWait{2000};

    explicit TlsConnector(QObject* parent = nullptr);
    // Closes every bridge and ends the thread.
    ~TlsConnector() override;

    // Starts the handshake on the connected socket `fd` (now the
    // connector's); the one being set up before is closed. Exactly one of
    // the handlers follows, unless close() or a newer start() comes first.
    void start(int fd, tls::TlsBridge::Settings settings, SecuredHandler onSecured,
               FailedHandler onFailed);
    // After onSecured: the plaintext end for the console (now the caller's),
    // or why there is none (the device has gone meanwhile).
    [[nodiscard]] base::Result<int> open();
    // Closes the connection being set up, if any.
    void close();
    // Told of every opened connection that breaks (any thread's end is
    // handed to this object's thread first).
    void setBrokenHandler(BrokenHandler onBroken) { onBroken_ = std::move(onBroken); }

private:
    void ensureThread();
    // Runs `task` on the loop's thread and waits for it (at most kCallWait).
    bool call(const std::function<void()>& task);
    // Hands `deliver` to this object's thread if `id` is still current there.
    void toOwner(std::uint64_t id, std::function<void()> deliver);

    std::unique_ptr<net::EventLoop> loop_;
    std::thread thread_;
    // The loop thread's: every bridge by its connection's id.
    std::map<std::uint64_t, std::unique_ptr<tls::TlsBridge>> bridges_;
    // The owner's: the id of the connection being set up (0 for none).
    std::uint64_t current_ = 0;
    BrokenHandler onBroken_;
    std::uint64_t lastId_ = 0;
};

} // namespace app

#pragma once

#include "base/error.h"
#include "pacedoutput.h"
#include "peersession.h"
#include "protocol/recordsplitter.h"
#include "tlslink.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace devicetools
{

// One TCP client of a device that the fleet's event loop serves: the same
// PeerSession as a client of the single device gets, on a non-blocking
// socket. Answers go out at once when the socket takes them; what it does
// not take, and the later pieces of a split answer, wait in a PacedOutput
// (at most kQueuedBytes) for room or for their pause.
//
// The loop calls readable(), writable() and hangUp() on the socket's events
// and onTimer() once nextDue() has come (one timer a connection: nothing
// scans the connections); it watches the socket for wantsRead() and
// wantsWrite(), and once ended() it calls finish() and logs the line it
// returns. A client is closed when it
// has sent nothing for the idle time-out (not while a flood runs), when it
// has taken no bytes for kWriteTimeoutMs, by the close-after fault (after
// its answers have gone), and when it closes (after the answers to what it
// sent have gone).
//
// With TLS (a TlsLink given), the handshake comes first: it must end within
// the handshake limit, then the secure handler decides whether to go on (its
// failure ends the connection with that reason), and only then do records
// count. Events are not sent before. The write time-out covers ciphertext
// that waits, too.
//
// One thread (the loop's) uses it; the settings must outlive it.
class FleetConnection
{
public:
    using Clock = PacedOutput::Clock;
    static constexpr std::size_t kQueuedBytes = 256 * 1024;
    // A client that takes no bytes for this long is given up.
    static constexpr std::uint32_t kWriteTimeoutMs = 2000;
    // Reads of unread bytes before a fault close, at most.
    static constexpr int kDrainReads = 64;

    // Told once the TLS handshake has ended, before any record; its failure
    // ends the connection, "closed: " and its text logged.
    using SecureHandler = std::function<base::Error(const tls::TlsSession& session)>;
    struct Tls {
        std::unique_ptr<TlsLink> link; // none: plain TCP
        std::uint32_t handshakeLimitMs = 0;
        SecureHandler onSecure;
    };

    // Takes the connected, non-blocking socket `fd`. `idleTimeoutMs` 0: never;
    // `tls` without a link: plain TCP.
    FleetConnection(int fd, std::string peerText, const PeerSession::Settings& settings,
                    std::uint32_t idleTimeoutMs, Tls tls);
    // Closes the socket if finish() has not.
    ~FleetConnection();
    FleetConnection(const FleetConnection&) = delete;
    FleetConnection& operator=(const FleetConnection&) = delete;

    int fd() const { return fd_; }
    const std::string& peerText() const { return session_.peerText(); }

    // Reads once into `buffer` and handles the records.
    void readable(char* buffer, std::size_t size);
    // Sends what is due and fits.
    void writable();
    // The socket reports an error or a hang-up.
    void hangUp();
    // Flood frames, log summaries and paused pieces that are due, then the
    // idle time-out and the write time-out at `now`.
    void onTimer(Clock::time_point now);
    // When onTimer() has something to do next (it may have passed), or
    // nothing.
    std::optional<Clock::time_point> nextDue(Clock::time_point now) const;
    // Sends bytes of the device's own (an event), behind what waits, bounded
    // like answers. False when the connection has ended or is ending.
    bool sendUnprompted(std::string_view bytes);

    bool wantsRead() const { return !draining_ && !ended_; }
    bool wantsWrite() const
    {
        return (blockedSince_.has_value() || (tls_.link && tls_.link->wantsWrite())) && !ended_;
    }
    // A TLS handshake is still under way.
    bool handshaking() const { return tls_.link && !secure_; }
    bool ended() const { return ended_; }

    // Closes the socket (after the close-after fault: the end of the stream
    // behind the answers) and says why the connection ended; `stopping` when
    // the simulator stops.
    std::string finish(bool stopping);

private:
    void tick();
    void checkLimits(Clock::time_point now);
    bool send(std::string_view bytes, std::uint32_t pauseMs);
    void flush();
    // Sends what the socket takes now: the count; NoRoomNow when it takes
    // nothing now; else the failure.
    base::Result<std::size_t> sendSome(std::string_view bytes);
    void onRecord(std::string_view record);
    // The client is done; the connection ends once its answers have gone.
    void endAfterOutput(std::string ending);
    void failed(base::Error error);
    // The bytes read from the socket: plaintext as they are, through the
    // TLS session when there is one.
    void received(std::string_view bytes);
    // The TLS handshake ended well: the secure handler decides.
    void secured();
    // Sends the ciphertext that waits; notes when it first found no room.
    void flushCipher(Clock::time_point now);

    int fd_;
    Tls tls_;
    bool secure_ = false;
    Clock::time_point handshakeDue_;
    // When ciphertext that waits first found no room.
    std::optional<Clock::time_point> cipherBlockedSince_;
    PeerSession session_;
    protocol::RecordSplitter splitter_;
    PacedOutput output_{kQueuedBytes};
    std::uint32_t idleTimeoutMs_;
    Clock::time_point lastHeard_;
    // When bytes that are due first found no room.
    std::optional<Clock::time_point> blockedSince_;
    PeerSession::Outcome outcome_ = PeerSession::Outcome::Continue;
    base::Error sendFailure_;
    bool draining_ = false;
    bool ended_ = false;
    std::string ending_ = "closed by the peer";
};

} // namespace devicetools

#pragma once

#include "securelink.h"

#include "check/target.h"
#include "traffic/channelrecorder.h"

#include <memory>
#include <string>
#include <string_view>

namespace devicetools
{

// The TLS handshake with a device the check dialled, as its client, on a
// connected non-blocking socket `fd` (not owned): the first flight, the
// device's answers, and the verdict on the device's certificate by the run's
// options (with the target's own pin, if it has one). The certificate must
// name the host the target was given as.
//
// Each call says where the handshake stands: Going (it waits for the
// socket), Open (take() hands over the link; `text` is the plaintext that
// came with the last flight) or Failed (`text` is the reason, for the
// report). Once the session is open its facts (version, cipher, the peer's
// fingerprint) are noted in the record, before the certificate is judged.
// The time bound is the caller's.
//
// Threads: the loop's only.
class DialHandshake
{
public:
    enum class State { Going, Open, Failed };
    struct Step {
        State state = State::Going;
        std::string text;
    };

    DialHandshake(std::shared_ptr<const DialTls> tls, const check::Target& target,
                  traffic::ChannelRecorder& recorder);

    // Starts the handshake: its first flight goes out as far as the socket
    // takes it.
    Step start(int fd);
    // The socket has room again.
    Step writable(int fd);
    // Bytes read from the socket.
    Step received(std::string_view cipher, int fd);
    // Bytes of the handshake wait for room in the socket.
    bool wantsWrite() const { return link_->wantsWrite(); }
    // The open link; after Open only.
    std::unique_ptr<SecureLink> take() { return std::move(link_); }

private:
    // The session's state after a read: still going, open and accepted, or
    // failed.
    Step judged(std::string plain);

    std::shared_ptr<const DialTls> tls_;
    std::string pin_;
    traffic::ChannelRecorder& recorder_;
    std::unique_ptr<SecureLink> link_;
};

} // namespace devicetools

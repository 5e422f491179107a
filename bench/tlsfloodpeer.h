#pragma once

#include "loopbacktcpserver.h"

#include "tls/credentials.h"
#include "tls/tlscontext.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

// The TLS device of the console's TLS flood benchmark: FloodPeer's frames,
// sent inside a TLS session with a self-signed certificate. Listens on
// 127.0.0.1; once the console has connected and finished the handshake it
// sends back to back until its time is up or the console goes away.
// bytesSent() counts plaintext. start() and join() on one thread;
// bytesSent() from any.
class TlsFloodPeer
{
public:
    using Clock = std::chrono::steady_clock;

    TlsFloodPeer();
    ~TlsFloodPeer();
    TlsFloodPeer(const TlsFloodPeer&) = delete;
    TlsFloodPeer& operator=(const TlsFloodPeer&) = delete;

    // 0 when the peer could not listen or make its certificate.
    std::uint16_t port() const;
    std::string portText() const { return std::to_string(port()); }
    const std::string& fingerprint() const { return fingerprint_; }
    std::uint64_t bytesSent() const { return sent_; }

    void start(Clock::duration limit);
    void join();

private:
    void run(Clock::time_point deadline);
    // Sends all of `bytes` before `deadline`; false when it could not.
    bool sendAll(std::string_view bytes, Clock::time_point deadline);

    LoopbackTcpServer server_;
    std::shared_ptr<tls::TlsContext> context_;
    std::string fingerprint_;
    std::string payload_;
    std::thread thread_;
    std::atomic<std::uint64_t> sent_{0};
};

#pragma once

#include "socket/endpoint.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace host
{

enum class Transport : std::uint8_t { Tcp, Udp };

// Where a device stands.
enum class DeviceState : std::uint8_t {
    Connected,      // the host serves it
    WithConsole,    // handed to the console (which shows its state itself)
    ClosedByDevice, // the device ended the connection in order
    Dropped,        // the connection failed, stalled, or (UDP) the device fell silent
    ClosedHere,     // closed on this side (Disconnect, the end of the host)
};

// What a device's TLS session came to (empty for a plain connection): as the
// row, the Offer and the device's record tell it. A value; any thread.
struct TlsFacts {
    std::string version;           // "TLSv1.3"
    std::string cipher;            // "TLS_AES_256_GCM_SHA384"
    std::string clientCertificate; // its SHA-256 fingerprint; empty: none shown
    bool on() const { return !version.empty(); }
    // "TLSv1.3, TLS_AES_256_GCM_SHA384, client certificate SHA256:AB:..."
    // (or "no client certificate"); empty for a plain connection.
    std::string text() const;
};

// One device as the host's list shows it. A value; any thread.
struct DeviceRow {
    std::uint64_t id = 0; // from 1, never reused by one host
    Transport transport = Transport::Tcp;
    net::Endpoint peer;
    TlsFacts tls; // TCP with TLS: the session
    std::chrono::system_clock::time_point since;
    std::uint64_t bytesIn = 0;
    std::uint64_t bytesOut = 0;
    // The last frame item received, as the Traffic window's Frames column
    // shows it (traffic::FrameStream), at most kLastFrameChars characters.
    std::string lastFrame;
    DeviceState state = DeviceState::Connected;
    std::string why; // what ended it (the system's reason), for Dropped
};

// What the host holds, as one consistent picture. A value; any thread.
struct HostSnapshot {
    // Grows whenever anything below changed: a poller skips equal versions.
    std::uint64_t version = 0;
    net::Endpoint tcpLocal;      // empty while not listening on TCP
    net::Endpoint udpLocal;      // empty while not listening on UDP
    std::vector<DeviceRow> rows; // by id, oldest first
    std::uint64_t connected = 0; // rows Connected or WithConsole
    std::uint64_t refused = 0;   // devices beyond the bound, closed at once
};

std::string stateText(DeviceState state);
std::string transportText(Transport transport);

} // namespace host

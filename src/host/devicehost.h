#pragma once

#include "devicerow.h"
#include "hostsettings.h"

#include "base/error.h"
#include "check/checkfile.h"
#include "socket/endpoint.h"
#include "socket/eventloop.h"
#include "tls/tlscontext.h"
#include "traffic/trafficrecord.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace host
{

class HostCore;

// Serves the devices that call in: listens on TCP, UDP or both, and holds
// every device that connects, all on one net::EventLoop run by one thread of
// its own (never a thread per device).
//
// A TCP device is a connection (net::LoopStream: bounded output, a device that
// stops reading is given up after the write stall). A UDP device is a peer
// address that sent a datagram to the listening UDP socket; sends go back to
// that address; silent for HostSettings::udpIdle it leaves the list. At most
// HostSettings::maxDevices are connected at once: one beyond is accepted,
// closed at once, counted in HostSnapshot::refused and noted.
//
// TLS. A listener given a TLS context (server role) ends TLS for every TCP
// device before serving it (SecureIntake): the host and the console then read
// and write the device's plaintext through a local stream socket, and its
// row and Offer carry the session's facts (TlsFacts). At most
// HostSettings::maxHandshakes handshakes run at once (more connections wait
// in the listen backlog), each within HostSettings::handshakeLimit; one
// that fails or runs out is closed and noted. UDP stays plain.
//
// Per device the host keeps its row (devicerow.h): the last frame received,
// bytes both ways, its state. Ended rows stay until HostSettings::maxEndedRows
// newer ones have ended.
//
// The console's device. With wantDevice(true) the next device to connect (a
// TCP connection, or a UDP address heard for the first time) is not served
// here but handed over: the Handover gets a socket (see Offer, owned by the
// receiver from then on) and the row shows WithConsole. takeDevice() hands
// over a device already served; giveBack() returns one (its socket) to the
// host, which serves it again under the same id.
//
// Threads. Every public operation may be called from any thread but the
// host's own. listen(), stopListening(), wantDevice(), takeDevice(),
// closeAll() and setAnswers() wait for the loop (at most kCallWaitMs); the
// others post to it and return at once. The Handover and the Notes callback
// run on the host's thread: they only hand on (post to the UI thread), never
// block, and call no operation of the host that waits. snapshot() copies the
// list, which the host's thread brings up to date every
// HostSettings::publishEvery (so the UI polls it, never a callback per byte).
//
// Results: nothing throws. listen() gives the system's failure (EADDRINUSE,
// EACCES).
class DeviceHost
{
public:
    static constexpr std::uint32_t kCallWaitMs = 5000;

    enum Protocols : std::uint8_t { Tcp = 1, Udp = 2, Both = 3 };

    // A device handed to the console: its socket (now the receiver's), its
    // id and its peer. TCP: the device's connected socket, or with TLS the
    // local stream socket carrying its plaintext (`tls` says what the session
    // came to; the peer is the device's TCP address). UDP: one end of a
    // local packet pair (AF_UNIX, SOCK_SEQPACKET), each message one datagram,
    // which the host relays to and from the device's address; closing it
    // ends nothing but the relay.
    struct Offer {
        std::uint64_t id = 0;
        int fd = -1;
        net::Endpoint peer;
        Transport transport = Transport::Tcp;
        TlsFacts tls;
    };
    using Handover = std::function<void(const Offer& offer)>;
    // A line for the record (a device refused beyond the bound, a listener
    // that failed).
    using Notes = std::function<void(const std::string& line)>;

    // Starts the host's thread; check error().
    explicit DeviceHost(HostSettings settings = {}, Handover handover = {}, Notes notes = {});
    // Closes every device and listener, ends the thread. A socket handed over
    // stays with its receiver.
    ~DeviceHost();
    DeviceHost(const DeviceHost&) = delete;
    DeviceHost& operator=(const DeviceHost&) = delete;

    // Why the host cannot run (its loop could not be made), or none.
    const base::Error& error() const;

    // Listens on `local` for `protocols` (both on the same port: for port 0
    // UDP takes the port TCP was given), in place of what it listened on
    // before (closed first, so that the same port can be taken again). The
    // TCP address listened on (the UDP one for UDP alone), or the failure,
    // with nothing listening; connected devices stay either way. With `tls`
    // (server role) TCP devices speak TLS.
    [[nodiscard]] base::Result<net::Endpoint>
    listen(Protocols protocols, const net::Endpoint& local,
           std::shared_ptr<tls::TlsContext> tls = nullptr);
    // Closes the listeners (and the connections still in their TLS
    // handshake); connected devices stay.
    void stopListening();

    // Whether the next device to connect goes to the Handover (once: the
    // wish ends when a device is handed over).
    void wantDevice(bool on);
    // Hands a served device over (to the Handover; waits for the loop).
    // False, with nothing done, for an unknown, ended or already handed
    // device, or one whose socket could not be handed over.
    bool takeDevice(std::uint64_t id);
    // Takes back the socket of a device handed over; the host serves it again.
    // A socket without a known id is served as a new device.
    void giveBack(std::uint64_t id, int fd);
    // The console's device has ended with the console: its row takes `state`.
    void handedDeviceEnded(std::uint64_t id, DeviceState state, std::string why = {});

    // Sends `bytes` to a served device (dropped for one unknown or ended, or
    // when its output bound is full).
    void send(std::uint64_t id, std::string bytes);
    // Closes a served device (ClosedHere).
    void close(std::uint64_t id);
    // Closes the listeners and every served device (waits for the loop).
    void closeAll();

    // Automatic answers for every served device from now on, each device
    // within `maxPerSecond` of its own; no rules: off.
    void setAnswers(std::vector<check::AnswerRule> rules, std::uint32_t maxPerSecond,
                    protocol::DelimiterMode mode);

    // Records every served device's traffic into `recorder` from now on (see
    // DeviceRecords: a device's records go to it whole when the device ends,
    // goes to the console, or recording stops); nullptr: no more. The
    // recorder is called on the host's thread. Waits for the loop.
    void setRecorder(std::shared_ptr<traffic::RecordSink> recorder);

    // The list as last brought up to date.
    HostSnapshot snapshot() const;

private:
    template <typename T> T call(std::function<T()> task, T onTimeout);

    std::unique_ptr<net::EventLoop> loop_;
    std::unique_ptr<HostCore> core_; // the loop thread's state
    std::thread thread_;
};

} // namespace host

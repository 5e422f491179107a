#pragma once

#include "connectionwatch.h"
#include "consoleseat.h"
#include "listenertls.h"

#include "host/devicehost.h"

#include <QObject>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace app
{

// The console's host mode: the DeviceHost that listens and serves the
// devices that call in, and the hand-over of one of them to the console.
//
// While it listens and the console has no connection, the next TCP device to
// connect becomes the console's device (ConsoleSeat::seatDevice). choose()
// makes another device the console's: the current one goes back to the host,
// which serves it on. consoleEnded() tells it that the console's connection
// (a device or one the console made) has ended: a device's row takes its
// end, and the next device to connect is taken.
//
// Making one raises the process's soft limit on open files to hold the
// bound of devices (where the hard limit allows).
//
// Threads: UI thread only; the host's hand-over reaches it through a queued
// call. The seat outlives it.
class ConsoleHost : public QObject
{
    Q_OBJECT
public:
    // Descriptors the console keeps besides its devices (record files, the
    // display, its own connection).
    static constexpr std::size_t kOwnDescriptors = 256;

    ConsoleHost(ConsoleSeat& seat, const ConnectionWatch& watch, host::HostSettings settings,
                QObject* parent = nullptr);
    // Ends the host: every device and listener is closed.
    ~ConsoleHost() override;

    // Listens in place of what it listened on before; the address listened on
    // or the system's reason. With `tls` on, TCP devices speak TLS (UDP stays
    // plain): the certificate named or the console's own; one that cannot be
    // used is the reason, with nothing listening.
    [[nodiscard]] base::Result<net::Endpoint> listen(host::DeviceHost::Protocols protocols,
                                                     const net::Endpoint& local,
                                                     const ListenTls& tls = {});
    void stopListening();
    bool listening() const { return listening_; }
    // What the last listen() or stopListening() came to, for the window:
    // where it listens (with TLS the certificate's fingerprint), or why it
    // could not.
    const QString& listenStatus() const { return listenStatus_; }

    // Makes device `id` the console's device. False, with nothing changed,
    // when the console holds a connection of its own (not a device).
    bool choose(std::uint64_t id);
    // The id of the console's device, 0 when the console holds none.
    std::uint64_t consoleDevice() const { return consoleDevice_; }
    // The console's connection has ended (`state` how, for a device's row).
    void consoleEnded(host::DeviceState state, const std::string& why = {});
    // The console makes a connection of its own: no device is taken meanwhile.
    void consoleConnecting();
    // Close: stops listening and closes every device the host serves.
    void shutdown();
    // The Devices window's "Connect to": whether the console holds or makes
    // a connection, and its own connect (ConsoleSeat::connectTo).
    bool consoleTaken() const { return seat_.seatTaken(); }
    bool connectConsoleTo(const QString& host, const QString& port)
    {
        return seat_.connectTo(host, port);
    }

    host::DeviceHost& devices() { return *host_; }
    const ConnectionWatch& watch() const { return watch_; }

signals:
    void listeningChanged();
    // A line for the record (a refused device, a hand-over that failed).
    void note(const QString& line);

private:
    void offered(const host::DeviceHost::Offer& offer);

    ConsoleSeat& seat_;
    const ConnectionWatch& watch_;
    std::unique_ptr<host::DeviceHost> host_;
    bool listening_ = false;
    QString listenStatus_;
    std::uint64_t consoleDevice_ = 0;
    std::uint64_t chosen_ = 0; // asked for by choose(), not yet handed over
};

} // namespace app

#pragma once

#include "callerroster.h"
#include "fleetrunner.h"

#include "base/error.h"
#include "check/checkfile.h"
#include "check/fleetreport.h"
#include "socket/endpoint.h"
#include "tls/tlscontext.h"
#include "traffic/trafficrecord.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

namespace devicetools
{

// How devices that call in are waited for.
struct ListenSettings {
    static constexpr std::uint32_t kDefaultListenSeconds = 60;

    net::Endpoint local;               // where to listen
    std::optional<std::size_t> expect; // end once this many devices were checked
    std::uint32_t listenSeconds = kDefaultListenSeconds;
    std::shared_ptr<tls::TlsContext> tls; // the server's, or null: plain
};

// Checks the devices that call in: listens (TCP, or UDP when the check file
// says UDP: a device is then a peer address that sent a datagram to the
// port), makes each caller a device through a CallerRoster (by address, or by
// the device id of its first frame, read before its check starts) and runs
// the check on it with a DeviceSession started from the accepted connection,
// all on one net::EventLoop. At most `jobs` checks run at once; callers
// beyond that wait accepted (TCP: not read meanwhile) and start in the order
// they came.
//
// The end: listening stops when the listen time has passed, when `expect`
// devices have called in, or when every listed device has; the checks under
// way then run to their end (each bounded by the device time-out). Listed
// devices that did not call in fail ("did not call in within 60 s"); callers
// that are not known are unknown rows (at most kMaxUnknown; the rest are only
// closed); a device that calls in again (devices dial again once their
// connection ends) is closed and counted (FleetProgress::callsAgain). Stopping (`stopFd` readable)
// stops the checks under way, closes every other caller and leaves the listed devices not yet
// checked not run.
//
// Report: the listed devices in the file's order, or the callers in the
// order they came, then the unknown ones. Threads: all on the caller's.
class ListenRunner
{
public:
    using ProgressHook = FleetRunner::ProgressHook;
    static constexpr std::size_t kMaxUnknown = 1000;

    ListenRunner(const check::CheckFile& file, FleetSettings fleet, ListenSettings listen);
    ~ListenRunner();
    ListenRunner(const ListenRunner&) = delete;
    ListenRunner& operator=(const ListenRunner&) = delete;

    void setRecorder(traffic::RecordSink* sink) { recorder_ = sink; }
    void setProgressHook(ProgressHook hook) { progress_ = std::move(hook); }

    // Opens the listening socket: the system's failure (EADDRINUSE, EACCES)
    // with nothing open. Before run().
    [[nodiscard]] base::Error open();
    // Where it listens (the port the system chose for port 0); after open().
    net::Endpoint local() const;

    // Listens and checks; the failure when the event loop cannot be made or
    // fails.
    [[nodiscard]] base::Error run(CallerRoster& roster, int stopFd, check::FleetReport& report);
    const FleetProgress& counts() const { return counts_; }

private:
    const check::CheckFile& file_;
    FleetSettings fleet_;
    ListenSettings listen_;
    int fd_ = -1;
    traffic::RecordSink* recorder_ = nullptr;
    ProgressHook progress_;
    FleetProgress counts_;
};

} // namespace devicetools

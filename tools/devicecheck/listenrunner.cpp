#include "listenrunner.h"

#include "callintake.h"
#include "devicesession.h"
#include "runtally.h"

#include "socket/eventloop.h"

#include <unistd.h>

#include <deque>
#include <memory>
#include <unordered_map>
#include <utility>

namespace devicetools
{

namespace
{

using check::Clock;

constexpr int kMillisPerSecond = 1000;

// A device that called in, from its hand-over to the end of its check.
struct Device {
    CallIntake::Caller caller;
    std::size_t row = 0; // in the report
    std::unique_ptr<DeviceSession> session;
};

// One run's state; lives for one call of ListenRunner::run().
class Host
{
public:
    Host(const check::CheckFile& file, const FleetSettings& fleet, const ListenSettings& listen,
         int fd, traffic::RecordSink* recorder, const ListenRunner::ProgressHook& progress,
         CallerRoster& roster, check::FleetReport& report,
         std::vector<check::DeviceResult>& unknownList)
        : file_(std::make_shared<const check::CheckFile>(file)), fleet_(fleet), listen_(listen),
          udp_(file.transport == check::Transport::Udp), recorder_(recorder), roster_(roster),
          report_(report), unknownList_(unknownList),
          tally_(loop_, progress,
                 [this] {
                     return roster_.listed() ? roster_.rows().size()
                            : listen_.expect ? std::max(*listen_.expect, roster_.calledCount())
                                             : roster_.calledCount();
                 }),
          intake_(
              loop_, fd, udp_, roster.key() == CallerRoster::Key::Id, fleet.limits.connectTimeout,
              {[this](CallIntake::Caller caller) { arrived(std::move(caller)); },
               [this](std::uint64_t serial, std::string_view bytes) { datagram(serial, bytes); },
               [this](const net::Endpoint& peer, std::string reason) {
                   unknown(peer, {}, std::move(reason));
                   checkEnd();
               }})
    {
        intake_.useTls(listen.tls);
    }
    ~Host()
    {
        // The sessions go before the socket they may answer through.
        devices_.clear();
        for (const check::DeviceResult& row : unknownRows_) {
            unknownList_.push_back(row);
        }
    }
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    base::Error run(int stopFd);
    const FleetProgress& counts() const { return tally_.counts(); }
    std::uint32_t listenedSeconds() const { return listenedSeconds_; }

private:
    void arrived(CallIntake::Caller caller);
    void datagram(std::uint64_t serial, std::string_view bytes);
    void unknown(const net::Endpoint& peer, std::string_view id, std::string reason);
    void startWaiting();
    void start(Device& device);
    void ended(std::uint64_t serial);
    void drop(std::uint64_t serial);
    void stopListening(bool timeUp);
    void stop();
    void checkEnd();

    net::EventLoop loop_;
    std::shared_ptr<const check::CheckFile> file_;
    const FleetSettings& fleet_;
    const ListenSettings& listen_;
    bool udp_;
    traffic::RecordSink* recorder_;
    CallerRoster& roster_;
    check::FleetReport& report_;
    std::vector<check::DeviceResult>& unknownList_;
    std::vector<check::DeviceResult> unknownRows_;
    RunTally tally_;
    CallIntake intake_;
    std::unordered_map<std::uint64_t, std::unique_ptr<Device>> devices_; // by serial
    std::deque<std::uint64_t> waiting_;
    std::size_t running_ = 0;
    net::EventLoop::TimerId listenTimer_ = 0;
    bool listening_ = false;
    bool starting_ = false;
    bool stopping_ = false;
    bool over_ = false;
    std::uint32_t listenedSeconds_ = 0;
};

base::Error Host::run(int stopFd)
{
    if (!loop_.error().ok()) {
        return loop_.error();
    }
    if (stopFd >= 0) {
        if (base::Error watched =
                loop_.watch(stopFd, net::EventLoop::WantRead, [this](std::uint32_t) { stop(); });
            !watched.ok()) {
            return watched;
        }
    }
    if (base::Error started = intake_.start(); !started.ok()) {
        return started;
    }
    listening_ = true;
    listenTimer_ =
        loop_.after(check::Millis(std::int64_t{listen_.listenSeconds} * kMillisPerSecond), [this] {
            listenTimer_ = 0;
            stopListening(true);
            checkEnd();
        });
    tally_.startTicks();
    base::Error ran = loop_.run();
    if (!ran.ok()) {
        stop();
    }
    if (stopFd >= 0) {
        loop_.unwatch(stopFd);
    }
    stopListening(false);
    tally_.report();
    return ran;
}

void Host::arrived(CallIntake::Caller caller)
{
    const CallerRoster::Call call =
        roster_.admit(caller.peer.addressText(), caller.peer.port(), caller.id);
    if (!call.known) {
        if (call.again) {
            tally_.callAgain();
        } else {
            unknown(caller.peer, caller.id, call.reason);
        }
        if (caller.fd >= 0) {
            ::close(caller.fd);
        }
        intake_.forget(caller.serial);
        checkEnd();
        return;
    }
    if (call.row >= report_.devices.size()) {
        report_.devices.resize(call.row + 1);
    }
    report_.devices[call.row].target = call.target;
    const std::uint64_t serial = caller.serial;
    auto device = std::make_unique<Device>();
    device->caller = std::move(caller);
    device->row = call.row;
    devices_.emplace(serial, std::move(device));
    const bool enough = listen_.expect && roster_.calledCount() >= *listen_.expect;
    if (enough || (roster_.listed() && roster_.calledCount() == roster_.rows().size())) {
        stopListening(false);
    }
    waiting_.push_back(serial);
    startWaiting();
}

void Host::datagram(std::uint64_t serial, std::string_view bytes)
{
    const auto found = devices_.find(serial);
    if (found == devices_.end()) {
        return;
    }
    Device& device = *found->second;
    if (device.session) {
        device.session->deliver(bytes);
    } else if (device.caller.early.size() < FirstFrame::kMaxBytes) {
        // Kept for its check, bounded as what came before it.
        device.caller.early.append(
            bytes.substr(0, FirstFrame::kMaxBytes - device.caller.early.size()));
    }
}

void Host::unknown(const net::Endpoint& peer, std::string_view id, std::string reason)
{
    if (unknownRows_.size() >= ListenRunner::kMaxUnknown) {
        return;
    }
    check::DeviceResult row;
    row.target.host = CallerRoster::plainAddress(peer.addressText());
    row.target.port = peer.port();
    if (!id.empty()) {
        row.target.name = "id " + std::string(id);
    }
    row.outcome = check::DeviceOutcome::Unknown;
    row.failedStep = "unknown";
    row.reason = std::move(reason);
    unknownRows_.push_back(std::move(row));
}

void Host::startWaiting()
{
    if (starting_ || stopping_) {
        return;
    }
    // A session that ends at once frees its job within this loop, not
    // through a call of its own.
    starting_ = true;
    while (running_ < std::max(fleet_.jobs, 1u) && !waiting_.empty()) {
        const std::uint64_t serial = waiting_.front();
        waiting_.pop_front();
        if (const auto found = devices_.find(serial); found != devices_.end()) {
            start(*found->second);
        }
    }
    starting_ = false;
    checkEnd();
}

void Host::start(Device& device)
{
    const std::uint64_t serial = device.caller.serial;
    device.session = std::make_unique<DeviceSession>(
        loop_, file_, report_.devices[device.row].target, fleet_.limits, recorder_ != nullptr,
        [this, serial](DeviceSession&) { ended(serial); });
    ++running_;
    DeviceSession& session = *device.session;
    const std::string early = std::move(device.caller.early);
    // The session may end, and the device go, within these calls.
    if (udp_) {
        session.adoptDatagrams(intake_.datagramSocket(), device.caller.peer, early);
    } else {
        const int fd = device.caller.fd;
        device.caller.fd = -1;
        session.adopt(fd, device.caller.peer, early, std::move(device.caller.link));
    }
}

void Host::ended(std::uint64_t serial)
{
    Device& device = *devices_.at(serial);
    tally_.ended(*device.session, report_.devices[device.row], recorder_);
    --running_;
    drop(serial);
    startWaiting();
}

void Host::drop(std::uint64_t serial)
{
    const auto found = devices_.find(serial);
    if (found == devices_.end()) {
        return;
    }
    if (found->second->caller.fd >= 0) {
        ::close(found->second->caller.fd);
    }
    intake_.forget(serial);
    devices_.erase(found);
}

void Host::stopListening(bool timeUp)
{
    if (!listening_) {
        return;
    }
    listening_ = false;
    loop_.cancel(listenTimer_);
    listenTimer_ = 0;
    intake_.close();
    listenedSeconds_ =
        timeUp ? listen_.listenSeconds
               : static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::seconds>(
                                                Clock::now() - tally_.started())
                                                .count());
}

void Host::stop()
{
    report_.stopped = true;
    stopListening(false);
    stopping_ = true;
    waiting_.clear();
    std::vector<std::uint64_t> serials;
    for (const auto& [serial, device] : devices_) {
        serials.push_back(serial);
    }
    for (const std::uint64_t serial : serials) {
        const auto found = devices_.find(serial);
        if (found == devices_.end()) {
            continue;
        }
        if (found->second->session) {
            found->second->session->stop();
        } else {
            drop(serial);
        }
    }
    over_ = true;
    loop_.quit();
}

void Host::checkEnd()
{
    if (!listening_ && devices_.empty() && intake_.pending() == 0 && !over_) {
        over_ = true;
        loop_.quit();
    }
}

} // namespace

ListenRunner::ListenRunner(const check::CheckFile& file, FleetSettings fleet, ListenSettings listen)
    : file_(file), fleet_(fleet), listen_(listen)
{
}

ListenRunner::~ListenRunner()
{
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

base::Error ListenRunner::open()
{
    base::Result<int> opened =
        CallIntake::open(listen_.local, file_.transport == check::Transport::Udp);
    if (!opened) {
        return opened.error();
    }
    fd_ = *opened;
    return {};
}

net::Endpoint ListenRunner::local() const
{
    return net::Endpoint::localOf(fd_);
}

base::Error ListenRunner::run(CallerRoster& roster, int stopFd, check::FleetReport& report)
{
    report.startedAt = std::chrono::system_clock::now();
    report.stopped = false;
    report.devices.clear();
    for (check::Target row : roster.rows()) {
        row.port = 0; // shown by its address or id until it calls in
        report.devices.push_back({});
        report.devices.back().target = std::move(row);
    }
    const Clock::time_point start = Clock::now();
    std::vector<check::DeviceResult> unknown;
    base::Error ran;
    std::uint32_t listened = 0;
    {
        // The run's intake takes the socket and closes it.
        Host host(file_, fleet_, listen_, std::exchange(fd_, -1), recorder_, progress_, roster,
                  report, unknown);
        ran = host.run(stopFd);
        counts_ = host.counts();
        listened = host.listenedSeconds();
    }
    if (!report.stopped) {
        roster.reportMissing(report, listen_.expect.value_or(0), listened);
    }
    for (check::DeviceResult& row : unknown) {
        report.devices.push_back(std::move(row));
    }
    report.elapsed = std::chrono::duration_cast<check::Millis>(Clock::now() - start);
    return ran;
}

} // namespace devicetools

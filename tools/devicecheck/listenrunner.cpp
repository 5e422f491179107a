#include "listenrunner.h"

#include "devicesession.h"
#include "firstframe.h"

#include "socket/eventloop.h"
#include "socket/streamlistener.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <deque>
#include <memory>
#include <unordered_map>
#include <unordered_set>

namespace devicetools
{

namespace
{

using check::Clock;

constexpr check::Millis kProgressInterval{100};
constexpr int kDatagramsPerTurn = 64;
constexpr int kMillisPerSecond = 1000;

// A device that called in, from its accept (or first datagram) to the end of
// its check.
struct Caller {
    std::uint64_t serial = 0;
    int fd = -1; // TCP: the accepted socket until its session takes it
    net::Endpoint peer;
    FirstFrame first; // what it sent before its check started
    bool watched = false;
    net::EventLoop::TimerId identifyTimer = 0;
    std::size_t row = 0; // in the report, once known
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
          fd_(fd), udp_(file.transport == check::Transport::Udp), recorder_(recorder),
          progress_(progress), roster_(roster), report_(report), unknownList_(unknownList)
    {
    }
    ~Host()
    {
        for (auto& [serial, caller] : callers_) {
            closeCaller(*caller);
        }
        if (udp_ && fd_ >= 0) {
            loop_.unwatch(fd_);
        }
    }
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    base::Error run(int stopFd);
    const FleetProgress& counts() const { return counts_; }
    std::uint32_t listenedSeconds() const { return listenedSeconds_; }

private:
    void accepted(int fd, const net::Endpoint& peer);
    void identifyRead(std::uint64_t serial);
    void datagrams();
    void datagram(const net::Endpoint& peer, std::string_view bytes);
    Caller& newCaller(const net::Endpoint& peer);
    // Waits for the caller's first frame (by id), or knows it at once.
    void identify(Caller& caller);
    void identified(std::uint64_t serial, std::string_view id);
    void unknown(Caller& caller, std::string_view id, std::string reason);
    void startWaiting();
    void startSession(Caller& caller);
    void ended(std::uint64_t serial);
    void drop(std::uint64_t serial);
    void closeCaller(Caller& caller);
    void stopListening(bool timeUp);
    void stop();
    void checkEnd();
    void tick();
    void report();

    net::EventLoop loop_;
    std::shared_ptr<const check::CheckFile> file_;
    const FleetSettings& fleet_;
    const ListenSettings& listen_;
    int fd_;
    bool udp_;
    traffic::RecordSink* recorder_;
    const ListenRunner::ProgressHook& progress_;
    CallerRoster& roster_;
    check::FleetReport& report_;
    std::vector<check::DeviceResult>& unknownList_; // reported after the devices
    std::unique_ptr<net::StreamListener> listener_;
    std::unordered_map<std::uint64_t, std::unique_ptr<Caller>> callers_;
    std::unordered_map<net::Endpoint, std::uint64_t, net::EndpointHash> byPeer_; // UDP
    std::unordered_set<net::Endpoint, net::EndpointHash> finishedPeers_;         // UDP
    std::deque<std::uint64_t> waiting_;
    std::uint64_t nextSerial_ = 1;
    std::size_t running_ = 0;
    std::size_t unknownRows_ = 0;
    net::EventLoop::TimerId listenTimer_ = 0;
    bool listening_ = false;
    bool starting_ = false;
    bool stopping_ = false;
    bool over_ = false;
    std::uint32_t listenedSeconds_ = 0;
    Clock::time_point start_ = Clock::now();
    FleetProgress counts_;
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
    base::Error started;
    if (udp_) {
        started =
            loop_.watch(fd_, net::EventLoop::WantRead, [this](std::uint32_t) { datagrams(); });
    } else {
        listener_ = std::make_unique<net::StreamListener>(
            loop_, fd_, [this](int fd, const net::Endpoint& peer) { accepted(fd, peer); });
        fd_ = -1; // the listener's now
        started = listener_->start();
    }
    if (!started.ok()) {
        return started;
    }
    listening_ = true;
    listenTimer_ =
        loop_.after(check::Millis(std::int64_t{listen_.listenSeconds} * kMillisPerSecond), [this] {
            listenTimer_ = 0;
            stopListening(true);
            checkEnd();
        });
    if (progress_) {
        loop_.after(kProgressInterval, [this] { tick(); });
    }
    base::Error ran = loop_.run();
    if (!ran.ok()) {
        stop();
    }
    if (stopFd >= 0) {
        loop_.unwatch(stopFd);
    }
    if (listening_) {
        stopListening(false);
    }
    report();
    return ran;
}

Caller& Host::newCaller(const net::Endpoint& peer)
{
    auto caller = std::make_unique<Caller>();
    caller->serial = nextSerial_++;
    caller->peer = peer;
    Caller& made = *caller;
    callers_.emplace(made.serial, std::move(caller));
    return made;
}

void Host::accepted(int fd, const net::Endpoint& peer)
{
    if (!listening_) {
        ::close(fd);
        return;
    }
    Caller& caller = newCaller(peer);
    caller.fd = fd;
    identify(caller);
}

void Host::identify(Caller& caller)
{
    if (roster_.key() != CallerRoster::Key::Id) {
        identified(caller.serial, {});
        return;
    }
    const std::uint64_t serial = caller.serial;
    if (!udp_) {
        caller.watched = loop_
                             .watch(caller.fd, net::EventLoop::WantRead,
                                    [this, serial](std::uint32_t) { identifyRead(serial); })
                             .ok();
    }
    caller.identifyTimer = loop_.after(fleet_.limits.connectTimeout, [this, serial] {
        const auto found = callers_.find(serial);
        if (found != callers_.end()) {
            found->second->identifyTimer = 0;
            unknown(*found->second, {},
                    "sent no frame within " + std::to_string(fleet_.limits.connectTimeout.count()) +
                        " ms");
        }
    });
}

void Host::identifyRead(std::uint64_t serial)
{
    Caller& caller = *callers_.at(serial);
    const ssize_t count = ::recv(caller.fd, loop_.scratch(), net::EventLoop::kScratchBytes, 0);
    if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        return;
    }
    if (count <= 0) {
        unknown(caller, {}, "closed the connection before sending a frame");
        return;
    }
    if (const std::optional<std::string> id = caller.first.feed(
            std::string_view(loop_.scratch(), static_cast<std::size_t>(count)), false)) {
        identified(serial, *id);
    } else if (caller.first.full()) {
        unknown(caller, {},
                "sent no frame in its first " + std::to_string(FirstFrame::kMaxBytes / 1024) +
                    " KiB");
    }
}

void Host::datagrams()
{
    for (int i = 0; i < kDatagramsPerTurn; ++i) {
        sockaddr_storage from{};
        socklen_t length = sizeof from;
        const ssize_t count = ::recvfrom(fd_, loop_.scratch(), net::EventLoop::kScratchBytes, 0,
                                         reinterpret_cast<sockaddr*>(&from), &length);
        if (count < 0) {
            return; // EAGAIN, or an error the next datagram may not have
        }
        datagram(net::Endpoint::from(reinterpret_cast<const sockaddr*>(&from), length),
                 std::string_view(loop_.scratch(), static_cast<std::size_t>(count)));
    }
}

void Host::datagram(const net::Endpoint& peer, std::string_view bytes)
{
    if (const auto known = byPeer_.find(peer); known != byPeer_.end()) {
        Caller& caller = *callers_.at(known->second);
        if (caller.session) {
            caller.session->deliver(bytes);
        } else if (const std::optional<std::string> id = caller.first.feed(bytes, true);
                   id && caller.identifyTimer != 0) {
            identified(caller.serial, *id);
        }
        return;
    }
    if (!listening_ || finishedPeers_.contains(peer)) {
        return;
    }
    Caller& caller = newCaller(peer);
    byPeer_.emplace(peer, caller.serial);
    const std::optional<std::string> id = caller.first.feed(bytes, true);
    if (id) {
        identified(caller.serial, *id);
    } else {
        identify(caller);
    }
}

void Host::identified(std::uint64_t serial, std::string_view id)
{
    Caller& caller = *callers_.at(serial);
    loop_.cancel(caller.identifyTimer);
    caller.identifyTimer = 0;
    if (caller.watched) {
        // Not read while it waits for a job: its bytes wait in the system.
        loop_.unwatch(caller.fd);
        caller.watched = false;
    }
    const CallerRoster::Call call =
        roster_.admit(caller.peer.addressText(), caller.peer.port(), id);
    if (!call.known) {
        unknown(caller, id, call.reason);
        return;
    }
    caller.row = call.row;
    if (caller.row >= report_.devices.size()) {
        report_.devices.resize(caller.row + 1);
    }
    report_.devices[caller.row].target = call.target;
    const bool enough = listen_.expect && roster_.calledCount() >= *listen_.expect;
    if (enough || (roster_.listed() && roster_.calledCount() == roster_.rows().size())) {
        stopListening(false);
    }
    waiting_.push_back(serial);
    startWaiting();
}

void Host::unknown(Caller& caller, std::string_view id, std::string reason)
{
    if (unknownRows_ < ListenRunner::kMaxUnknown) {
        ++unknownRows_;
        check::DeviceResult row;
        row.target.host = CallerRoster::plainAddress(caller.peer.addressText());
        row.target.port = caller.peer.port();
        row.target.address = check::Target::kUnresolved;
        if (!id.empty()) {
            row.target.name = "id " + std::string(id);
        }
        row.outcome = check::DeviceOutcome::Unknown;
        row.failedStep = "unknown";
        row.reason = std::move(reason);
        unknownList_.push_back(std::move(row));
    }
    if (udp_) {
        finishedPeers_.insert(caller.peer);
    }
    drop(caller.serial);
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
        if (const auto found = callers_.find(serial); found != callers_.end()) {
            startSession(*found->second);
        }
    }
    starting_ = false;
    checkEnd();
}

void Host::startSession(Caller& caller)
{
    const std::uint64_t serial = caller.serial;
    caller.session = std::make_unique<DeviceSession>(
        loop_, file_, report_.devices[caller.row].target, fleet_.limits, recorder_ != nullptr,
        [this, serial](DeviceSession&) { ended(serial); });
    ++running_;
    DeviceSession& session = *caller.session;
    // The session may end, and the caller go, within these calls.
    if (udp_) {
        session.adoptDatagrams(fd_, caller.peer, caller.first.bytes());
    } else {
        const int fd = caller.fd;
        caller.fd = -1;
        session.adopt(fd, caller.peer, caller.first.bytes());
    }
}

void Host::ended(std::uint64_t serial)
{
    Caller& caller = *callers_.at(serial);
    DeviceSession& session = *caller.session;
    check::DeviceResult& result = report_.devices[caller.row];
    result = std::move(session.result());
    if (recorder_ != nullptr) {
        counts_.recordsCut += session.traffic().dropped() > 0 ? 1 : 0;
        session.traffic().replayTo(*recorder_);
    }
    ++counts_.done;
    counts_.passed += result.outcome == check::DeviceOutcome::Passed ? 1 : 0;
    counts_.failed += result.outcome == check::DeviceOutcome::Failed ? 1 : 0;
    --running_;
    if (udp_) {
        finishedPeers_.insert(caller.peer);
    }
    drop(serial);
    startWaiting();
}

void Host::closeCaller(Caller& caller)
{
    loop_.cancel(caller.identifyTimer);
    caller.identifyTimer = 0;
    if (caller.watched) {
        loop_.unwatch(caller.fd);
        caller.watched = false;
    }
    if (caller.fd >= 0) {
        ::close(caller.fd);
        caller.fd = -1;
    }
}

void Host::drop(std::uint64_t serial)
{
    const auto found = callers_.find(serial);
    if (found == callers_.end()) {
        return;
    }
    closeCaller(*found->second);
    byPeer_.erase(found->second->peer);
    callers_.erase(found);
}

void Host::stopListening(bool timeUp)
{
    if (!listening_) {
        return;
    }
    listening_ = false;
    loop_.cancel(listenTimer_);
    listenTimer_ = 0;
    listener_.reset();
    listenedSeconds_ =
        timeUp
            ? listen_.listenSeconds
            : static_cast<std::uint32_t>(
                  std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start_).count());
}

void Host::stop()
{
    report_.stopped = true;
    stopListening(false);
    stopping_ = true;
    waiting_.clear();
    std::vector<std::uint64_t> serials;
    for (const auto& [serial, caller] : callers_) {
        serials.push_back(serial);
    }
    for (const std::uint64_t serial : serials) {
        const auto found = callers_.find(serial);
        if (found == callers_.end()) {
            continue;
        }
        if (found->second->session) {
            found->second->session->stop();
        } else {
            drop(serial);
        }
    }
    checkEnd();
}

void Host::checkEnd()
{
    if (!listening_ && callers_.empty() && !over_) {
        over_ = true;
        loop_.quit();
    }
}

void Host::tick()
{
    report();
    loop_.after(kProgressInterval, [this] { tick(); });
}

void Host::report()
{
    counts_.total = roster_.listed() ? roster_.rows().size()
                    : listen_.expect ? std::max(*listen_.expect, roster_.calledCount())
                                     : roster_.calledCount();
    if (!progress_) {
        return;
    }
    counts_.elapsed = std::chrono::floor<check::Millis>(Clock::now() - start_);
    progress_(counts_);
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
    if (file_.transport != check::Transport::Udp) {
        base::Result<int> opened = net::StreamListener::open(listen_.local);
        if (!opened) {
            return opened.error();
        }
        fd_ = *opened;
        return {};
    }
    const int fd = ::socket(listen_.local.family(), SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return base::Error::fromErrno(listen_.local.text());
    }
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(fd, listen_.local.address(), listen_.local.length) != 0) {
        base::Error error = base::Error::fromErrno(listen_.local.text());
        ::close(fd);
        return error;
    }
    fd_ = fd;
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
        Host host(file_, fleet_, listen_, fd_, recorder_, progress_, roster, report, unknown);
        ran = host.run(stopFd);
        counts_ = host.counts();
        listened = host.listenedSeconds();
    }
    if (file_.transport != check::Transport::Udp) {
        fd_ = -1; // the listener closed it
    }
    for (std::size_t row = 0; row < roster.rows().size() && roster.listed(); ++row) {
        if (!roster.called(row) && !report.stopped) {
            check::DeviceResult& device = report.devices[row];
            device.outcome = check::DeviceOutcome::Failed;
            device.failedStep = "listen";
            device.reason = "did not call in within " + std::to_string(listened) + " s";
            ++counts_.failed;
        }
    }
    // Devices expected by count that did not come fail as listed ones do.
    const std::size_t expected = listen_.expect.value_or(0);
    for (std::size_t missing = roster.calledCount() + 1;
         !roster.listed() && !report.stopped && missing <= expected; ++missing) {
        check::DeviceResult device;
        device.target.host =
            "expected device " + std::to_string(missing) + " of " + std::to_string(expected);
        device.outcome = check::DeviceOutcome::Failed;
        device.failedStep = "listen";
        device.reason = "did not call in within " + std::to_string(listened) + " s";
        report.devices.push_back(std::move(device));
        ++counts_.failed;
    }
    for (check::DeviceResult& row : unknown) {
        report.devices.push_back(std::move(row));
    }
    report.elapsed = std::chrono::duration_cast<check::Millis>(Clock::now() - start);
    return ran;
}

} // namespace devicetools

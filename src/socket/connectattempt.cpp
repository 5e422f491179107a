#include "connectattempt.h"

#include "addresslookup.h"
#include "lasterror.h"
#include "socketchannel.h"
#include "socketwait.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <vector>

namespace net
{

namespace
{

using Clock = std::chrono::steady_clock;

// 0 stands for the default bound.
std::atomic<std::uint32_t> gConnectBoundMs{0};

const char* textOrNull(const std::optional<std::string>& text)
{
    return text ? text->c_str() : nullptr;
}

ConnectOutcome ended(base::Error error, Clock::time_point start)
{
    ConnectOutcome outcome;
    outcome.error = std::move(error);
    outcome.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    return outcome;
}

// Look-up, socket, bind and connect, in the order openClient() has always
// used. `cancel` (kInvalidSocket: none) cuts the connect short; `cancelRequested`
// (nullptr: never) is looked at between the steps.
ConnectOutcome runSteps(const ConnectRequest& request, SocketHandle cancel,
                        const std::atomic<bool>* cancelRequested, Clock::time_point start)
{
    const auto wasCancelled = [cancelRequested] {
        return cancelRequested != nullptr && cancelRequested->load();
    };
    const auto failed = [start](base::Error error) { return ended(std::move(error), start); };
    const auto cancelled = [start] { return ended(ConnectOutcome::connectCancelled(), start); };

    // Closed by its destructor on every way out but success.
    ConnectedSocket held(::socket(request.family, request.type | SOCK_CLOEXEC, 0), {});
    if (!held.valid())
        return failed(base::Error::fromErrno());
    SocketAddress local;
    // Only a local host that resolves to 0.0.0.0 gets here: no address to bind.
    if (!local.buildFromText(nullptr, "0", static_cast<std::uint32_t>(request.family)))
        return failed(base::Error::system(EADDRNOTAVAIL));
    // Built before the bind, because the bind address depends on it. A host
    // that does not resolve yields 255.255.255.255 and the connect decides.
    SocketAddress server;
    server.buildFromText(textOrNull(request.host), textOrNull(request.service), AF_INET);
    if (wasCancelled())
        return cancelled();
    const SocketAddress bindTo = ConnectAttempt::clientBindAddress(local, server);
    if (::bind(held.handle(), bindTo.asSockaddr(), SocketAddress::kSize) != 0)
        return failed(base::Error::fromErrno());
    // For a datagram socket the connect only fixes the peer and returns at once.
    const std::uint32_t boundMs = request.boundMs.value_or(ConnectAttempt::connectBoundMs());
    if (base::Error error = connectWithin(held.handle(), server, boundMs, cancel); !error.ok()) {
        switch (error.systemCode()) {
        case ETIMEDOUT:
            return ended(ConnectOutcome::connectTimedOut(), start);
        case ECANCELED:
            return cancelled();
        default:
            return failed(std::move(error));
        }
    }
    if (wasCancelled())
        return cancelled();
    SocketAddress bound;
    socklen_t length = SocketAddress::kSize;
    if (::getsockname(held.handle(), bound.asSockaddr(), &length) != 0)
        bound = SocketAddress{};
    ConnectOutcome outcome = ended({}, start);
    outcome.socket = ConnectedSocket(held.release(), bound);
    return outcome;
}

// AF_UNSPEC: the host's addresses of either family, each tried in turn
// within what is left of the bound, with no bind of our own. The look-up
// cannot be cut short; `cancel` and `cancelRequested` act as above.
ConnectOutcome runAnyFamilySteps(const ConnectRequest& request, SocketHandle cancel,
                                 const std::atomic<bool>* cancelRequested, Clock::time_point start)
{
    const auto wasCancelled = [cancelRequested] {
        return cancelRequested != nullptr && cancelRequested->load();
    };
    const auto cancelled = [start] { return ended(ConnectOutcome::connectCancelled(), start); };

    base::Result<std::vector<Endpoint>> found = lookUpEndpoints(
        request.host.value_or(std::string()), parsePort(textOrNull(request.service)), request.type);
    if (!found)
        return ended(found.error(), start);
    if (wasCancelled())
        return cancelled();
    // The bound covers the connects, not the look-up, as it does for IPv4.
    const std::uint32_t boundMs = request.boundMs.value_or(ConnectAttempt::connectBoundMs());
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(boundMs);
    base::Error last = ConnectOutcome::connectTimedOut();
    for (const Endpoint& peer : *found) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            break;
        ConnectedSocket held(::socket(peer.family(), request.type | SOCK_CLOEXEC, 0), {});
        if (!held.valid()) {
            last = base::Error::fromErrno();
            continue;
        }
        base::Error error =
            connectWithin(held.handle(), peer, static_cast<std::uint32_t>(left), cancel);
        if (error.ok()) {
            if (wasCancelled())
                return cancelled();
            ConnectOutcome outcome = ended({}, start);
            const Endpoint local = Endpoint::localOf(held.handle());
            outcome.socket = ConnectedSocket::ofAnyFamily(held.release(), local);
            return outcome;
        }
        switch (error.systemCode()) {
        case ECANCELED:
            return cancelled();
        case ETIMEDOUT:
            last = ConnectOutcome::connectTimedOut();
            break;
        default:
            // The next address may answer; the last failure is the one told.
            last = std::move(error);
            break;
        }
        if (wasCancelled())
            return cancelled();
    }
    return ended(std::move(last), start);
}

ConnectOutcome runRequest(const ConnectRequest& request, SocketHandle cancel,
                          const std::atomic<bool>* cancelRequested, Clock::time_point start)
{
    if (request.family == AF_UNSPEC)
        return runAnyFamilySteps(request, cancel, cancelRequested, start);
    return runSteps(request, cancel, cancelRequested, start);
}

} // namespace

struct ConnectAttempt::State {
    explicit State(ConnectRequest r) : request(std::move(r)) {}
    ~State()
    {
        if (cancel != kInvalidSocket)
            ::close(cancel);
    }
    State(const State&) = delete;
    State& operator=(const State&) = delete;

    // Marks the outcome as there and wakes waitFinished().
    void finish(ConnectOutcome result)
    {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            // Checked under the lock cancel() takes afterwards, so that one of
            // the two always drops a socket made too late.
            if (cancelled && result.error.fault() != base::Fault::Cancelled)
                result = ended(ConnectOutcome::connectCancelled(), Clock::now() - result.elapsed);
            outcome = std::move(result);
            finished = true;
        }
        finishedSignal.notify_all();
    }

    const ConnectRequest request;
    SocketHandle cancel = kInvalidSocket; // an eventfd; written by cancel()
    std::atomic<bool> cancelled{false};

    mutable std::mutex mutex;
    mutable std::condition_variable finishedSignal;
    bool finished = false;
    bool taken = false;
    std::optional<ConnectOutcome> outcome;

    // Held while the callback runs, so that cancel() can wait it out.
    std::mutex callbackMutex;
    DoneCallback onDone;
};

ConnectAttempt::ConnectAttempt(ConnectRequest request)
    : state_(std::make_shared<State>(std::move(request)))
{
}

ConnectAttempt::~ConnectAttempt()
{
    cancel();
}

bool ConnectAttempt::start(DoneCallback onDone)
{
    if (started_)
        return false;
    started_ = true;
    const Clock::time_point begin = Clock::now();
    state_->cancel = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (state_->cancel < 0) {
        state_->cancel = kInvalidSocket;
        state_->finish(ended(base::Error::fromErrno(), begin));
        return false;
    }
    state_->onDone = std::move(onDone);
    try {
        thread_ = std::thread([state = state_, begin] {
            state->finish(runRequest(state->request, state->cancel, &state->cancelled, begin));
            const std::lock_guard<std::mutex> lock(state->callbackMutex);
            if (state->onDone && !state->cancelled)
                state->onDone();
        });
    } catch (const std::system_error& error) {
        state_->onDone = nullptr;
        state_->finish(ended(base::Error::system(error.code().value()), begin));
        return false;
    }
    return true;
}

void ConnectAttempt::cancel()
{
    state_->cancelled = true;
    if (state_->cancel != kInvalidSocket) {
        const std::uint64_t one = 1;
        // An eventfd counter cannot overflow from a handful of writes; a
        // failed write only leaves the connect to its bound.
        while (::write(state_->cancel, &one, sizeof one) < 0 && errno == EINTR) {
        }
    }
    {
        const std::lock_guard<std::mutex> lock(state_->callbackMutex);
        state_->onDone = nullptr;
    }
    if (thread_.joinable()) {
        // Only a name look-up outlasts the grace; the thread then ends alone
        // and its state, socket and eventfd go with it.
        if (waitFinished(kCancelGrace))
            thread_.join();
        else
            thread_.detach();
    }
    const std::lock_guard<std::mutex> lock(state_->mutex);
    if (state_->outcome && !state_->taken &&
        state_->outcome->error.fault() != base::Fault::Cancelled)
        *state_->outcome =
            ended(ConnectOutcome::connectCancelled(), Clock::now() - state_->outcome->elapsed);
}

bool ConnectAttempt::finished() const
{
    const std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->finished;
}

bool ConnectAttempt::waitFinished(std::chrono::milliseconds limit) const
{
    std::unique_lock<std::mutex> lock(state_->mutex);
    return state_->finishedSignal.wait_for(lock, limit, [this] { return state_->finished; });
}

std::optional<ConnectOutcome> ConnectAttempt::take()
{
    const std::lock_guard<std::mutex> lock(state_->mutex);
    if (!state_->finished || state_->taken)
        return std::nullopt;
    state_->taken = true;
    std::optional<ConnectOutcome> result = std::move(state_->outcome);
    state_->outcome.reset();
    return result;
}

ConnectOutcome ConnectAttempt::connectNow(const ConnectRequest& request)
{
    ConnectOutcome outcome = runRequest(request, kInvalidSocket, nullptr, Clock::now());
    if (!outcome.connected())
        setLastError(outcome.error);
    return outcome;
}

std::uint32_t ConnectAttempt::connectBoundMs()
{
    const std::uint32_t bound = gConnectBoundMs.load();
    return bound == 0 ? kDefaultConnectBoundMs : bound;
}

void ConnectAttempt::setConnectBoundForTesting(std::uint32_t boundMs)
{
    gConnectBoundMs.store(boundMs);
}

SocketAddress ConnectAttempt::clientBindAddress(const SocketAddress& local,
                                                const SocketAddress& server)
{
    SocketAddress bindTo = local;
    const bool unresolved = local.address == htonl(kAddressNone);
    if (unresolved || (local.isLoopback() && !server.isLoopback()))
        bindTo.address = htonl(INADDR_ANY);
    return bindTo;
}

} // namespace net

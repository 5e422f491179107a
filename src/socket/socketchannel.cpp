#include "socketchannel.h"

#include "blockio.h"
#include "endpoint.h"
#include "lasterror.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <thread>

// Releasing the socket while a watcher may be blocked on it.
//
// Closing a descriptor does not wake a thread blocked in poll or recv on it,
// and the number is handed out again at once, so a watcher could end up
// reading some later socket. Therefore:
// - the owner's thread (releaseSocket) takes the handle out of socket_ and
//   shuts it down both ways; that wakes the watcher's wait, read or accept at
//   once. While a watcher is recorded, the descriptor is not closed but kept
//   in pendingClose_;
// - the watcher thread never closes a descriptor the owner may still use: in
//   server role it hands the replaced listening socket to its WatcherThread;
// - stop(), on the owner's thread, closes both only after joining the watcher.
// Without a recorded watcher no other thread can use the socket, and it is
// closed at once.

namespace net
{

SocketChannel::SocketChannel()
    : sendQueue_([this](const std::uint8_t* bytes,
                        std::uint32_t length) { return writeNow(bytes, length); },
                 [this](const std::uint8_t* bytes, std::uint32_t length, const IoResult& result) {
                     if (observer_)
                         observer_->blockWritten(bytes, length, result);
                 })
{
}

SocketChannel::~SocketChannel()
{
    stop();
}

bool SocketChannel::hasSocket() const
{
    return socket_.load() != kInvalidSocket;
}

bool SocketChannel::hasWatcher() const
{
    return watcher_ != nullptr;
}

SocketHandle SocketChannel::socketHandle() const
{
    return socket_.load();
}

bool SocketChannel::isServerRole() const
{
    return serverRole_;
}

bool SocketChannel::usesAddressHeaders() const
{
    return addressHeaders_;
}

void SocketChannel::setServerRole(bool on)
{
    if (watcher_)
        return;
    serverRole_ = on;
}

void SocketChannel::setAddressHeaders(bool on)
{
    if (watcher_ || sendQueue_.writerRunning())
        return;
    addressHeaders_ = on;
}

std::vector<SocketAddress> SocketChannel::peers()
{
    return addressed_.peers();
}

bool SocketChannel::queryLocalAddress(SocketAddress& local) const
{
    const SocketHandle socket = socket_.load();
    if (socket == kInvalidSocket)
        return false;
    const Endpoint own = Endpoint::localOf(socket);
    if (own.empty()) {
        setLastErrorFromErrno();
        return false;
    }
    local = SocketAddress{};
    if (own.family() == AF_INET) {
        std::memcpy(static_cast<void*>(&local), own.address(), SocketAddress::kSize);
    } else {
        local.family = static_cast<std::uint16_t>(own.family());
        local.port = htons(own.port());
    }
    return true;
}

bool SocketChannel::openClient(const char* host, const char* service, int family, int type)
{
    if (hasSocket())
        return false;
    ConnectRequest request;
    if (host != nullptr)
        request.host = host;
    if (service != nullptr)
        request.service = service;
    request.family = family;
    request.type = type;
    if (observer_)
        observer_->connectStarted(request);
    // A failed step has left its last-error code on this thread.
    ConnectOutcome outcome = ConnectAttempt::connectNow(request);
    if (observer_)
        observer_->connectEnded(outcome);
    return adoptClient(std::move(outcome.socket));
}

bool SocketChannel::adoptClient(ConnectedSocket&& connected)
{
    if (!connected.valid() || hasSocket())
        return false;
    sendBlocksAtOnce(connected.handle());
    socket_.store(connected.release());
    return true;
}

bool SocketChannel::adoptSocket(SocketHandle socket)
{
    if (socket == kInvalidSocket || hasSocket())
        return false;
    sendBlocksAtOnce(socket);
    socket_.store(socket);
    return true;
}

bool SocketChannel::adoptAccepted(SocketHandle socket)
{
    if (socket == kInvalidSocket || hasSocket() || watcher_)
        return false;
    sendBlocksAtOnce(socket);
    acceptedElsewhere_ = true;
    socket_.store(socket);
    return true;
}

SocketHandle SocketChannel::detachSocket()
{
    // Taken out without a shutdown: the watcher finds no socket at its next
    // turn, at the latest when its read times out, and reads nothing more.
    const SocketHandle socket = socket_.exchange(kInvalidSocket);
    if (socket == kInvalidSocket)
        return kInvalidSocket;
    sendQueue_.close();
    endWatcher("detached");
    if (observer_)
        observer_->disconnected();
    return socket;
}

void SocketChannel::setObserver(ChannelObserver* observer)
{
    if (watcher_ || sendQueue_.writerRunning())
        return;
    observer_ = observer;
}

void SocketChannel::releaseSocket()
{
    const SocketHandle socket = socket_.exchange(kInvalidSocket);
    if (socket == kInvalidSocket)
        return;
    ::shutdown(socket, SHUT_RDWR);
    // The writer may be writing on the descriptor: it ends before a close.
    sendQueue_.close();
    if (watcher_)
        pendingClose_.push_back(socket);
    else
        ::close(socket);
}

bool SocketChannel::startWatcher()
{
    if (watcher_ || !hasSocket())
        return false;
    // Recorded before the thread starts, so that runLoop() finds it.
    watcher_ = std::make_unique<WatcherThread>();
    if (!watcher_->start([this] { runLoop(); })) {
        watcher_.reset();
        return false;
    }
    return true;
}

void SocketChannel::stop()
{
    const bool connected = hasSocket() || watcher_ != nullptr;
    if (hasSocket()) {
        releaseSocket();
        std::this_thread::sleep_for(std::chrono::milliseconds(kReleasePauseMs));
    }
    endWatcher("released");
    if (connected && observer_)
        observer_->disconnected();
}

void SocketChannel::endWatcher(const char* how)
{
    if (watcher_) {
        if (!watcher_->waitEnded(kWatcherWaitMs))
            std::fprintf(stderr,
                         "SocketChannel: watcher still busy %u ms after its socket was "
                         "%s; waiting for its hook to return\n",
                         kWatcherWaitMs, how);
        // Without a way to end a thread by force, a hook that breaks its
        // promise keeps the caller here until it returns.
        watcher_->join();
        watcher_.reset();
    }
    closeReleased();
    acceptedElsewhere_ = false;
    addressed_.clear();
}

void SocketChannel::closeReleased()
{
    for (const SocketHandle socket : pendingClose_)
        ::close(socket);
    pendingClose_.clear();
}

std::int32_t SocketChannel::readBlock(void* buffer, std::uint32_t capacity, std::uint32_t timeoutMs)
{
    if (buffer == nullptr || capacity == 0)
        return 0;
    return reportAsCount(read(buffer, capacity, timeoutMs));
}

IoResult SocketChannel::read(void* buffer, std::uint32_t capacity, std::uint32_t timeoutMs)
{
    if (buffer == nullptr || capacity == 0)
        return IoResult(base::Error(base::Fault::BadParameter));
    IoResult result = readInto(static_cast<std::uint8_t*>(buffer), capacity, timeoutMs);
    if (result.ok() && addressHeaders_)
        return *result + kHeaderSize;
    return result;
}

IoResult SocketChannel::readInto(std::uint8_t* bytes, std::uint32_t capacity,
                                 std::uint32_t timeoutMs)
{
    const SocketHandle socket = socket_.load();
    if (socket == kInvalidSocket)
        return ioTimedOut();
    if (!addressHeaders_)
        return receivePlain(socket, bytes, capacity, timeoutMs);
    return addressed_.read(socket, bytes, capacity, timeoutMs);
}

std::int32_t SocketChannel::writeBlock(const void* data, std::uint32_t length,
                                       std::uint32_t timeoutMs)
{
    if (data == nullptr)
        return 0;
    const IoResult result = write(data, length, timeoutMs);
    // Only a missing socket gives PeerClosed here; the count says 0 for it.
    if (!result.ok() && result.error().fault() == base::Fault::PeerClosed)
        return 0;
    return reportAsCount(result);
}

IoResult SocketChannel::write(const void* data, std::uint32_t length, std::uint32_t timeoutMs)
{
    const SocketHandle socket = socket_.load();
    if (socket == kInvalidSocket)
        return ioClosed();
    if (data == nullptr)
        return IoResult(base::Error(base::Fault::BadParameter));
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    if (const base::Error wait = waitUntilReady(socket, SocketWait::Writable, timeoutMs);
        !wait.ok()) {
        if (observer_)
            observer_->blockWritten(bytes, length, ioTimedOut());
        return ioTimedOut(wait);
    }
    const IoResult result = addressHeaders_ ? addressed_.write(socket, bytes, length)
                                            : sendPlain(socket, bytes, length);
    if (observer_)
        observer_->blockWritten(bytes, length, result);
    return result;
}

SendQueue::Outcome SocketChannel::sendBlock(const void* data, std::uint32_t length)
{
    if (!hasSocket() || data == nullptr || length == 0)
        return SendQueue::Outcome::Dropped;
    return sendQueue_.send(static_cast<const std::uint8_t*>(data), length);
}

IoResult SocketChannel::writeNow(const std::uint8_t* bytes, std::uint32_t length)
{
    const SocketHandle socket = socket_.load();
    if (socket == kInvalidSocket)
        return ioClosed();
    if (!addressHeaders_)
        return sendWithRoom(socket, bytes, length);
    // A datagram goes whole or not at all, and a writable socket takes it.
    if (!waitUntilReady(socket, SocketWait::Writable, 0).ok())
        return ioNoRoomNow();
    return addressed_.write(socket, bytes, length);
}

void SocketChannel::handleBlock(std::uint8_t* data, std::uint32_t length)
{
    reportRead(data, length, {});
}

void SocketChannel::reportRead(const std::uint8_t* data, std::uint32_t length,
                               std::string_view verdict)
{
    if (observer_)
        observer_->blockRead(data, length, verdict);
}

void SocketChannel::raiseEvent(ChannelEvent event, const base::Error& error)
{
    if (observer_)
        observer_->channelEvent(event, error);
    handleEvent(event);
}

void SocketChannel::handleEvent(ChannelEvent /*event*/) {}

void SocketChannel::runLoop()
{
    // Set up once per run: in plain mode reads go to the data area behind the
    // header room, with address headers every block starts with its header.
    std::array<std::uint8_t, kBufferSize> buffer{};
    std::uint8_t* const area = addressHeaders_ ? buffer.data() : buffer.data() + kHeaderSize;
    const std::uint32_t capacity = addressHeaders_ ? kBufferSize : kDataCapacity;

    if (acceptedElsewhere_) {
        // Accepted by a listener elsewhere: announced as the server role
        // announces its own accept.
        if (hasSocket())
            raiseEvent(ChannelEvent::ConnectionEstablished);
    } else if (serverRole_) {
        const SocketHandle listening = socket_.load();
        const base::Result<SocketHandle> acceptedOrNot = acceptConnection(listening);
        if (!acceptedOrNot) {
            // The public edge's last-error code says why, for a hook that asks.
            setLastError(acceptedOrNot.error());
            if (hasSocket())
                raiseEvent(ChannelEvent::ConnectionFailed, acceptedOrNot.error());
            return;
        }
        const SocketHandle accepted = *acceptedOrNot;
        sendBlocksAtOnce(accepted);
        SocketHandle expected = listening;
        if (!socket_.compare_exchange_strong(expected, accepted)) {
            // stop() released the listening socket meanwhile; nobody else knows
            // the accepted one.
            ::close(accepted);
            return;
        }
        ::shutdown(listening, SHUT_RDWR);
        if (watcher_)
            watcher_->retire(listening);
        else
            ::close(listening);
        raiseEvent(ChannelEvent::ConnectionEstablished);
    }

    const std::uint32_t headerLength = addressHeaders_ ? kHeaderSize : 0;
    while (hasSocket()) {
        const IoResult result = readInto(area, capacity, kReadTimeoutMs);
        if (endsConnection(result)) {
            // The thread's last-error code says why, for a hook that asks.
            reportAsCount(result);
            if (hasSocket())
                raiseEvent(ChannelEvent::ConnectionDropped, result.error());
            return;
        }
        if (!result.ok()) {
            // A turn that found nothing gives the processor away before the
            // next wait; while blocks keep coming the next read follows at once
            // (the reads themselves block when the socket runs dry).
            std::this_thread::yield();
        } else if (addressHeaders_ && *result == 0) {
            raiseEvent(ChannelEvent::ZeroLengthMessage);
        } else {
            handleBlock(area, *result + headerLength);
        }
    }
}

} // namespace net

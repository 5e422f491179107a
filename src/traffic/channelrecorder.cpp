#include "channelrecorder.h"

#include "socket/sendqueue.h"
#include "socket/socketaddress.h"

#include <sys/socket.h>

namespace traffic
{

namespace
{

std::string afterText(std::chrono::milliseconds elapsed)
{
    return " after " + std::to_string(elapsed.count()) + " ms";
}

} // namespace

void ChannelRecorder::setSinks(Sinks sinks)
{
    SinkList list = sinks.empty() ? nullptr : std::make_shared<const Sinks>(std::move(sinks));
    const std::lock_guard<std::mutex> lock(mutex_);
    sinks_.swap(list);
    active_.store(sinks_ != nullptr, std::memory_order_relaxed);
    // The old list goes when `list` leaves, outside the lock: its last sink
    // may take a while to end (a FileRecorder writes what it holds).
}

ChannelRecorder::Sinks ChannelRecorder::sinks() const
{
    const SinkList list = current();
    return list ? *list : Sinks{};
}

bool ChannelRecorder::active() const
{
    return active_.load(std::memory_order_relaxed);
}

ChannelRecorder::SinkList ChannelRecorder::current() const
{
    if (!active()) {
        return nullptr;
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    return sinks_;
}

std::vector<Record> ChannelRecorder::connectionStart() const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return connectionStart_;
}

RecordView ChannelRecorder::deliver(const SinkList& sinks, RecordKind kind, std::string_view bytes,
                                    std::string_view text)
{
    // Every block read goes through here on the watcher, so the record is
    // handed on as a view of the channel's buffer: a sink that keeps it
    // copies it once, straight into its own memory.
    const RecordView record(std::chrono::system_clock::now(), kind, bytes, text);
    for (const std::shared_ptr<RecordSink>& sink : *sinks) {
        sink->recordView(record);
    }
    return record;
}

void ChannelRecorder::connectStarted(const net::ConnectRequest& request)
{
    if (const SinkList sinks = current()) {
        const std::string text = connectText(request);
        const RecordView record = deliver(sinks, RecordKind::ConnectAttempt, {}, text);
        const std::lock_guard<std::mutex> lock(mutex_);
        connectionStart_.assign(1, Record{record.time, record.kind, {}, text});
    }
}

void ChannelRecorder::connectEnded(const net::ConnectOutcome& outcome)
{
    if (const SinkList sinks = current()) {
        const bool connected = outcome.connected();
        const std::string text = outcomeText(outcome);
        const RecordView record =
            deliver(sinks, connected ? RecordKind::Connected : RecordKind::ConnectFailed, {}, text);
        const std::lock_guard<std::mutex> lock(mutex_);
        connectionStart_.push_back(Record{record.time, record.kind, {}, text});
    }
}

void ChannelRecorder::blockWritten(const std::uint8_t* data, std::uint32_t length,
                                   const net::IoResult& result)
{
    if (const SinkList sinks = current()) {
        deliver(sinks, RecordKind::Write,
                std::string_view(reinterpret_cast<const char*>(data), length), writeText(result));
    }
}

void ChannelRecorder::blockRead(const std::uint8_t* data, std::uint32_t length,
                                std::string_view verdict)
{
    if (const SinkList sinks = current()) {
        deliver(sinks, RecordKind::Read,
                std::string_view(reinterpret_cast<const char*>(data), length), verdict);
    }
}

void ChannelRecorder::channelEvent(net::ChannelEvent event, const base::Error& error)
{
    if (const SinkList sinks = current()) {
        deliver(sinks, RecordKind::Event, {}, eventText(event, error));
    }
}

void ChannelRecorder::disconnected()
{
    if (const SinkList sinks = current()) {
        deliver(sinks, RecordKind::Disconnect, {}, "Disconnected");
        const std::lock_guard<std::mutex> lock(mutex_);
        connectionStart_.clear();
    }
}

void ChannelRecorder::note(std::string_view text)
{
    if (const SinkList sinks = current()) {
        deliver(sinks, RecordKind::Event, {}, text);
    }
}

std::string ChannelRecorder::connectText(const net::ConnectRequest& request)
{
    std::string text = request.type == SOCK_DGRAM ? "UDP " : "TCP ";
    text += request.host ? *request.host : "(this host)";
    text += ':';
    text += request.service ? *request.service : "0";
    return text;
}

std::string ChannelRecorder::outcomeText(const net::ConnectOutcome& outcome)
{
    if (outcome.connected())
        return net::endpointText(outcome.socket.local()) + afterText(outcome.elapsed);
    switch (outcome.error.fault()) {
    case base::Fault::TimedOut:
        return "Timed out" + afterText(outcome.elapsed);
    case base::Fault::Cancelled:
        // The record files' wording for a connect the operator gave up.
        return "Abandoned" + afterText(outcome.elapsed);
    default:
        break;
    }
    return outcome.error.text() + afterText(outcome.elapsed);
}

std::string ChannelRecorder::writeText(const net::IoResult& result)
{
    if (result.ok())
        return std::to_string(*result) + " bytes written";
    switch (result.error().fault()) {
    case base::Fault::TimedOut:
    case base::Fault::NoRoomNow:
        return "not written: no room within the time-out";
    case base::Fault::PeerClosed:
        return "not written: the connection is closed";
    case base::Fault::SendQueueFull:
        return "not written: " + result.error().text();
    default:
        return "write failed: " + result.error().text();
    }
}

std::string ChannelRecorder::eventText(net::ChannelEvent event, const base::Error& error)
{
    switch (event) {
    case net::ChannelEvent::ConnectionEstablished:
        return "Connection accepted";
    case net::ChannelEvent::ConnectionFailed:
        return "Accepting failed: " + error.text();
    case net::ChannelEvent::ConnectionDropped:
        return error.ok() || error.fault() == base::Fault::PeerClosed
                   ? "Connection closed by the peer"
                   : "Connection dropped: " + error.text();
    case net::ChannelEvent::ZeroLengthMessage:
        return "Zero-length datagram";
    }
    return "Event " + std::to_string(static_cast<int>(event));
}

} // namespace traffic

#include "channelrecorder.h"

#include "recordfacts.h"

#include "socket/sendqueue.h"
#include "socket/socketaddress.h"

#include <sys/socket.h>

#include <cerrno>

namespace traffic
{

namespace
{

std::string afterText(std::chrono::milliseconds elapsed)
{
    return " after " + std::to_string(elapsed.count()) + " ms";
}

// A record's text and the facts it is made from.
struct Told {
    std::string text;
    RecordFacts facts;
};

Told connectTold(const net::ConnectRequest& request)
{
    const bool udp = request.type == SOCK_DGRAM;
    std::string text(udp ? kUdpConnectText : kTcpConnectText);
    text += request.host ? *request.host : "(this host)";
    text += ':';
    text += request.service ? *request.service : "0";
    return {std::move(text), {udp ? RecordFact::Udp : RecordFact::None}};
}

Told outcomeTold(const net::ConnectOutcome& outcome)
{
    if (outcome.connected()) {
        // An IPv6 socket's own address has no IPv4 form: told as "[v6]:port".
        const net::Endpoint& local = outcome.socket.localEndpoint();
        return {(local.family() == AF_INET6 ? local.text()
                                            : net::endpointText(outcome.socket.local())) +
                    afterText(outcome.elapsed),
                {}};
    }
    switch (outcome.error.fault()) {
    case base::Fault::TimedOut:
        return {"Timed out" + afterText(outcome.elapsed), {}};
    case base::Fault::Cancelled:
        // The record files' wording for a connect the operator gave up.
        return {"Abandoned" + afterText(outcome.elapsed), {}};
    default:
        break;
    }
    const bool refused =
        outcome.error.fault() == base::Fault::System && outcome.error.systemCode() == ECONNREFUSED;
    return {outcome.error.text() + afterText(outcome.elapsed),
            {refused ? RecordFact::Refused : RecordFact::None}};
}

Told writeTold(const net::IoResult& result)
{
    if (result.ok()) {
        const RecordFacts facts{RecordFact::Written, *result};
        return {std::to_string(facts.written) + std::string(kWrittenText), facts};
    }
    const RecordFacts facts{RecordFact::NotWritten};
    switch (result.error().fault()) {
    case base::Fault::TimedOut:
    case base::Fault::NoRoomNow:
        return {"not written: no room within the time-out", facts};
    case base::Fault::PeerClosed:
        return {"not written: the connection is closed", facts};
    case base::Fault::SendQueueFull:
        return {"not written: " + result.error().text(), facts};
    default:
        return {"write failed: " + result.error().text(), facts};
    }
}

Told eventTold(net::ChannelEvent event, const base::Error& error)
{
    switch (event) {
    case net::ChannelEvent::ConnectionEstablished:
        return {"Connection accepted", {}};
    case net::ChannelEvent::ConnectionFailed:
        return {"Accepting failed: " + error.text(), {}};
    case net::ChannelEvent::ConnectionDropped:
        if (error.ok() || error.fault() == base::Fault::PeerClosed)
            return {std::string(kPeerClosedText), {RecordFact::PeerClosed}};
        return {std::string(kDroppedText) + ": " + error.text(), {RecordFact::Dropped}};
    case net::ChannelEvent::ZeroLengthMessage:
        return {std::string(kZeroLengthText), {RecordFact::ZeroLength}};
    }
    return {"Event " + std::to_string(static_cast<int>(event)), {}};
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
                                    std::string_view text, RecordFacts facts)
{
    // Every block read goes through here on the watcher, so the record is
    // handed on as a view of the channel's buffer: a sink that keeps it
    // copies it once, straight into its own memory.
    const RecordView record(std::chrono::system_clock::now(), kind, bytes, text, facts);
    for (const std::shared_ptr<RecordSink>& sink : *sinks) {
        sink->recordView(record);
    }
    return record;
}

void ChannelRecorder::connectStarted(const net::ConnectRequest& request)
{
    if (keyLogging()) {
        const std::lock_guard<std::mutex> lock(mutex_);
        connectionKeys_.clear();
    }
    if (const SinkList sinks = current()) {
        Told told = connectTold(request);
        const RecordView record =
            deliver(sinks, RecordKind::ConnectAttempt, {}, told.text, told.facts);
        const std::lock_guard<std::mutex> lock(mutex_);
        connectionStart_.assign(
            1, Record{record.time, record.kind, {}, std::move(told.text), told.facts});
    }
}

void ChannelRecorder::connectEnded(const net::ConnectOutcome& outcome)
{
    if (const SinkList sinks = current()) {
        const bool connected = outcome.connected();
        Told told = outcomeTold(outcome);
        const RecordView record =
            deliver(sinks, connected ? RecordKind::Connected : RecordKind::ConnectFailed, {},
                    told.text, told.facts);
        const std::lock_guard<std::mutex> lock(mutex_);
        connectionStart_.push_back(
            Record{record.time, record.kind, {}, std::move(told.text), told.facts});
    }
}

void ChannelRecorder::blockWritten(const std::uint8_t* data, std::uint32_t length,
                                   const net::IoResult& result)
{
    if (const SinkList sinks = current()) {
        const Told told = writeTold(result);
        deliver(sinks, RecordKind::Write,
                std::string_view(reinterpret_cast<const char*>(data), length), told.text,
                told.facts);
    }
}

void ChannelRecorder::blockRead(const std::uint8_t* data, std::uint32_t length,
                                std::string_view verdict)
{
    if (const SinkList sinks = current()) {
        deliver(sinks, RecordKind::Read,
                std::string_view(reinterpret_cast<const char*>(data), length), verdict, {});
    }
}

void ChannelRecorder::channelEvent(net::ChannelEvent event, const base::Error& error)
{
    if (const SinkList sinks = current()) {
        const Told told = eventTold(event, error);
        deliver(sinks, RecordKind::Event, {}, told.text, told.facts);
    }
}

void ChannelRecorder::disconnected()
{
    if (keyLogging()) {
        const std::lock_guard<std::mutex> lock(mutex_);
        connectionKeys_.clear();
    }
    if (const SinkList sinks = current()) {
        deliver(sinks, RecordKind::Disconnect, {}, "Disconnected", {});
        const std::lock_guard<std::mutex> lock(mutex_);
        connectionStart_.clear();
    }
}

void ChannelRecorder::note(std::string_view text)
{
    if (const SinkList sinks = current()) {
        deliver(sinks, RecordKind::Event, {}, text, {});
    }
}

void ChannelRecorder::setKeyLogging(bool on)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    keyLogging_.store(on, std::memory_order_relaxed);
    if (!on)
        connectionKeys_.clear();
}

void ChannelRecorder::keyLog(std::string_view line)
{
    if (!keyLogging()) {
        return;
    }
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        // Switched off since the check: the line goes nowhere.
        if (!keyLogging())
            return;
        connectionKeys_.add(line);
    }
    if (const SinkList sinks = current()) {
        for (const std::shared_ptr<RecordSink>& sink : *sinks) {
            sink->keyLog(line);
        }
    }
}

std::string ChannelRecorder::connectionKeys() const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return std::string(connectionKeys_.lines());
}

} // namespace traffic

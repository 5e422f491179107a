#include "recordframes.h"

namespace traffic
{

RecordFrames::RecordFrames(protocol::DelimiterMode mode) : sent_(mode), received_(mode) {}

void RecordFrames::setMode(protocol::DelimiterMode mode)
{
    sent_.setMode(mode);
    received_.setMode(mode);
}

std::string RecordFrames::take(const RecordView& record)
{
    std::string items;
    take(record, items);
    return items;
}

void RecordFrames::take(const RecordView& record, std::string& items)
{
    items.clear();
    switch (record.kind) {
    case RecordKind::Write:
    case RecordKind::Read: {
        FrameStream& stream = record.kind == RecordKind::Write ? sent_ : received_;
        if (datagrams_)
            stream.feedDatagram(record.bytes, items);
        else
            stream.feed(record.bytes, items);
        break;
    }
    case RecordKind::ConnectAttempt:
        sent_.reset();
        received_.reset();
        datagrams_ = record.facts.fact == RecordFact::Udp;
        break;
    case RecordKind::Disconnect:
        endStreams(items);
        break;
    default:
        break;
    }
}

void RecordFrames::endStreams(std::string& out)
{
    sent_.finish("sent, unfinished: ", out);
    received_.finish("received, unfinished: ", out);
}

} // namespace traffic

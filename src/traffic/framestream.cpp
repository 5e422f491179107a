#include "framestream.h"

#include "bytetext.h"
#include "frametext.h"

#include "protocol/framedecoder.h"

namespace traffic
{

namespace
{

void separate(std::string& out)
{
    if (!out.empty())
        out += FrameStream::kItemSeparator;
}

} // namespace

void FrameStream::appendItem(std::string& out, std::string_view heading, std::string_view record,
                             protocol::DelimiterMode mode)
{
    separate(out);
    out += heading;
    if (const std::optional<protocol::DecodedFrame> frame = protocol::FrameDecoder::decode(record)) {
        if (frame->mode != mode) {
            out += '(';
            out += protocol::modeName(frame->mode);
            out += " frame) ";
        }
        appendFrameFieldsText(out, frame->fields);
        return;
    }
    out += "not a frame";
    if (record.size() > kPreviewBytes)
        out += ", " + std::to_string(record.size()) + " bytes";
    out += ": \"";
    out += visibleText(record.substr(0, kPreviewBytes), {.escapeQuote = true});
    out += '"';
    if (record.size() > kPreviewBytes)
        out += "...";
}

void FrameStream::feed(std::string_view block, std::string& out)
{
    // Only the first record a block completes can have begun before it.
    carried_ = splitter_.pendingSize() > 0;
    splitter_.feed(block, [&](std::string_view record) { handOver(record, out); });
    if (splitter_.pendingSize() > 0) {
        separate(out);
        out += "(unfinished: " + std::to_string(splitter_.pendingSize()) + " bytes so far)";
    }
}

void FrameStream::feedDatagram(std::string_view datagram, std::string& out)
{
    reset();
    splitter_.feed(datagram, [&](std::string_view record) { handOver(record, out); });
    splitter_.finish([&](std::string_view record) { handOver(record, out); });
}

void FrameStream::finish(std::string_view heading, std::string& out)
{
    splitter_.finish([&](std::string_view record) { appendItem(out, heading, record, mode_); });
    reset();
}

void FrameStream::reset()
{
    splitter_ = protocol::RecordSplitter();
    carried_ = false;
}

void FrameStream::handOver(std::string_view record, std::string& out)
{
    appendItem(out, carried_ ? kBeganEarlier : std::string_view(), record, mode_);
    carried_ = false;
}

} // namespace traffic

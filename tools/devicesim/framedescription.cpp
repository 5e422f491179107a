#include "framedescription.h"

#include "bytetext.h"

namespace devicetools
{

std::string describeFrame(const protocol::DecodedFrame& frame)
{
    std::string out(protocol::modeName(frame.mode));
    const protocol::FrameFields& fields = frame.fields;
    out += " media=" + escapedAscii(fields.media);
    out += " id=" + escapedAscii(fields.deviceId);
    out += " data=\"" + escapedAscii(fields.data, true) + '"';
    out += " command=" + escapedAscii(fields.command);
    out += " message=\"" + escapedAscii(fields.message, true) + '"';
    return out;
}

std::string describeRecord(std::string_view record)
{
    return "- not a frame, " + std::to_string(record.size()) + " bytes: " + hexBytes(record) +
           " \"" + escapedAscii(record.substr(0, kHexDumpLimit), true) + '"';
}

} // namespace devicetools

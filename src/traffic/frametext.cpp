#include "frametext.h"

#include "bytetext.h"

namespace traffic
{

namespace
{

std::string shown(std::string_view field, bool quoted)
{
    return visibleText(field, {.escapeQuote = quoted, .rawHighBytes = false});
}

} // namespace

std::string frameFieldsText(const protocol::FrameFields& fields)
{
    std::string out = "media=" + shown(fields.media, false);
    out += " id=" + shown(fields.deviceId, false);
    out += " data=\"" + shown(fields.data, true) + '"';
    out += " command=" + shown(fields.command, false);
    out += " message=\"" + shown(fields.message, true) + '"';
    return out;
}

std::string frameText(const protocol::DecodedFrame& frame)
{
    return std::string(protocol::modeName(frame.mode)) + ' ' + frameFieldsText(frame.fields);
}

} // namespace traffic

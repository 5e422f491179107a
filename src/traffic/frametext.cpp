#include "frametext.h"

#include "bytetext.h"

#include <algorithm>

namespace traffic
{

namespace
{

// visibleText() of a field appended to `out`. Most fields need no escape, and
// the Traffic window writes every frame of a flood: those are copied as they
// are, with no text made on the way.
void appendField(std::string& out, std::string_view name, std::string_view field, bool quoted)
{
    out += name;
    if (quoted)
        out += '"';
    const bool plain = std::all_of(field.begin(), field.end(), [quoted](char c) {
        return c >= 0x20 && c <= 0x7e && c != '\\' && !(quoted && c == '"');
    });
    if (plain)
        out += field;
    else
        out += visibleText(field, {.escapeQuote = quoted, .rawHighBytes = false});
    if (quoted)
        out += '"';
}

} // namespace

void appendFrameFieldsText(std::string& out, const protocol::FrameFields& fields)
{
    appendField(out, "media=", fields.media, false);
    appendField(out, " id=", fields.deviceId, false);
    appendField(out, " data=", fields.data, true);
    appendField(out, " command=", fields.command, false);
    appendField(out, " message=", fields.message, true);
}

std::string frameFieldsText(const protocol::FrameFields& fields)
{
    std::string out;
    appendFrameFieldsText(out, fields);
    return out;
}

std::string frameText(const protocol::DecodedFrame& frame)
{
    std::string out(protocol::modeName(frame.mode));
    out += ' ';
    appendFrameFieldsText(out, frame.fields);
    return out;
}

} // namespace traffic

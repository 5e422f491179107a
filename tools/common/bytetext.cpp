#include "bytetext.h"

#include "traffic/bytetext.h"

namespace devicetools
{

std::string hexBytes(std::string_view bytes, std::size_t limit)
{
    std::string out = traffic::hexText(bytes.substr(0, limit));
    if (bytes.size() > limit) {
        out += " ...";
    }
    return out;
}

std::string escapedText(std::string_view bytes, bool quote)
{
    return traffic::visibleText(bytes, {.escapeQuote = quote, .rawHighBytes = true});
}

std::string escapedAscii(std::string_view bytes, bool quote)
{
    return traffic::visibleText(bytes, {.escapeQuote = quote, .rawHighBytes = false});
}

} // namespace devicetools

// A libFuzzer target for the traffic record's text forms, which read files a
// user may have edited: any bytes come back from their visible text and their
// hex; a visible text is taken only in the one form visibleText() writes; a
// line that parses is written back as a line that parses to the same record.

#include "traffic/recordline.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    if (traffic::bytesFromVisibleText(traffic::visibleText(input)) != input ||
        traffic::bytesFromHexText(traffic::hexText(input, false)) != input ||
        traffic::bytesFromHexText(traffic::hexText(input, true)) != input) {
        std::abort();
    }
    if (const auto bytes = traffic::bytesFromVisibleText(input)) {
        if (traffic::visibleText(*bytes) != input) {
            std::abort();
        }
    }
    if (const auto record = traffic::recordFromLine(input)) {
        const auto again = traffic::recordFromLine(traffic::recordLine(*record));
        if (!again || again->time != record->time || again->kind != record->kind ||
            again->bytes != record->bytes || again->text != record->text) {
            std::abort();
        }
    }
    return 0;
}

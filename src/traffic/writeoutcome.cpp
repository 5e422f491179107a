#include "writeoutcome.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <string_view>

namespace traffic
{

namespace
{

// N of "N bytes written"; nothing for any other text.
std::optional<std::size_t> writtenOf(std::string_view text)
{
    std::size_t count = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count);
    if (error != std::errc() ||
        std::string_view(end, text.data() + text.size()) != " bytes written")
        return std::nullopt;
    return count;
}

} // namespace

WriteOutcome writeOutcome(const RecordView& record)
{
    if (record.kind != RecordKind::Write)
        return WriteOutcome::None;
    const std::optional<std::size_t> written = writtenOf(record.text);
    if (!written)
        return WriteOutcome::Failed;
    return *written >= record.bytes.size() ? WriteOutcome::Whole : WriteOutcome::Partial;
}

std::size_t writtenCount(const RecordView& record)
{
    if (record.kind != RecordKind::Write)
        return 0;
    return std::min(writtenOf(record.text).value_or(0), record.bytes.size());
}

} // namespace traffic

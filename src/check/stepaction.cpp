#include "stepaction.h"

#include "protocol/delimiterset.h"
#include "protocol/framecheck.h"

#include <cstdint>

namespace check
{

namespace
{

base::Error badInput(std::string text)
{
    return base::Error(base::Fault::BadInput, 0, std::move(text));
}

} // namespace

FieldRange fieldRange(std::string_view key)
{
    if (key == "media") {
        return {protocol::kMediaWidth, protocol::kMediaWidth};
    }
    if (key == "id") {
        return {protocol::kDeviceIdWidth, protocol::kDeviceIdWidth};
    }
    if (key == "command") {
        return {protocol::kCommandWidth, protocol::kCommandWidth};
    }
    if (key == "data") {
        return {0, protocol::kDataMaxLength};
    }
    if (key == "message") {
        return {0, protocol::kMessageMaxLength};
    }
    return {0, protocol::kFreeTextMaxLength};
}

base::Error fieldLengthError(std::string_view key, std::size_t size)
{
    const FieldRange range = fieldRange(key);
    const bool exact = range.min == range.max;
    if (exact ? size == range.max : size <= range.max) {
        return {};
    }
    return badInput(std::string(key) + (exact ? " must be " : " must be at most ") +
                    std::to_string(range.max) + (range.max == 1 ? " character" : " characters") +
                    ", not " + std::to_string(size));
}

base::Error frameFieldsError(const protocol::FrameFields& fields)
{
    if (base::Error missing =
            protocol::validateFrameFields(fields.media, fields.deviceId, fields.command);
        !missing.ok()) {
        return missing;
    }
    base::Error error;
    forEachField(fields, [&](std::string_view key, const std::string& text) {
        if (error.ok()) {
            error = fieldLengthError(key, text.size());
        }
    });
    return error;
}

base::Error freeTextError(std::string_view text)
{
    return fieldLengthError("text", text.size());
}

base::Result<std::string> composeSendBlock(const SendStep& send, protocol::DelimiterMode mode,
                                          const ValueLookup& lookup)
{
    base::Error error;
    const auto fill = [&](std::string_view key, const std::string& text, std::string& out) {
        if (!error.ok()) {
            return;
        }
        const base::Result<std::size_t> size = filledSize(text, lookup);
        if (!size) {
            error = size.error();
        } else if (*size > fieldRange(key).max) {
            // Judged before filling: a huge value costs neither time nor memory.
            error = fieldLengthError(key, *size);
        } else if (base::Result<std::string> filled = fillPlaceholders(text, lookup); filled) {
            out = std::move(*filled);
        } else {
            error = filled.error();
        }
    };
    if (!send.isFrame) {
        std::string text;
        fill("text", send.text, text);
        if (error.ok()) {
            error = freeTextError(text);
        }
        if (!error.ok()) {
            return error;
        }
        return protocol::wireBlock(text);
    }
    protocol::FrameFields fields;
    forEachField(send.fields, [&](std::string_view key, const std::string& text) {
        std::string* out = key == "media"     ? &fields.media
                           : key == "id"      ? &fields.deviceId
                           : key == "data"    ? &fields.data
                           : key == "command" ? &fields.command
                                              : &fields.message;
        fill(key, text, *out);
    });
    if (error.ok()) {
        error = frameFieldsError(fields);
    }
    if (!error.ok()) {
        return error;
    }
    return protocol::wireBlock(protocol::composeFrame(fields, mode));
}

bool passesFrameCheck(std::string_view record, protocol::DelimiterMode mode)
{
    protocol::DelimiterSet delimiters;
    delimiters.setModeFlag(mode == protocol::DelimiterMode::Release ? 1 : 0);
    protocol::FrameCheck check(delimiters);
    std::string block(record);
    const auto length = static_cast<std::uint32_t>(block.size());
    return check.check(reinterpret_cast<std::uint8_t*>(block.data()), length, length) == length;
}

bool frameMatches(const FrameMatcher& matcher, const protocol::FrameFields& fields,
                  const ValueLookup& lookup)
{
    const FilledExpect filled = fillMatcher(matcher, lookup);
    return filled.error.ok() && filledFrameMatches(filled.frame, fields);
}

bool filledFrameMatches(const FrameMatcher& filled, const protocol::FrameFields& fields)
{
    const auto one = [&](const std::optional<std::string>& pattern, const std::string& field) {
        return !pattern || wildcardMatch(*pattern, field);
    };
    return one(filled.media, fields.media) && one(filled.deviceId, fields.deviceId) &&
           one(filled.data, fields.data) && one(filled.command, fields.command) &&
           one(filled.message, fields.message);
}

namespace
{

base::Error fillPattern(std::string_view key, const std::string& pattern, const ValueLookup& lookup,
                       std::string& out)
{
    const base::Result<std::size_t> size = filledSize(pattern, lookup);
    if (!size) {
        return size.error();
    }
    if (*size > CheckFileLimits::kMaxMatcherLength) {
        return badInput(std::string(key) + " must be at most " +
                        std::to_string(CheckFileLimits::kMaxMatcherLength) +
                        " characters once filled, not " + std::to_string(*size));
    }
    base::Result<std::string> filled = fillPlaceholders(pattern, lookup);
    if (!filled) {
        return filled.error();
    }
    out = std::move(*filled);
    return {};
}

} // namespace

FilledExpect fillMatcher(const FrameMatcher& matcher, const ValueLookup& lookup)
{
    FilledExpect filled;
    const auto one = [&](std::string_view key, const std::optional<std::string>& pattern,
                         std::optional<std::string>& out) {
        if (pattern && filled.error.ok()) {
            filled.error = fillPattern(key, *pattern, lookup, out.emplace());
        }
    };
    one("media", matcher.media, filled.frame.media);
    one("id", matcher.deviceId, filled.frame.deviceId);
    one("data", matcher.data, filled.frame.data);
    one("command", matcher.command, filled.frame.command);
    one("message", matcher.message, filled.frame.message);
    return filled;
}

FilledExpect fillExpect(const ExpectStep& expect, const ValueLookup& lookup)
{
    if (expect.isFrame) {
        return fillMatcher(expect.frame, lookup);
    }
    FilledExpect filled;
    filled.error = fillPattern("text", expect.contains, lookup, filled.contains);
    return filled;
}

} // namespace check

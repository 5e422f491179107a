#include "stepaction.h"

#include "protocol/delimiterset.h"
#include "protocol/framecheck.h"

#include <cstdint>

namespace check
{

namespace
{

net::Error badInput(std::string text)
{
    return net::Error(net::Fault::BadInput, 0, std::move(text));
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

net::Error fieldLengthError(std::string_view key, std::size_t size)
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

net::Error frameFieldsError(const protocol::FrameFields& fields)
{
    const std::string_view missing =
        protocol::validateFrameFields(fields.media, fields.deviceId, fields.command);
    if (!missing.empty()) {
        return badInput(std::string(missing));
    }
    net::Error error;
    forEachField(fields, [&](std::string_view key, const std::string& text) {
        if (error.ok()) {
            error = fieldLengthError(key, text.size());
        }
    });
    return error;
}

net::Error freeTextError(std::string_view text)
{
    return fieldLengthError("text", text.size());
}

net::Result<std::string> composeSendBlock(const SendStep& send, protocol::DelimiterMode mode,
                                          const ValueLookup& lookup)
{
    net::Error error;
    std::string missing;
    const auto fill = [&](const std::string& text, std::string& out) {
        if (!error.ok()) {
            return;
        }
        if (auto filled = fillPlaceholders(text, lookup, &missing)) {
            out = std::move(*filled);
        } else {
            error = badInput("no value for {" + missing + "}");
        }
    };
    if (!send.isFrame) {
        std::string text;
        fill(send.text, text);
        if (error.ok()) {
            error = freeTextError(text);
        }
        if (!error.ok()) {
            return error;
        }
        return protocol::wireBlock(text);
    }
    protocol::FrameFields fields;
    fill(send.fields.media, fields.media);
    fill(send.fields.deviceId, fields.deviceId);
    fill(send.fields.data, fields.data);
    fill(send.fields.command, fields.command);
    fill(send.fields.message, fields.message);
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
    const auto one = [&](const std::optional<std::string>& pattern, const std::string& field) {
        if (!pattern) {
            return true;
        }
        const std::optional<std::string> filled = fillPlaceholders(*pattern, lookup);
        return filled && wildcardMatch(*filled, field);
    };
    return one(matcher.media, fields.media) && one(matcher.deviceId, fields.deviceId) &&
           one(matcher.data, fields.data) && one(matcher.command, fields.command) &&
           one(matcher.message, fields.message);
}

} // namespace check

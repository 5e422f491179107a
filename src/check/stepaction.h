#pragma once

#include "checkfile.h"
#include "fieldtext.h"

#include "base/error.h"

#include <string>
#include <string_view>

namespace check
{

// What send steps put on the wire and what expect steps accept, for one
// device's values. Pure functions; any thread.

// The lengths a field may have, by its key in a file.
struct FieldRange {
    std::size_t min = 0, max = 0;
};
FieldRange fieldRange(std::string_view key);

// Each failure below is a base::Fault::BadInput whose text() says what is
// wrong; no failure (ok()) when there is nothing wrong.

// What is wrong with the length of one field as it is sent, by its key in a
// file (media, id, command: exactly their width; data, message, text: at most
// their limit).
base::Error fieldLengthError(std::string_view key, std::size_t size);
// What keeps frame fields, as they would be sent, from being sent: the
// console's message for a missing media, device id or command, else a field
// longer than its width or limit.
base::Error frameFieldsError(const protocol::FrameFields& fields);
// What keeps a free text from being sent (too long).
base::Error freeTextError(std::string_view text);

// One send's block, exactly as the console writes it, or why it cannot be
// sent (a placeholder without a value, a field off its width).
base::Result<std::string> composeSendBlock(const SendStep& send, protocol::DelimiterMode mode,
                                          const ValueLookup& lookup);

// Whether a received record (without its line end) passes the console's
// frame check in `mode`.
bool passesFrameCheck(std::string_view record, protocol::DelimiterMode mode);

// Whether `fields` match every matcher present (placeholders filled first; a
// matcher whose placeholder has no value matches nothing).
bool frameMatches(const FrameMatcher& matcher, const protocol::FrameFields& fields,
                  const ValueLookup& lookup);
// The same for matchers already filled (their braces are plain text).
bool filledFrameMatches(const FrameMatcher& filled, const protocol::FrameFields& fields);

// An expect's matchers or text with one device's values filled in, once, or
// why they cannot be: a placeholder without a value, or a matcher longer
// than CheckFileLimits::kMaxMatcherLength once filled (judged before
// filling, so a huge value costs neither time nor memory).
struct FilledExpect {
    FrameMatcher frame;
    std::string contains;
    base::Error error; // a BadInput failure, or none when filled
};
FilledExpect fillMatcher(const FrameMatcher& matcher, const ValueLookup& lookup);
FilledExpect fillExpect(const ExpectStep& expect, const ValueLookup& lookup);

// Calls `visit(key, text)` for each matcher present, with its key in a file.
template <typename Visit> void forEachMatcher(const FrameMatcher& matcher, Visit&& visit)
{
    const auto one = [&](std::string_view key, const std::optional<std::string>& text) {
        if (text) {
            visit(key, *text);
        }
    };
    one("media", matcher.media);
    one("id", matcher.deviceId);
    one("data", matcher.data);
    one("command", matcher.command);
    one("message", matcher.message);
}

// Calls `visit(key, text)` for each field of a frame, with its key in a file.
template <typename Fields, typename Visit> void forEachField(Fields& fields, Visit&& visit)
{
    visit(std::string_view("media"), fields.media);
    visit(std::string_view("id"), fields.deviceId);
    visit(std::string_view("data"), fields.data);
    visit(std::string_view("command"), fields.command);
    visit(std::string_view("message"), fields.message);
}

} // namespace check

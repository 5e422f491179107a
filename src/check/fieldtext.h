#pragma once

#include "base/error.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace check
{

// The texts of a check file's fields: placeholders and wildcards. Pure
// functions; any thread.
//
// A placeholder is `{name}`, the name made of letters, digits, '_', '-' and
// '.'; `{{` stands for one '{'. A '}' alone is itself.

// No failure when the placeholders of `text` are well formed, else BadInput
// saying what is wrong.
[[nodiscard]] base::Error placeholderError(std::string_view text);
// The names of the placeholders in a well-formed `text`, in order.
std::vector<std::string> placeholderNames(std::string_view text);
// Whether `text` holds placeholders, or `{{`, that filling changes.
bool hasPlaceholders(std::string_view text);

// The value of a placeholder, or nullptr when it has none.
using ValueLookup = std::function<const std::string*(std::string_view name)>;

// `text` with each placeholder replaced by its value (values go in as they
// are); BadInput "no value for {name}" for the first name without one.
[[nodiscard]] base::Result<std::string> fillPlaceholders(std::string_view text,
                                                         const ValueLookup& lookup);

// The size `text` has once filled, counted without filling it (time grows
// with the number of placeholders, not the size of their values); the same
// failure as fillPlaceholders().
[[nodiscard]] base::Result<std::size_t> filledSize(std::string_view text,
                                                   const ValueLookup& lookup);

// Whether `text` matches `pattern`: '*' any run of bytes (also none), '?'
// any one byte, every other byte itself. Work grows with the product of the
// two lengths at worst.
bool wildcardMatch(std::string_view pattern, std::string_view text);
// The fewest bytes a text matching `pattern` has.
std::size_t wildcardMinLength(std::string_view pattern);
// Whether `pattern` holds '*'.
bool wildcardUnbounded(std::string_view pattern);

// A time as check files write it: "500ms", "2s", "1.5s" (whole milliseconds).
std::optional<long long> parseMillisText(std::string_view text);
// The shortest such text for `millis`: "2s" when whole seconds, else "1500ms".
std::string millisText(long long millis);

} // namespace check

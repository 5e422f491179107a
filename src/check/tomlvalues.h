#pragma once

#include "checkfile.h"

#include <toml++/toml.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace check
{

// Values read out of a parsed check file by their kind. A value of the wrong
// kind or range is a mistake, thrown as a Refusal that says where it stands;
// the reader catches it once, at the top. Any thread.

struct Refusal {
    toml::source_position where;
    std::string what;
};

[[noreturn]] void refuse(const toml::node& node, std::string what);
[[noreturn]] void refuse(const toml::key& key, std::string what);

// 'key', for messages.
std::string quoted(std::string_view key);

// `node` as a table; else a mistake that shows `example`.
const toml::table& tableOf(const toml::node& node, std::string_view key, std::string_view example);
// A mistake at the first key of `table` that is not `known`; `where` names the
// table in the message.
void onlyKeys(const toml::table& table, std::initializer_list<std::string_view> known,
              std::string_view where);
const std::string& textOf(const toml::node& node, std::string_view key);
// A whole number from 1 to `max`.
std::uint32_t countOf(const toml::node& node, std::string_view key, std::uint32_t max);
// A time: "500ms", "2s", "1.5s" or whole milliseconds, 1 ms to
// CheckFileLimits::kMaxTime.
Millis timeOf(const toml::node& node, std::string_view key);

} // namespace check

#include "tomlvalues.h"
#include "fieldtext.h"

namespace check
{

[[noreturn]] void refuse(const toml::node& node, std::string what)
{
    throw Refusal{node.source().begin, std::move(what)};
}

[[noreturn]] void refuse(const toml::key& key, std::string what)
{
    throw Refusal{key.source().begin, std::move(what)};
}

std::string quoted(std::string_view key)
{
    return "'" + std::string(key) + "'";
}

const toml::table& tableOf(const toml::node& node, std::string_view key, std::string_view example)
{
    const toml::table* table = node.as_table();
    if (table == nullptr) {
        refuse(node, quoted(key) + " must be a table, such as " + std::string(example));
    }
    return *table;
}

void onlyKeys(const toml::table& table, std::initializer_list<std::string_view> known,
              std::string_view where)
{
    for (auto&& [key, value] : table) {
        bool found = false;
        std::string list;
        for (const std::string_view name : known) {
            found = found || key.str() == name;
            list += (list.empty() ? "" : ", ") + std::string(name);
        }
        if (!found) {
            refuse(key, "unknown key " + quoted(key.str()) + " in " + std::string(where) +
                            " (known: " + list + ")");
        }
    }
}

const std::string& textOf(const toml::node& node, std::string_view key)
{
    const auto* text = node.as_string();
    if (text == nullptr) {
        refuse(node, quoted(key) + " must be a text in quotes");
    }
    return text->get();
}

std::uint32_t countOf(const toml::node& node, std::string_view key, std::uint32_t max)
{
    const auto* number = node.as_integer();
    if (number == nullptr || number->get() < 1 || number->get() > max) {
        refuse(node, quoted(key) + " must be a whole number from 1 to " + std::to_string(max));
    }
    return static_cast<std::uint32_t>(number->get());
}

Millis timeOf(const toml::node& node, std::string_view key)
{
    std::optional<long long> millis;
    if (const auto* number = node.as_integer()) {
        millis = number->get();
    } else if (const auto* text = node.as_string()) {
        millis = parseMillisText(text->get());
    }
    if (!millis || *millis < 1 || *millis > CheckFileLimits::kMaxTime.count()) {
        refuse(node, quoted(key) +
                         " must be a time from 1 ms to 1 hour: \"500ms\", \"2s\", \"1.5s\" or a "
                         "whole number of milliseconds");
    }
    return Millis{*millis};
}

} // namespace check

#include "memorysettingsstore.h"

#include <charconv>

namespace protocol
{

namespace
{

std::pair<std::string, std::string> keyOf(std::string_view section, std::string_view key)
{
    return {std::string(section), std::string(key)};
}

} // namespace

std::string MemorySettingsStore::readText(std::string_view section, std::string_view key,
                                          std::string_view fallback)
{
    const auto found = values_.find(keyOf(section, key));
    return found == values_.end() ? std::string(fallback) : found->second;
}

void MemorySettingsStore::writeText(std::string_view section, std::string_view key,
                                    std::string_view value)
{
    values_[keyOf(section, key)] = std::string(value);
    ++writes_;
}

std::int32_t MemorySettingsStore::readInt(std::string_view section, std::string_view key,
                                          std::int32_t fallback)
{
    const auto found = values_.find(keyOf(section, key));
    if (found == values_.end()) {
        return fallback;
    }
    // A value that is not wholly a decimal integer counts as absent.
    const std::string& text = found->second;
    std::int32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        return fallback;
    }
    return value;
}

void MemorySettingsStore::writeInt(std::string_view section, std::string_view key,
                                   std::int32_t value)
{
    writeText(section, key, std::to_string(value));
}

bool MemorySettingsStore::contains(std::string_view section, std::string_view key) const
{
    return values_.count(keyOf(section, key)) != 0;
}

} // namespace protocol

#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace app
{

// A per-user settings store: texts and integers by section and key. The console
// gives it a QSettings implementation (QtSettingsStore).
// Called on one thread (the UI thread); writes are not verified.
class SettingsStore
{
public:
    virtual ~SettingsStore() = default;
    virtual std::string readText(std::string_view section, std::string_view key,
                                 std::string_view fallback) = 0;
    virtual void writeText(std::string_view section, std::string_view key,
                           std::string_view value) = 0;
    virtual std::int32_t readInt(std::string_view section, std::string_view key,
                                 std::int32_t fallback) = 0;
    virtual void writeInt(std::string_view section, std::string_view key, std::int32_t value) = 0;
};

} // namespace app

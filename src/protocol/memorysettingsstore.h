#pragma once

#include "settingsstore.h"

#include <map>
#include <string>
#include <utility>

namespace protocol
{

// A settings store that lives in memory only: for tests and tools. Integers and
// texts share one value per key, as in a registry-like store: readInt() of a
// value that is not wholly a decimal integer gives the fallback. One thread.
class MemorySettingsStore : public SettingsStore
{
public:
    std::string readText(std::string_view section, std::string_view key,
                         std::string_view fallback) override;
    void writeText(std::string_view section, std::string_view key, std::string_view value) override;
    std::int32_t readInt(std::string_view section, std::string_view key,
                         std::int32_t fallback) override;
    void writeInt(std::string_view section, std::string_view key, std::int32_t value) override;

    // True when a value is stored under the key (written as text or integer).
    bool contains(std::string_view section, std::string_view key) const;
    // How many writes were made, for tests that check a value is stored again.
    int writeCount() const { return writes_; }

private:
    std::map<std::pair<std::string, std::string>, std::string> values_;
    int writes_ = 0;
};

} // namespace protocol

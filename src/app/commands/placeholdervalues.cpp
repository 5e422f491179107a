#include "placeholdervalues.h"

namespace app
{

PlaceholderValues::Resolved PlaceholderValues::resolve(const check::CheckFile& file,
                                                       const check::DeviceValues& console,
                                                       const std::vector<std::string>& needed)
{
    Resolved resolved;
    resolved.values = file.values;
    for (const auto& [name, value] : console)
        resolved.values.try_emplace(name, value);
    for (const auto& [name, value] : given_)
        resolved.values.try_emplace(name, value);
    for (const std::string& name : needed) {
        if (resolved.values.contains(name))
            continue;
        std::optional<std::string> value = ask_ ? ask_(name) : std::nullopt;
        if (!value) {
            resolved.missing = name;
            return resolved;
        }
        given_[name] = *value;
        resolved.values[name] = std::move(*value);
    }
    return resolved;
}

} // namespace app

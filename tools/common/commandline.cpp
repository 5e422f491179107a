#include "commandline.h"

namespace devicetools
{

CommandLine::CommandLine(int argc, const char* const* argv)
{
    for (int i = 1; i < argc; ++i) {
        arguments_.emplace_back(argv[i]);
    }
}

CommandLine::CommandLine(std::vector<std::string> arguments) : arguments_(std::move(arguments)) {}

std::string_view CommandLine::nextOption()
{
    const std::string& argument = arguments_.at(next_++);
    hasAttached_ = false;
    attached_.clear();
    option_ = argument;
    const std::size_t equals = argument.find('=');
    if (argument.rfind("--", 0) == 0 && equals != std::string::npos) {
        option_ = argument.substr(0, equals);
        attached_ = argument.substr(equals + 1);
        hasAttached_ = true;
    }
    return option_;
}

bool CommandLine::value(std::string& out, std::string& error)
{
    if (hasAttached_) {
        out = attached_;
        return true;
    }
    if (atEnd()) {
        error = option_ + " needs a value";
        return false;
    }
    out = arguments_[next_++];
    return true;
}

bool CommandLine::numberValue(std::string_view option, std::uint32_t min, std::uint32_t max,
                              std::uint32_t& out, std::string& error)
{
    std::string text;
    if (!value(text, error)) {
        return false;
    }
    if (!parseNumber(text, min, max, out)) {
        error = std::string(option) + " takes a number from " + std::to_string(min) + " to " +
                std::to_string(max) + ", not \"" + text + '"';
        return false;
    }
    return true;
}

bool CommandLine::noValue(std::string& error) const
{
    if (hasAttached_) {
        error = option_ + " takes no value";
        return false;
    }
    return true;
}

bool CommandLine::parseNumber(std::string_view text, std::uint32_t min, std::uint32_t max,
                              std::uint32_t& out)
{
    constexpr std::uint64_t kDecimal = 10;
    if (text.empty()) {
        return false;
    }
    std::uint64_t number = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        number = number * kDecimal + static_cast<std::uint64_t>(c - '0');
        if (number > max) {
            return false;
        }
    }
    if (number < min) {
        return false;
    }
    out = static_cast<std::uint32_t>(number);
    return true;
}

} // namespace devicetools

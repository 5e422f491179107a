#include "commandline.h"

namespace devicetools
{

base::Error badArgument(std::string text)
{
    return base::Error::input(base::Fault::BadArgument, {}, std::move(text));
}

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

base::Result<std::string> CommandLine::value()
{
    if (hasAttached_) {
        return attached_;
    }
    if (atEnd()) {
        return badArgument(option_ + " needs a value");
    }
    return arguments_[next_++];
}

base::Result<std::uint32_t> CommandLine::numberValue(std::string_view option, std::uint32_t min,
                                                     std::uint32_t max)
{
    base::Result<std::string> text = value();
    if (!text) {
        return text.error();
    }
    const std::optional<std::uint32_t> number = parseNumber(*text, min, max);
    if (!number) {
        return badArgument(std::string(option) + " takes a number from " + std::to_string(min) +
                           " to " + std::to_string(max) + ", not \"" + *text + '"');
    }
    return *number;
}

base::Error CommandLine::noValue() const
{
    if (hasAttached_) {
        return badArgument(option_ + " takes no value");
    }
    return {};
}

std::optional<std::uint32_t> CommandLine::parseNumber(std::string_view text, std::uint32_t min,
                                                      std::uint32_t max)
{
    constexpr std::uint64_t kDecimal = 10;
    if (text.empty()) {
        return std::nullopt;
    }
    std::uint64_t number = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        number = number * kDecimal + static_cast<std::uint64_t>(c - '0');
        if (number > max) {
            return std::nullopt;
        }
    }
    if (number < min) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(number);
}

} // namespace devicetools

#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace devicetools
{

// What a program's argument parser found.
enum class ParseResult {
    Run,        // the options are complete
    Help,       // --help was asked for
    UsageError, // the error text says what is wrong
};

// Walks a program's arguments as long options: "--name value" or
// "--name=value", and "--name" alone for a switch. One thread.
class CommandLine
{
public:
    // The arguments after the program's name.
    CommandLine(int argc, const char* const* argv);
    explicit CommandLine(std::vector<std::string> arguments);

    bool atEnd() const { return next_ >= arguments_.size(); }
    // The next option's name ("--port"), or the argument as it stands when it
    // is no option (the caller reports it).
    std::string_view nextOption();
    // The current option's value: the part after '=' or the next argument.
    // False (and `error` set) when there is none.
    bool value(std::string& out, std::string& error);
    // False (and `error` set) when the current option, a switch, was given a value.
    bool noValue(std::string& error) const;
    // The current option's value as a number from `min` to `max`; false (and
    // `error` set, naming `option`) when there is none or it is no such number.
    bool numberValue(std::string_view option, std::uint32_t min, std::uint32_t max,
                     std::uint32_t& out, std::string& error);

    // A decimal number from `min` to `max`, digits only.
    static bool parseNumber(std::string_view text, std::uint32_t min, std::uint32_t max,
                            std::uint32_t& out);

private:
    std::vector<std::string> arguments_;
    std::size_t next_ = 0;
    std::string option_;
    std::string attached_;
    bool hasAttached_ = false;
};

} // namespace devicetools

#pragma once

#include "base/error.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace devicetools
{

// What a program's argument parser found, when the arguments can be used (a
// parser's failure is a Fault::BadArgument whose text says what is wrong).
enum class ParseResult {
    Run,  // the options are complete
    Help, // --help was asked for
};

// A command line that cannot be used: `text` says what is wrong.
base::Error badArgument(std::string text);

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
    // The current option's value: the part after '=' or the next argument;
    // BadArgument when there is none.
    [[nodiscard]] base::Result<std::string> value();
    // BadArgument when the current option, a switch, was given a value.
    [[nodiscard]] base::Error noValue() const;
    // The current option's value as a number from `min` to `max`; BadArgument
    // (naming `option`) when there is none or it is no such number.
    [[nodiscard]] base::Result<std::uint32_t> numberValue(std::string_view option,
                                                          std::uint32_t min, std::uint32_t max);

    // A decimal number from `min` to `max`, digits only; nothing for any other text.
    static std::optional<std::uint32_t> parseNumber(std::string_view text, std::uint32_t min,
                                                    std::uint32_t max);

private:
    std::vector<std::string> arguments_;
    std::size_t next_ = 0;
    std::string option_;
    std::string attached_;
    bool hasAttached_ = false;
};

} // namespace devicetools

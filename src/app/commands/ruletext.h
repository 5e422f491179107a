#pragma once

#include "base/error.h"
#include "check/checkfile.h"

#include <string>
#include <string_view>

namespace app
{

// One automatic-answer rule as the operator edits it: the lines of its
// `[[answer]]` table in a check file (name, when, send), and back through
// the check file reader, so that a rule edited in the window is held to the
// same rules as one in a file. Pure functions; any thread.
class RuleText
{
public:
    // "name = …\nwhen = { … }\nsend = { … }\n".
    static std::string text(const check::AnswerRule& rule);
    // One line for the rules' list: "name: when …  ->  send …".
    static std::string summary(const check::AnswerRule& rule, std::size_t index);
    // The rule in `text`, or the reader's "line:column: what" (BadInput).
    [[nodiscard]] static base::Result<check::AnswerRule> parse(std::string_view text);
};

} // namespace app

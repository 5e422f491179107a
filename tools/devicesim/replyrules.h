#pragma once

#include "protocol/framedecoder.h"

#include "base/error.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace devicetools
{

// The simulator's reply rules: which answer a received frame gets, by its
// command. Read from a small text file, one rule a line:
//
//   # a comment; blank lines are ignored too
//   ENT => frame [{media}{id}{data}=ENT-Welcome {message}
//   ERR => text Error {message}
//   IGN => none
//   *   => frame [{media}{id}=ACK-{command}
//
// Left of "=>": the three-character command of the received frame (ENT, EXT,
// DEL, IGN, ERR, END, TIM or any other), or * for every command without a rule
// of its own. Right of it: "frame", "text" or "none", then one blank and the
// template, which runs to the end of the line as written.
// - frame: the answer as the console's view shows it, with '[' '=' '-' in this
//   order; on the wire those three become the delimiters of the mode the
//   request came in (the codes 7, 8, 9 in RELEASE). The field widths are not
//   checked, so a rule can also answer with a deliberately odd frame.
// - text: a free text.
// - none: no answer.
// Placeholders {media} {id} {data} {command} {message} stand for the received
// frame's fields; a brace always opens a placeholder. A rule whose answer could
// exceed kMaxAnswerSize is refused. Every answer goes out followed by CR LF and
// NUL, in one write. Loading checks every line; the first fault is reported with its line number.
//
// Read-only once loaded: any thread may use a loaded set.
class ReplyRules
{
public:
    enum class Kind { Frame, Text, None };

    struct Rule {
        std::string command; // three characters, or "*"
        Kind kind = Kind::None;
        std::string templateText;
        int line = 0;
    };

    static constexpr std::string_view kAnyCommand = "*";
    // The longest answer a rule may give, line end included: what one UDP
    // datagram carries (65,507 bytes) less one byte for the NUL fault. A rule
    // whose answer could grow beyond it, with the longest fields a frame can
    // bring, is refused.
    static constexpr std::size_t kMaxAnswerSize = 65507 - 1;

    // Parses rule text; on a fault a BadInput error whose text names the line.
    static base::Result<ReplyRules> parse(std::string_view text);
    // Reads and parses a regular file of at most 64 KiB (only one byte more
    // is ever read); on a fault an error whose text names the file and says
    // why it cannot be used (the system's errno where it gave one).
    static base::Result<ReplyRules> load(const std::string& path);

    // The rule for `command`, else the * rule, else nullptr.
    const Rule* find(std::string_view command) const;
    const std::vector<Rule>& rules() const { return rules_; }

    // The answer that `rule` gives to `frame` as it goes on the wire, CR LF
    // and NUL included; empty for a "none" rule.
    static std::string render(const Rule& rule, const protocol::DecodedFrame& frame);

private:
    std::vector<Rule> rules_;
};

} // namespace devicetools

#include "replyrules.h"

#include "bytetext.h"
#include "simulatorlog.h"

#include "fileio/regularfile.h"
#include "protocol/delimiterset.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <optional>

namespace devicetools
{

namespace
{

using Delimiters = protocol::DelimiterSet;

constexpr std::string_view kArrow = "=>";
constexpr std::string_view kBlanks = " \t";
constexpr std::string_view kFrameWord = "frame";
constexpr std::string_view kTextWord = "text";
constexpr std::string_view kNoneWord = "none";
// Rule files are small; a larger file is surely the wrong file.
constexpr std::size_t kMaxRuleFileSize = 64 * 1024;

struct Placeholder {
    std::string_view name;
    std::string protocol::FrameFields::*field;
    std::size_t widest; // the longest field a well-formed frame brings
};

const std::array<Placeholder, 5> kPlaceholders{{
    {"{media}", &protocol::FrameFields::media, protocol::kMediaWidth},
    {"{id}", &protocol::FrameFields::deviceId, protocol::kDeviceIdWidth},
    {"{data}", &protocol::FrameFields::data, protocol::kDataMaxLength},
    {"{command}", &protocol::FrameFields::command, protocol::kCommandWidth},
    {"{message}", &protocol::FrameFields::message, protocol::kMessageMaxLength},
}};

// The most bytes a checked template can give once its placeholders are
// filled, the line end included.
std::size_t widestAnswer(std::string_view templateText)
{
    std::size_t size = protocol::kLineEnd.size();
    std::size_t i = 0;
    while (i < templateText.size()) {
        std::size_t step = 1;
        std::size_t width = 1;
        for (const Placeholder& p : kPlaceholders) {
            if (templateText.substr(i, p.name.size()) == p.name) {
                step = p.name.size();
                width = p.widest;
                break;
            }
        }
        size += width;
        i += step;
    }
    return size;
}

std::string_view trimmed(std::string_view text)
{
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    const std::size_t last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

// `piece` with its placeholders replaced by the frame's fields; with no frame
// it only checks them (and drops them). A BadInput error for a brace that
// starts no known placeholder.
base::Result<std::string> substitute(std::string_view piece, const protocol::DecodedFrame* frame)
{
    std::string out;
    std::size_t i = 0;
    while (i < piece.size()) {
        if (piece[i] != '{') {
            out += piece[i++];
            continue;
        }
        bool known = false;
        for (const Placeholder& p : kPlaceholders) {
            if (piece.substr(i, p.name.size()) == p.name) {
                if (frame != nullptr) {
                    out += frame->fields.*p.field;
                }
                i += p.name.size();
                known = true;
                break;
            }
        }
        if (!known) {
            const std::size_t close = piece.find('}', i);
            return base::Error(base::Fault::BadInput, 0,
                               "unknown placeholder " +
                                   std::string(piece.substr(i, close == std::string_view::npos
                                                                   ? std::string_view::npos
                                                                   : close - i + 1)) +
                                   " (known: {media} {id} {data} {command} {message})");
        }
    }
    return out;
}

// Positions of the first '[', the first '=' after it and the first '-' after
// that, as the console's frame check finds them; nothing when one is missing.
std::optional<std::array<std::size_t, 3>> findDelimiters(std::string_view text)
{
    std::array<std::size_t, 3> at{};
    const std::array<char, 3> wanted{static_cast<char>(Delimiters::kStartDisplay),
                                     static_cast<char>(Delimiters::kEqualDisplay),
                                     static_cast<char>(Delimiters::kDashDisplay)};
    std::size_t from = 0;
    for (std::size_t k = 0; k < wanted.size(); ++k) {
        at[k] = text.find(wanted[k], from);
        if (at[k] == std::string_view::npos) {
            return std::nullopt;
        }
        from = at[k] + 1;
    }
    return at;
}

// The frame template with its delimiters in `mode` and its placeholders
// filled; the delimiters are placed before the fields go in, so a field that
// holds '=' or '-' cannot move them. With no frame it only checks.
base::Result<std::string> renderFrame(std::string_view templateText,
                                      const protocol::DecodedFrame* frame,
                                      protocol::DelimiterMode mode)
{
    const std::optional<std::array<std::size_t, 3>> found = findDelimiters(templateText);
    if (!found) {
        return base::Error(base::Fault::BadInput, 0, "a frame needs '[' '=' '-' in this order");
    }
    const std::array<std::size_t, 3>& at = *found;
    const bool release = mode == protocol::DelimiterMode::Release;
    const std::array<char, 3> delimiter{
        static_cast<char>(release ? Delimiters::kStartCode : Delimiters::kStartDisplay),
        static_cast<char>(release ? Delimiters::kEqualCode : Delimiters::kEqualDisplay),
        static_cast<char>(release ? Delimiters::kDashCode : Delimiters::kDashDisplay)};
    std::string out;
    std::size_t from = 0;
    for (std::size_t k = 0; k <= at.size(); ++k) {
        const std::size_t end = k < at.size() ? at[k] : templateText.size();
        const base::Result<std::string> piece =
            substitute(templateText.substr(from, end - from), frame);
        if (!piece) {
            return piece.error();
        }
        out += *piece;
        if (k < at.size()) {
            out += delimiter[k];
            from = at[k] + 1;
        }
    }
    return out;
}

// Reads a rule file: only a regular file, and at most one byte more than the
// limit, so that neither a device that never ends nor a FIFO without a writer
// can hold the start-up. `what` names the file in the error.
base::Result<std::string> readRuleFile(const std::string& path, const std::string& what)
{
    return fileio::RegularFile::readAll(path, kMaxRuleFileSize,
                                        "cannot read the rule file " + what);
}

} // namespace

base::Result<ReplyRules> ReplyRules::parse(std::string_view text)
{
    ReplyRules result;
    int lineNumber = 0;
    std::size_t from = 0;
    while (from <= text.size()) {
        std::size_t end = text.find('\n', from);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view line = text.substr(from, end - from);
        from = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        const std::string_view content = trimmed(line);
        if (content.empty() || content.front() == '#') {
            continue;
        }
        const auto fail = [&](const std::string& what) {
            return base::Error(base::Fault::BadInput, 0,
                               "line " + std::to_string(lineNumber) + ": " + what);
        };
        const std::size_t arrow = line.find(kArrow);
        if (arrow == std::string_view::npos) {
            return fail("expected COMMAND => frame|text|none ...");
        }
        Rule rule;
        rule.line = lineNumber;
        rule.command = std::string(trimmed(line.substr(0, arrow)));
        if (rule.command != kAnyCommand && rule.command.size() != protocol::kCommandWidth) {
            return fail("the command must have 3 characters, or be *: \"" + rule.command + '"');
        }
        const bool duplicate =
            std::any_of(result.rules_.begin(), result.rules_.end(),
                        [&](const Rule& other) { return other.command == rule.command; });
        if (duplicate) {
            return fail("a second rule for " + rule.command);
        }
        std::string_view rest = line.substr(arrow + kArrow.size());
        rest.remove_prefix(std::min(rest.size(), rest.find_first_not_of(kBlanks)));
        const std::string_view word = rest.substr(0, rest.find_first_of(kBlanks));
        std::string_view templateText = rest.substr(word.size());
        if (!templateText.empty()) {
            templateText.remove_prefix(1); // the one blank after the word
        }
        if (word == kFrameWord) {
            rule.kind = Kind::Frame;
            const base::Result<std::string> checked =
                renderFrame(templateText, nullptr, protocol::DelimiterMode::Demo);
            if (!checked) {
                return fail(checked.error().text());
            }
        } else if (word == kTextWord) {
            rule.kind = Kind::Text;
            if (trimmed(templateText).empty()) {
                return fail("a text rule needs a text");
            }
            if (const base::Result<std::string> checked = substitute(templateText, nullptr);
                !checked) {
                return fail(checked.error().text());
            }
        } else if (word == kNoneWord) {
            rule.kind = Kind::None;
            if (!trimmed(templateText).empty()) {
                return fail("nothing may follow none");
            }
        } else {
            return fail("expected frame, text or none after =>, not \"" + std::string(word) + '"');
        }
        if (rule.kind != Kind::None && widestAnswer(templateText) > kMaxAnswerSize) {
            return fail("the answer can reach " +
                        SimulatorLog::groupedCount(widestAnswer(templateText)) +
                        " bytes, more than one UDP datagram takes (" +
                        SimulatorLog::groupedCount(kMaxAnswerSize) + " with room for a NUL fault)");
        }
        rule.templateText = std::string(templateText);
        result.rules_.push_back(std::move(rule));
    }
    return result;
}

base::Result<ReplyRules> ReplyRules::load(const std::string& path)
{
    const std::string shown = escapedText(path);
    const base::Result<std::string> text = readRuleFile(path, shown);
    if (!text) {
        return text.error();
    }
    base::Result<ReplyRules> rules = parse(*text);
    if (!rules) {
        return base::Error(base::Fault::BadInput, 0, shown + ": " + rules.error().text());
    }
    return rules;
}

const ReplyRules::Rule* ReplyRules::find(std::string_view command) const
{
    const Rule* any = nullptr;
    for (const Rule& rule : rules_) {
        if (rule.command == command) {
            return &rule;
        }
        if (rule.command == kAnyCommand) {
            any = &rule;
        }
    }
    return any;
}

std::string ReplyRules::render(const Rule& rule, const protocol::DecodedFrame& frame)
{
    if (rule.kind == Kind::None) {
        return {};
    }
    base::Result<std::string> filled = rule.kind == Kind::Text
                                           ? substitute(rule.templateText, &frame)
                                           : renderFrame(rule.templateText, &frame, frame.mode);
    // A loaded rule's template was checked, so filling it cannot fail; were
    // it to, no answer beats a wrong one.
    if (!filled) {
        return {};
    }
    return *filled + std::string(protocol::kLineEnd);
}

} // namespace devicetools

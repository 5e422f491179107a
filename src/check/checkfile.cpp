#include "checkfile.h"
#include "fieldtext.h"
#include "stepaction.h"

#include "fileio/regularfile.h"

namespace check
{

namespace
{

// Where a step or answer stands, for messages about one device's values.
std::string placeText(std::string_view kind, std::size_t index, int line)
{
    std::string text = std::string(kind) + " " + std::to_string(index + 1);
    if (line > 0) {
        text += " (line " + std::to_string(line) + ")";
    }
    return text;
}

std::optional<std::string> missingValue(std::string_view text, const ValueLookup& lookup)
{
    std::string missing;
    if (filledSize(text, lookup, &missing)) {
        return std::nullopt;
    }
    return "no value for {" + missing + "}";
}

std::optional<std::string> matcherMissing(const FrameMatcher& matcher, const ValueLookup& lookup)
{
    std::optional<std::string> error;
    forEachMatcher(matcher, [&](std::string_view, const std::string& pattern) {
        if (!error) {
            error = missingValue(pattern, lookup);
        }
    });
    return error;
}

} // namespace

std::string CheckFileError::text() const
{
    if (line <= 0) {
        return file + ": " + what;
    }
    return file + ":" + std::to_string(line) + ":" + std::to_string(column) + ": " + what;
}

CheckFileResult loadCheckFile(const std::string& path)
{
    net::Result<std::string> text =
        fileio::RegularFile::readAll(path, CheckFileLimits::kMaxFileBytes);
    if (!text) {
        // The reason alone: the error names the file itself.
        std::string reason = text.error().text();
        if (reason.starts_with(path + ": ")) {
            reason.erase(0, path.size() + 2);
        }
        return CheckFileError{path, 0, 0, std::move(reason)};
    }
    return parseCheckFile(*text, path);
}

std::set<std::string, std::less<>> usedPlaceholders(const CheckFile& file)
{
    std::set<std::string, std::less<>> names;
    const auto add = [&](std::string_view, const std::string& text) {
        for (std::string& name : placeholderNames(text)) {
            names.insert(std::move(name));
        }
    };
    const auto addSend = [&](const SendStep& send) {
        forEachField(send.fields, add);
        add("text", send.text);
    };
    for (const Step& step : file.steps) {
        if (const auto* send = std::get_if<SendStep>(&step.action)) {
            addSend(*send);
        } else if (const auto* expect = std::get_if<ExpectStep>(&step.action)) {
            forEachMatcher(expect->frame, add);
            add("text", expect->contains);
        }
    }
    for (const AnswerRule& rule : file.answers) {
        forEachMatcher(rule.when, add);
        addSend(rule.answer);
    }
    return names;
}

std::optional<std::string> checkDeviceValues(const CheckFile& file, const DeviceValues& values)
{
    const ValueLookup device = [&](std::string_view name) -> const std::string* {
        const auto found = values.find(name);
        return found == values.end() ? nullptr : &found->second;
    };
    for (std::size_t i = 0; i < file.steps.size(); ++i) {
        const Step& step = file.steps[i];
        std::optional<std::string> error;
        if (const auto* send = std::get_if<SendStep>(&step.action)) {
            const net::Result<std::string> block = composeSendBlock(*send, file.mode, device);
            if (!block) {
                error = block.error().text();
            }
        } else if (const auto* expect = std::get_if<ExpectStep>(&step.action)) {
            if (std::string unfit = fillExpect(*expect, device).error; !unfit.empty()) {
                error = std::move(unfit);
            }
        }
        if (error) {
            return placeText("step", i, step.line) + ": " + *error;
        }
    }
    // An answer's frame placeholders stand for a received frame's fields,
    // which always fit their widths.
    static const std::string kFrameValue = "x";
    const ValueLookup answer = [&](std::string_view name) -> const std::string* {
        for (const std::string_view key : {"media", "id", "data", "command", "message"}) {
            if (name == key) {
                return &kFrameValue;
            }
        }
        return device(name);
    };
    for (std::size_t i = 0; i < file.answers.size(); ++i) {
        const AnswerRule& rule = file.answers[i];
        std::optional<std::string> error = matcherMissing(rule.when, device);
        if (!error) {
            forEachField(rule.answer.fields, [&](std::string_view, const std::string& text) {
                if (!error) {
                    error = missingValue(text, answer);
                }
            });
        }
        if (!error) {
            error = missingValue(rule.answer.text, answer);
        }
        if (error) {
            return placeText("answer", i, rule.line) + ": " + *error;
        }
    }
    return std::nullopt;
}

} // namespace check

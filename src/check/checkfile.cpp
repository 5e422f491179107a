#include "checkfile.h"
#include "fieldtext.h"
#include "stepaction.h"

#include "fileio/regularfile.h"

#include <algorithm>

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

base::Error missingValue(std::string_view text, const ValueLookup& lookup)
{
    const base::Result<std::size_t> size = filledSize(text, lookup);
    return size ? base::Error() : size.error();
}

base::Error matcherMissing(const FrameMatcher& matcher, const ValueLookup& lookup)
{
    base::Error error;
    forEachMatcher(matcher, [&](std::string_view, const std::string& pattern) {
        if (error.ok()) {
            error = missingValue(pattern, lookup);
        }
    });
    return error;
}

} // namespace

base::Error checkFileMistake(std::string_view file, int line, int column, std::string what)
{
    std::string where(file);
    if (line > 0) {
        where += ":" + std::to_string(line) + ":" + std::to_string(column);
    }
    return base::Error::input(base::Fault::BadInput, std::move(where), std::move(what));
}

base::Result<CheckFile> loadCheckFile(const std::string& path)
{
    base::Result<std::string> text =
        fileio::RegularFile::readAll(path, CheckFileLimits::kMaxFileBytes);
    if (!text) {
        // A check file's mistake: its path, then the reason alone.
        const base::Error& failure = text.error();
        return checkFileMistake(path, 0, 0,
                                failure.reason().empty()
                                    ? base::Error(failure.fault(), failure.systemCode()).text()
                                    : failure.reason());
    }
    return parseCheckFile(*text, path);
}

DeviceValues valuesWithDefaults(const CheckFile& file, DeviceValues values)
{
    for (const auto& [name, value] : file.values) {
        values.try_emplace(name, value);
    }
    return values;
}

std::vector<std::string> stepPlaceholders(const CheckFile& file)
{
    std::vector<std::string> names;
    const auto collect = [&](std::string_view text) {
        for (std::string& name : placeholderNames(text)) {
            if (std::find(names.begin(), names.end(), name) == names.end()) {
                names.push_back(std::move(name));
            }
        }
    };
    for (const Step& step : file.steps) {
        if (const auto* send = std::get_if<SendStep>(&step.action)) {
            collect(send->text);
            forEachField(send->fields,
                         [&](std::string_view, const std::string& text) { collect(text); });
        } else if (const auto* expect = std::get_if<ExpectStep>(&step.action)) {
            collect(expect->contains);
            forEachMatcher(expect->frame,
                           [&](std::string_view, const std::string& text) { collect(text); });
        }
    }
    return names;
}

std::set<std::string, std::less<>> usedPlaceholders(const CheckFile& file)
{
    const std::vector<std::string> steps = stepPlaceholders(file);
    std::set<std::string, std::less<>> names(steps.begin(), steps.end());
    const auto add = [&](std::string_view, const std::string& text) {
        for (std::string& name : placeholderNames(text)) {
            names.insert(std::move(name));
        }
    };
    for (const AnswerRule& rule : file.answers) {
        forEachMatcher(rule.when, add);
        forEachField(rule.answer.fields, add);
        add("text", rule.answer.text);
    }
    return names;
}

base::Error checkDeviceValues(const CheckFile& file, const DeviceValues& given)
{
    const DeviceValues values = valuesWithDefaults(file, given);
    const ValueLookup device = [&](std::string_view name) -> const std::string* {
        const auto found = values.find(name);
        return found == values.end() ? nullptr : &found->second;
    };
    for (std::size_t i = 0; i < file.steps.size(); ++i) {
        const Step& step = file.steps[i];
        base::Error error;
        if (const auto* send = std::get_if<SendStep>(&step.action)) {
            if (const base::Result<std::string> block = composeSendBlock(*send, file.mode, device);
                !block) {
                error = block.error();
            }
        } else if (const auto* expect = std::get_if<ExpectStep>(&step.action)) {
            error = fillExpect(*expect, device).error;
        }
        if (!error.ok()) {
            return base::Error::input(base::Fault::BadInput, placeText("step", i, step.line),
                                      error.text());
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
        base::Error error = matcherMissing(rule.when, device);
        forEachField(rule.answer.fields, [&](std::string_view, const std::string& text) {
            if (error.ok()) {
                error = missingValue(text, answer);
            }
        });
        if (error.ok()) {
            error = missingValue(rule.answer.text, answer);
        }
        if (!error.ok()) {
            return base::Error::input(base::Fault::BadInput, placeText("answer", i, rule.line),
                                      error.text());
        }
    }
    return {};
}

} // namespace check

#include "checkfile.h"
#include "fieldtext.h"
#include "stepaction.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

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
    if (fillPlaceholders(text, lookup, &missing)) {
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
    const auto failure = [&](std::string what) {
        return CheckFileError{path, 0, 0, std::move(what)};
    };
    // Non-blocking, so that a FIFO named by mistake cannot hang the open.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return failure(std::strerror(errno));
    }
    struct stat status {
    };
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return failure("not a regular file");
    }
    std::string text;
    std::array<char, 65536> chunk{};
    while (text.size() <= CheckFileLimits::kMaxFileBytes) {
        const ssize_t got = ::read(fd, chunk.data(), chunk.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            const int error = errno;
            ::close(fd);
            return failure(std::strerror(error));
        }
        if (got == 0) {
            break;
        }
        text.append(chunk.data(), static_cast<std::size_t>(got));
    }
    ::close(fd);
    return parseCheckFile(text, path);
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

std::optional<std::string> checkDeviceValues(const CheckFile& file, const DeviceValues& given)
{
    const DeviceValues values = valuesWithDefaults(file, given);
    const ValueLookup device = [&](std::string_view name) -> const std::string* {
        const auto found = values.find(name);
        return found == values.end() ? nullptr : &found->second;
    };
    for (std::size_t i = 0; i < file.steps.size(); ++i) {
        const Step& step = file.steps[i];
        std::optional<std::string> error;
        if (const auto* send = std::get_if<SendStep>(&step.action)) {
            const SendBlock block = composeSendBlock(*send, file.mode, device);
            if (!block.error.empty()) {
                error = block.error;
            }
        } else if (const auto* expect = std::get_if<ExpectStep>(&step.action)) {
            error = expect->isFrame ? matcherMissing(expect->frame, device)
                                    : missingValue(expect->contains, device);
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

#pragma once

#include "base/error.h"
#include "protocol/commandframe.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace check
{

using Millis = std::chrono::milliseconds;

enum class Transport { Tcp, Udp };

// Per-device values a target brings ({id}, {name}, any CSV column), used by
// the file's texts as placeholders.
using DeviceValues = std::map<std::string, std::string, std::less<>>;

// A field matcher of an expected frame: exact text, or `*` (any run) and `?`
// (any one character). An absent matcher matches any field.
struct FrameMatcher {
    std::optional<std::string> media, deviceId, data, command, message;

    bool operator==(const FrameMatcher&) const = default;
};

// What one step sends: a command frame by its fields, or a free text. The
// texts may hold placeholders ({id}, ...) filled from the device's values
// when the step runs.
struct SendStep {
    bool isFrame = true;
    protocol::FrameFields fields;
    std::string text;

    bool operator==(const SendStep&) const = default;
};

// What one step waits for within `within`: a received frame that passes the
// frame check and matches `frame`, or received bytes that contain `contains`.
struct ExpectStep {
    bool isFrame = true;
    FrameMatcher frame;
    std::string contains;
    Millis within{0}; // 0: the file's answerTimeout

    bool operator==(const ExpectStep&) const = default;
};

struct WaitStep {
    Millis duration{0};

    bool operator==(const WaitStep&) const = default;
};

struct Step {
    std::string name; // may be empty
    std::variant<SendStep, ExpectStep, WaitStep> action;
    std::uint32_t repeat = 1; // the step runs this many times in a row
    int line = 0;             // where it stands in its file, 0 when made in code

    // What the step does; where it stands does not count.
    bool operator==(const Step& other) const
    {
        return name == other.name && action == other.action && repeat == other.repeat;
    }
};

// An automatic answer: when a received frame matches `when`, send `answer`
// (its texts may hold {media} {id} {data} {command} {message} of the received
// frame).
struct AnswerRule {
    std::string name;
    FrameMatcher when;
    SendStep answer;
    int line = 0;

    bool operator==(const AnswerRule& other) const
    {
        return name == other.name && when == other.when && answer == other.answer;
    }
};

// A whole check file: defaults, steps in order, automatic answers.
struct CheckFile {
    static constexpr std::uint16_t kDefaultPort = 21210;
    static constexpr Millis kDefaultAnswerTimeout{2000};

    Transport transport = Transport::Tcp;
    std::uint16_t port = kDefaultPort;
    protocol::DelimiterMode mode = protocol::DelimiterMode::Demo;
    Millis answerTimeout = kDefaultAnswerTimeout; // an expect without its own time
    std::uint32_t repeat = 1;                     // the whole list of steps
    bool tls = false;                             // speak TLS with the devices (TCP only)
    // Default values of the placeholders (the file's [values] table); a
    // device's own values take precedence.
    DeviceValues values;
    std::vector<Step> steps;
    std::vector<AnswerRule> answers;

    bool operator==(const CheckFile&) const = default;
};

// What a file may hold at most; the reader refuses more.
struct CheckFileLimits {
    static constexpr std::size_t kMaxFileBytes = 1024 * 1024;
    static constexpr std::size_t kMaxSteps = 10000;
    static constexpr std::size_t kMaxAnswers = 1000;
    static constexpr std::uint32_t kMaxRepeat = 100000; // of a step, and of the file
    // Steps run in all: every step's repeat, times the file's repeat.
    static constexpr std::uint64_t kMaxStepRuns = 1000000;
    static constexpr Millis kMaxTime{3600 * 1000}; // any time in the file
    static constexpr std::size_t kMaxNameLength = 200;
    static constexpr std::size_t kMaxMatcherLength = 2 * protocol::kFreeTextMaxLength;
    static constexpr std::size_t kMaxValues = 100;
    static constexpr std::size_t kMaxValueLength = protocol::kFreeTextMaxLength;
};

// A mistake in a check file: BadInput with where it stands as the detail
// ("file:line:column", or "file" when it stands nowhere in particular) and
// what is wrong as the reason; its text is "file:line:column: what".
base::Error checkFileMistake(std::string_view file, int line, int column, std::string what);

// Reads a check file's text; `fileName` only names it in errors, where the
// text's first line counts as `firstLine` (0 when the caller put a line of its
// own before the user's). Pure: any thread.
[[nodiscard]] base::Result<CheckFile> parseCheckFile(std::string_view text,
                                                     std::string_view fileName, int firstLine = 1);
// Reads a regular file of bounded size, then parses it.
[[nodiscard]] base::Result<CheckFile> loadCheckFile(const std::string& path);
// The text of a check file that parseCheckFile() reads back to an equal file
// (for any file parseCheckFile() made; texts are UTF-8). The same file gives
// the same bytes. Pure: any thread.
std::string writeCheckFile(const CheckFile& file);

// One device's values completed by the file's defaults: a value the device
// has stays, a default fills what it lacks. Pure: any thread.
DeviceValues valuesWithDefaults(const CheckFile& file, DeviceValues values);

// The placeholder names the steps use (not the answers', which come from a
// received frame), each once, in the order they first appear. Pure.
std::vector<std::string> stepPlaceholders(const CheckFile& file);

// The names of every placeholder the file's steps and answers use. Pure: any
// thread.
std::set<std::string, std::less<>> usedPlaceholders(const CheckFile& file);

// Whether one device's values fit the file, checked before the device is
// contacted: every placeholder of the steps and answers has a value (the
// answers' {media} {id} {data} {command} {message} come from the received
// frame), and every field of a send step has its width or limit once filled.
// The file's default values count. No failure when they fit, else BadInput
// with the step as its detail and what is wrong as its reason ("step 3 (line
// 12): no value for {zone}"). Pure: any thread.
[[nodiscard]] base::Error checkDeviceValues(const CheckFile& file, const DeviceValues& values);

} // namespace check

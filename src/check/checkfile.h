#pragma once

#include "protocol/commandframe.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
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
};

// What one step sends: a command frame by its fields, or a free text. The
// texts may hold placeholders ({id}, ...) filled from the device's values
// when the step runs.
struct SendStep {
    bool isFrame = true;
    protocol::FrameFields fields;
    std::string text;
};

// What one step waits for within `within`: a received frame that passes the
// frame check and matches `frame`, or received bytes that contain `contains`.
struct ExpectStep {
    bool isFrame = true;
    FrameMatcher frame;
    std::string contains;
    Millis within{0};
};

struct WaitStep {
    Millis duration{0};
};

struct Step {
    std::string name; // may be empty
    std::variant<SendStep, ExpectStep, WaitStep> action;
    std::uint32_t repeat = 1; // the step runs this many times in a row
    int line = 0;             // where it stands in its file, 0 when made in code
};

// An automatic answer: when a received frame matches `when`, send `answer`
// (its texts may hold {media} {id} {data} {command} {message} of the received
// frame).
struct AnswerRule {
    std::string name;
    FrameMatcher when;
    SendStep answer;
    int line = 0;
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
    std::vector<Step> steps;
    std::vector<AnswerRule> answers;
};

// A mistake in a check file, where it stands and what is wrong.
struct CheckFileError {
    std::string file; // as given to the reader
    int line = 0;
    int column = 0;
    std::string what;
    // "file:line:column: what"
    std::string text() const;
};

using CheckFileResult = std::variant<CheckFile, CheckFileError>;

// Reads a check file's text; `fileName` only names it in errors. Pure: any
// thread.
CheckFileResult parseCheckFile(std::string_view text, std::string_view fileName);
// Reads a regular file of bounded size, then parses it.
CheckFileResult loadCheckFile(const std::string& path);
// The text of a check file that parseCheckFile() reads back to an equal file.
std::string writeCheckFile(const CheckFile& file);

} // namespace check

#include "checkfile.h"
#include "fieldtext.h"
#include "stepaction.h"
#include "tomldepth.h"
#include "tomlvalues.h"

#include "protocol/delimiterset.h"

#include <array>

namespace check
{

namespace
{

using Limits = CheckFileLimits;

// A text that may hold placeholders: well formed, and when it holds none, of
// a length its field allows.
std::string fieldTextOf(const toml::node& node, std::string_view key)
{
    std::string text = textOf(node, key);
    if (const base::Error error = placeholderError(text); !error.ok()) {
        refuse(node, std::string(key) + ": " + error.text());
    }
    if (placeholderNames(text).empty()) {
        const auto literal = fillPlaceholders(text, [](std::string_view) { return nullptr; });
        if (const base::Error error = fieldLengthError(key, literal->size()); !error.ok()) {
            refuse(node, error.text());
        }
    }
    return text;
}

constexpr std::array<std::string_view, 5> kFrameKeys = {"media", "id", "data", "command",
                                                        "message"};

SendStep readSend(const toml::node& node, std::string_view key)
{
    const toml::table& table =
        tableOf(node, key, "send = { media = \"B\", id = \"{id}\", command = \"ENT\" }");
    onlyKeys(table, {"media", "id", "data", "command", "message", "text"}, quoted(key));
    SendStep send;
    if (const toml::node* text = table.get("text")) {
        for (const std::string_view frameKey : kFrameKeys) {
            if (table.contains(frameKey)) {
                refuse(*table.get(frameKey),
                       quoted(key) + " has both a text and frame fields: give one or the other");
            }
        }
        send.isFrame = false;
        send.text = fieldTextOf(*text, "text");
        return send;
    }
    forEachField(send.fields, [&](std::string_view fieldKey, std::string& out) {
        if (const toml::node* field = table.get(fieldKey)) {
            out = fieldTextOf(*field, fieldKey);
        }
    });
    // The console's messages for missing fields; a field with placeholders
    // is judged once filled, for each device.
    const auto known = [](const std::string& text, std::size_t width) {
        return placeholderNames(text).empty() ? text.size() : width;
    };
    const base::Error missing = protocol::validateFrameFields(
        std::string(known(send.fields.media, protocol::kMediaWidth), 'x'),
        std::string(known(send.fields.deviceId, protocol::kDeviceIdWidth), 'x'),
        std::string(known(send.fields.command, protocol::kCommandWidth), 'x'));
    if (!missing.ok()) {
        refuse(node, quoted(key) + ": " + missing.text());
    }
    return send;
}

FrameMatcher readMatcher(const toml::table& table)
{
    FrameMatcher matcher;
    const auto one = [&](std::string_view key, std::optional<std::string>& out) {
        const toml::node* node = table.get(key);
        if (node == nullptr) {
            return;
        }
        std::string pattern = textOf(*node, key);
        if (const base::Error error = placeholderError(pattern); !error.ok()) {
            refuse(*node, std::string(key) + ": " + error.text());
        }
        if (pattern.size() > Limits::kMaxMatcherLength) {
            refuse(*node, std::string(key) + " must be at most " +
                              std::to_string(Limits::kMaxMatcherLength) + " characters");
        }
        const FieldRange range = fieldRange(key);
        if (placeholderNames(pattern).empty() &&
            (wildcardMinLength(pattern) > range.max ||
             (!wildcardUnbounded(pattern) && pattern.size() < range.min))) {
            const std::string length = range.min == range.max
                                           ? std::to_string(range.max)
                                           : "at most " + std::to_string(range.max);
            refuse(*node, std::string(key) + " \"" + pattern + "\" can never match, as a " +
                              std::string(key) + " has " + length + " characters");
        }
        out = std::move(pattern);
    };
    one("media", matcher.media);
    one("id", matcher.deviceId);
    one("data", matcher.data);
    one("command", matcher.command);
    one("message", matcher.message);
    return matcher;
}

ExpectStep readExpect(const toml::node& node)
{
    const toml::table& table =
        tableOf(node, "expect", "expect = { command = \"ENT\" } or expect = { text = \"...\" }");
    onlyKeys(table, {"media", "id", "data", "command", "message", "text", "within"}, "'expect'");
    ExpectStep expect;
    if (const toml::node* within = table.get("within")) {
        expect.within = timeOf(*within, "within");
    }
    const toml::node* text = table.get("text");
    if (text == nullptr) {
        expect.frame = readMatcher(table);
        return expect;
    }
    for (const std::string_view frameKey : kFrameKeys) {
        if (table.contains(frameKey)) {
            refuse(*table.get(frameKey),
                   "'expect' has both a text and frame fields: give one or the other");
        }
    }
    expect.isFrame = false;
    expect.contains = textOf(*text, "text");
    if (const base::Error error = placeholderError(expect.contains); !error.ok()) {
        refuse(*text, "text: " + error.text());
    }
    if (expect.contains.empty()) {
        refuse(*text, "the text to expect must not be empty");
    }
    if (expect.contains.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
        refuse(*text, "the text to expect must not hold a line end (CR, LF or NUL): received "
                      "bytes are matched line by line");
    }
    if (expect.contains.size() > Limits::kMaxMatcherLength) {
        refuse(*text, "the text to expect must be at most " +
                          std::to_string(Limits::kMaxMatcherLength) + " characters");
    }
    return expect;
}

std::string nameOf(const toml::table& table)
{
    const toml::node* node = table.get("name");
    if (node == nullptr) {
        return {};
    }
    std::string name = textOf(*node, "name");
    if (name.size() > Limits::kMaxNameLength) {
        refuse(*node,
               "'name' must be at most " + std::to_string(Limits::kMaxNameLength) + " characters");
    }
    return name;
}

Step readStep(const toml::table& table)
{
    onlyKeys(table, {"name", "send", "expect", "wait", "repeat"}, "[[step]]");
    Step step;
    step.line = static_cast<int>(table.source().begin.line);
    step.name = nameOf(table);
    // Keys come sorted by name; a second action is named where it stands.
    const toml::key* action = nullptr;
    for (auto&& [key, value] : table) {
        if (key.str() != "send" && key.str() != "expect" && key.str() != "wait") {
            continue;
        }
        if (action != nullptr) {
            const bool later = action->source().begin < key.source().begin;
            const toml::key& first = later ? *action : key;
            const toml::key& second = later ? key : *action;
            refuse(second, "a step has both " + quoted(first.str()) + " and " +
                               quoted(second.str()) + ": give each its own [[step]]");
        }
        action = &key;
        if (key.str() == "send") {
            step.action = readSend(value, "send");
        } else if (key.str() == "expect") {
            step.action = readExpect(value);
        } else {
            step.action = WaitStep{timeOf(value, "wait")};
        }
    }
    if (action == nullptr) {
        refuse(table, "a step needs one of 'send', 'expect' or 'wait'");
    }
    if (const toml::node* repeat = table.get("repeat")) {
        step.repeat = countOf(*repeat, "repeat", Limits::kMaxRepeat);
    }
    return step;
}

AnswerRule readAnswer(const toml::table& table)
{
    onlyKeys(table, {"name", "when", "send"}, "[[answer]]");
    AnswerRule rule;
    rule.line = static_cast<int>(table.source().begin.line);
    rule.name = nameOf(table);
    const toml::node* when = table.get("when");
    const toml::node* send = table.get("send");
    if (when == nullptr || send == nullptr) {
        refuse(table, "an answer needs 'when' (the frame it answers) and 'send'");
    }
    const toml::table& whenTable = tableOf(*when, "when", "when = { command = \"EVT\" }");
    onlyKeys(whenTable, {"media", "id", "data", "command", "message"}, "'when'");
    rule.when = readMatcher(whenTable);
    rule.answer = readSend(*send, "send");
    return rule;
}

void readDefaults(const toml::node& node, CheckFile& file)
{
    const toml::table& table = tableOf(node, "defaults", "[defaults]");
    onlyKeys(table, {"protocol", "port", "mode", "timeout", "repeat", "tls"}, "[defaults]");
    if (const toml::node* protocol = table.get("protocol")) {
        const std::string& name = textOf(*protocol, "protocol");
        if (name != "tcp" && name != "udp") {
            refuse(*protocol, "'protocol' must be \"tcp\" or \"udp\"");
        }
        file.transport = name == "udp" ? Transport::Udp : Transport::Tcp;
    }
    if (const toml::node* port = table.get("port")) {
        const auto* number = port->as_integer();
        if (number == nullptr || number->get() < 1 || number->get() > 65535) {
            refuse(*port, "'port' must be a whole number from 1 to 65535");
        }
        file.port = static_cast<std::uint16_t>(number->get());
    }
    if (const toml::node* mode = table.get("mode")) {
        const std::string& name = textOf(*mode, "mode");
        if (name != protocol::DelimiterSet::kDemoModeText &&
            name != protocol::DelimiterSet::kReleaseModeText) {
            refuse(*mode, "'mode' must be \"DEMO\" or \"RELEASE\"");
        }
        file.mode = name == protocol::DelimiterSet::kReleaseModeText
                        ? protocol::DelimiterMode::Release
                        : protocol::DelimiterMode::Demo;
    }
    if (const toml::node* timeout = table.get("timeout")) {
        file.answerTimeout = timeOf(*timeout, "timeout");
    }
    if (const toml::node* repeat = table.get("repeat")) {
        file.repeat = countOf(*repeat, "repeat", Limits::kMaxRepeat);
    }
    if (const toml::node* tls = table.get("tls")) {
        const auto* on = tls->as_boolean();
        if (on == nullptr) {
            refuse(*tls, "'tls' must be true or false");
        }
        if (on->get() && file.transport == Transport::Udp) {
            refuse(*tls, "'tls' needs protocol \"tcp\" (there is no TLS over UDP)");
        }
        file.tls = on->get();
    }
}

void readValues(const toml::node& node, CheckFile& file)
{
    const toml::table& table = tableOf(node, "values", "[values] with id = \"A1\"");
    if (table.size() > Limits::kMaxValues) {
        refuse(node, "more than " + std::to_string(Limits::kMaxValues) + " values in [values]");
    }
    for (const auto& [key, value] : table) {
        const std::string_view name = key.str();
        const std::string braced = "{" + std::string(name) + "}";
        if (placeholderNames(braced) != std::vector<std::string>{std::string(name)}) {
            refuse(key, "'" + std::string(name) +
                            "' is no placeholder name (letters, digits, '_', '-', '.')");
        }
        const std::string& text = textOf(value, name);
        if (text.size() > Limits::kMaxValueLength) {
            refuse(value, std::string(name) + " must be at most " +
                              std::to_string(Limits::kMaxValueLength) + " characters");
        }
        file.values.emplace(std::string(name), text);
    }
}

// Tables of an array written [[key]]; `read` makes one item of each.
template <typename Item, typename Read>
std::vector<Item> readList(const toml::node& node, std::string_view key, std::size_t max,
                           Read&& read)
{
    const toml::array* array = node.as_array();
    if (array == nullptr || !array->is_array_of_tables()) {
        refuse(node, quoted(key) + " must be a list of tables, each written [[" + std::string(key) +
                         "]]");
    }
    if (array->size() > max) {
        refuse(*array->get(max),
               "more than " + std::to_string(max) + " [[" + std::string(key) + "]] in one file");
    }
    std::vector<Item> items;
    items.reserve(array->size());
    for (const toml::node& item : *array) {
        items.push_back(read(*item.as_table()));
    }
    return items;
}

CheckFile readDocument(const toml::table& root)
{
    onlyKeys(root, {"defaults", "values", "step", "answer"}, "the file");
    CheckFile file;
    if (const toml::node* defaults = root.get("defaults")) {
        readDefaults(*defaults, file);
    }
    if (const toml::node* values = root.get("values")) {
        readValues(*values, file);
    }
    if (const toml::node* steps = root.get("step")) {
        file.steps = readList<Step>(*steps, "step", Limits::kMaxSteps, readStep);
        std::uint64_t runs = 0;
        for (std::size_t i = 0; i < file.steps.size(); ++i) {
            runs += file.steps[i].repeat;
            if (runs * file.repeat > Limits::kMaxStepRuns) {
                const toml::node& step = *steps->as_array()->get(i);
                refuse(step, "the steps would run more than " +
                                 std::to_string(Limits::kMaxStepRuns) +
                                 " times in all (each step's repeat, times the file's repeat)");
            }
        }
    }
    if (const toml::node* answers = root.get("answer")) {
        file.answers = readList<AnswerRule>(*answers, "answer", Limits::kMaxAnswers, readAnswer);
    }
    return file;
}

base::Error errorAt(std::string_view fileName, int firstLine, const toml::source_position& where,
                    std::string what)
{
    return checkFileMistake(fileName, static_cast<int>(where.line) + firstLine - 1,
                            static_cast<int>(where.column), std::move(what));
}

} // namespace

base::Result<CheckFile> parseCheckFile(std::string_view text, std::string_view fileName,
                                       int firstLine)
{
    if (text.size() > Limits::kMaxFileBytes) {
        return checkFileMistake(fileName, 0, 0,
                                "the file is larger than " +
                                    std::to_string(Limits::kMaxFileBytes / 1024) + " KiB");
    }
    if (base::Error tooDeep = TomlDepth::check(text, fileName, firstLine); !tooDeep.ok()) {
        return tooDeep;
    }
    try {
        const toml::table root = toml::parse(text, fileName);
        return readDocument(root);
    } catch (const toml::parse_error& error) {
        return errorAt(fileName, firstLine, error.source().begin, std::string(error.description()));
    } catch (const Refusal& refusal) {
        return errorAt(fileName, firstLine, refusal.where, refusal.what);
    }
}

} // namespace check

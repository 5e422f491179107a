#include "checkfile.h"
#include "fieldtext.h"
#include "stepaction.h"

#include "protocol/delimiterset.h"

#include <cstdint>

namespace check
{

namespace
{

// The length of the UTF-8 sequence at `i`, or 0 when it is not a valid one.
std::size_t utf8Length(std::string_view text, std::size_t i)
{
    const auto byte = [&](std::size_t at) { return static_cast<std::uint8_t>(text[at]); };
    const std::uint8_t lead = byte(i);
    std::size_t length = 0;
    std::uint32_t point = 0;
    if (lead < 0x80) {
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2;
        point = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        point = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        point = lead & 0x07;
    } else {
        return 0;
    }
    if (i + length > text.size()) {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            return 0;
        }
        point = (point << 6) | (byte(i + k) & 0x3F);
    }
    constexpr std::uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    const bool surrogate = point >= 0xD800 && point <= 0xDFFF;
    return point < kSmallest[length] || point > 0x10FFFF || surrogate ? 0 : length;
}

// A TOML basic string. Control codes are escaped; a byte that is no part of
// valid UTF-8 is written as the character of the same number, as a file
// holds UTF-8 only.
std::string quotedText(std::string_view text)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<std::uint8_t>(text[i]);
        const std::size_t length = utf8Length(text, i);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F || length == 0) {
            out += "\\u00";
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        } else {
            out.append(text.substr(i, length));
            i += length;
            continue;
        }
        ++i;
    }
    return out + "\"";
}

// Writes `key = value` pairs of one inline table: { a = "x", b = "y" }.
class InlineTable
{
public:
    void add(std::string_view key, std::string_view value)
    {
        text_ += text_.empty() ? "{ " : ", ";
        text_ += key;
        text_ += " = ";
        text_ += value;
    }
    std::string text() const { return text_.empty() ? "{}" : text_ + " }"; }

private:
    std::string text_;
};

std::string sendText(const SendStep& send)
{
    InlineTable table;
    if (!send.isFrame) {
        table.add("text", quotedText(send.text));
        return table.text();
    }
    forEachField(send.fields, [&](std::string_view key, const std::string& value) {
        // Data and message are optional in a file; the others are always there.
        if (!value.empty() || (key != "data" && key != "message")) {
            table.add(key, quotedText(value));
        }
    });
    return table.text();
}

void addMatchers(InlineTable& table, const FrameMatcher& matcher)
{
    forEachMatcher(matcher, [&](std::string_view key, const std::string& pattern) {
        table.add(key, quotedText(pattern));
    });
}

std::string expectText(const ExpectStep& expect)
{
    InlineTable table;
    if (expect.isFrame) {
        addMatchers(table, expect.frame);
    } else {
        table.add("text", quotedText(expect.contains));
    }
    if (expect.within.count() != 0) {
        table.add("within", quotedText(millisText(expect.within.count())));
    }
    return table.text();
}

} // namespace

std::string writeCheckFile(const CheckFile& file)
{
    std::string out = "[defaults]\n";
    out += "protocol = ";
    out += file.transport == Transport::Udp ? "\"udp\"\n" : "\"tcp\"\n";
    out += "port = " + std::to_string(file.port) + "\n";
    out += "mode = " +
           quotedText(file.mode == protocol::DelimiterMode::Release
                          ? protocol::DelimiterSet::kReleaseModeText
                          : protocol::DelimiterSet::kDemoModeText) +
           "\n";
    out += "timeout = " + quotedText(millisText(file.answerTimeout.count())) + "\n";
    out += "repeat = " + std::to_string(file.repeat) + "\n";
    if (file.tls) {
        out += "tls = true\n";
    }
    if (!file.values.empty()) {
        out += "\n[values]\n";
        for (const auto& [name, value] : file.values) {
            out += quotedText(name) + " = " + quotedText(value) + "\n";
        }
    }
    for (const Step& step : file.steps) {
        out += "\n[[step]]\n";
        if (!step.name.empty()) {
            out += "name = " + quotedText(step.name) + "\n";
        }
        if (const auto* send = std::get_if<SendStep>(&step.action)) {
            out += "send = " + sendText(*send) + "\n";
        } else if (const auto* expect = std::get_if<ExpectStep>(&step.action)) {
            out += "expect = " + expectText(*expect) + "\n";
        } else {
            const auto& wait = std::get<WaitStep>(step.action);
            out += "wait = " + quotedText(millisText(wait.duration.count())) + "\n";
        }
        if (step.repeat != 1) {
            out += "repeat = " + std::to_string(step.repeat) + "\n";
        }
    }
    for (const AnswerRule& rule : file.answers) {
        out += "\n[[answer]]\n";
        if (!rule.name.empty()) {
            out += "name = " + quotedText(rule.name) + "\n";
        }
        InlineTable when;
        addMatchers(when, rule.when);
        out += "when = " + when.text() + "\n";
        out += "send = " + sendText(rule.answer) + "\n";
    }
    return out;
}

} // namespace check

#include "senderoptions.h"

#include "bytetext.h"
#include "nettext.h"

#include "protocol/delimiterset.h"

#include <array>
#include <optional>

namespace devicetools
{

namespace
{

constexpr std::uint32_t kMinPort = 1;
constexpr std::uint8_t kFirstPrintable = 0x20;
constexpr std::uint8_t kDelete = 0x7f;

constexpr std::string_view kUsage = R"(Usage: framesend [options]

Sends one command frame or one free text to a device exactly as the console
does (followed by CR LF and NUL, in one write), then prints every block that
comes back within the time limit after the console's frame check: the text
the console would show, or "Error received data !". Nothing else goes to
standard output unless --hex is given; errors and warnings go to standard
error.

Exit status:
  0  an answer passed the frame check (if the connection ends after that,
     the console's line "Connection Abandonned" is printed too)
  1  the connection held, but no answer came in time or none passed
  2  a usage error, or a connection error: the host does not resolve, the
     connect is refused or does not finish within --timeout ("timed out
     connecting to ..."), sending fails, or the connection ends before an
     answer passed the check

Where to:
  --host HOST       device address (IPv4, or IPv6 such as ::1) or host name
                    (default 127.0.0.1)
  --port PORT       device port, 1 to 65535 (default 21210)
  --tcp             send over TCP (the default)
  --udp             send over UDP

What (a frame by default, with the fields the console opens with):
  --media TEXT      media; its first character counts (default B)
  --id TEXT         device id; its first two characters count (default A1)
  --data TEXT       data, at most 36 characters (default 39123439)
  --command TEXT    command; its first three characters count (default ENT)
  --message TEXT    message, at most 120 characters
                    (default "Message / Description")
  --release         RELEASE mode: the frame's delimiters go out as the codes
                    7, 8, 9, and answers are checked for those codes
  --text TEXT       send this free text instead of a frame (1 to 2045
                    characters)
A field that holds a delimiter of the mode ('[' '=' '-' in DEMO), a control
byte or a line break gets a warning on standard error; the frame still goes
out as given, as the console would send it.

Encrypted devices (the handshake is part of the run's time):
@TLS@
How:
  --timeout MS      how long the whole run may take: connect, send and wait
                    for answers, 1 to 600000 ms (default 2000); once an
                    answer has passed the check, only until the line has been
                    quiet for 100 ms
  --hex             also show each block's raw bytes in hex
  --help            show this text

Examples:
  framesend                          # the console's default frame, TCP, 127.0.0.1:21210
  framesend --udp --release --command EXT --data 4711
  framesend --command "IGN  -  Ignore" --message "" && echo "device answered"
  framesend --text "hello" --timeout 500 --hex
  framesend --host ::1 --tls --pin SHA256:4F:1A:...   # a device known by its fingerprint
)";

struct NamedField {
    std::string_view name;
    std::string protocol::FrameFields::*field;
    std::size_t counted; // how much of it goes on the wire
};

const std::array<NamedField, 5> kFields{{
    {"media", &protocol::FrameFields::media, protocol::kMediaWidth},
    {"device id", &protocol::FrameFields::deviceId, protocol::kDeviceIdWidth},
    {"data", &protocol::FrameFields::data, protocol::kDataMaxLength},
    {"command", &protocol::FrameFields::command, protocol::kCommandWidth},
    {"message", &protocol::FrameFields::message, protocol::kMessageMaxLength},
}};

// What makes `text` read differently on the wire, or empty: a line break, a
// control byte, or one of `delimiters`.
std::string troubleIn(std::string_view text, std::string_view delimiters)
{
    for (const char c : text) {
        const auto byte = static_cast<std::uint8_t>(c);
        if (c == '\r' || c == '\n') {
            return "a line break";
        }
        if (byte < kFirstPrintable || byte == kDelete) {
            return "the control byte \\x" + hexBytes(std::string_view(&c, 1));
        }
        if (delimiters.find(c) != std::string_view::npos) {
            return std::string("the delimiter '") + c + '\'';
        }
    }
    return {};
}

} // namespace

base::Result<ParseResult> parseSenderArguments(CommandLine& line, SenderOptions& options)
{
    std::string value;
    protocol::FrameFields& fields = options.fields;
    base::Error error;
    // Takes the current option's value into `target` and tells whether it
    // could; `error` says why not.
    const auto text = [&](std::string& target) {
        base::Result<std::string> read = line.value();
        if (!read) {
            error = read.error();
            return false;
        }
        target = std::move(*read);
        return true;
    };
    const auto noValue = [&] {
        error = line.noValue();
        return error.ok();
    };
    while (!line.atEnd()) {
        const std::string option(line.nextOption());
        bool ok = true;
        if (option == "--help") {
            return ParseResult::Help;
        } else if (option == "--host") {
            ok = text(options.host);
        } else if (option == "--port") {
            ok = text(options.port);
            if (ok && !CommandLine::parseNumber(options.port, kMinPort, kMaxPort)) {
                error = badArgument("--port takes a number from 1 to 65535, not \"" + options.port +
                                    '"');
                ok = false;
            }
        } else if (option == "--udp" || option == "--tcp") {
            options.udp = option == "--udp";
            ok = noValue();
        } else if (option == "--release") {
            options.mode = protocol::DelimiterMode::Release;
            ok = noValue();
        } else if (option == "--media") {
            ok = text(fields.media);
        } else if (option == "--id") {
            ok = text(fields.deviceId);
        } else if (option == "--data") {
            ok = text(fields.data);
        } else if (option == "--command") {
            ok = text(fields.command);
        } else if (option == "--message") {
            ok = text(fields.message);
        } else if (option == "--text") {
            ok = text(value);
            options.text = value;
        } else if (option == "--timeout") {
            ok = text(value);
            const std::optional<std::uint32_t> timeout =
                CommandLine::parseNumber(value, 1, SenderOptions::kMaxTimeoutMs);
            if (ok && !timeout) {
                error = badArgument("--timeout takes milliseconds from 1 to " +
                                    std::to_string(SenderOptions::kMaxTimeoutMs) + ", not \"" +
                                    value + '"');
                ok = false;
            } else if (ok) {
                options.timeoutMs = *timeout;
            }
        } else if (TlsOptions::isOption(option)) {
            error = options.tls.take(option, line);
            ok = error.ok();
        } else if (option == "--hex") {
            options.hex = true;
            ok = noValue();
        } else {
            error = badArgument("unknown option \"" + option + '"');
            ok = false;
        }
        if (!ok) {
            return error;
        }
    }
    if (const base::Error tls = options.tls.complete(); !tls.ok()) {
        return tls;
    }
    if (options.tls.on && options.udp) {
        return badArgument("--tls runs over TCP: leave out --udp");
    }
    if (const base::Result<std::string> block = buildBlock(options); !block) {
        return block.error();
    }
    return ParseResult::Run;
}

std::string_view senderUsage()
{
    static const std::string usage = [] {
        std::string text(kUsage);
        text.replace(text.find("@TLS@\n"), 6, TlsOptions::usage());
        return text;
    }();
    return usage;
}

base::Result<std::string> buildBlock(const SenderOptions& options)
{
    if (options.text) {
        // The console sends nothing for an empty text.
        if (options.text->empty() || options.text->size() > protocol::kFreeTextMaxLength) {
            return badArgument("the text must have 1 to " +
                               std::to_string(protocol::kFreeTextMaxLength) + " characters");
        }
        return protocol::wireBlock(*options.text);
    }
    const protocol::FrameFields& fields = options.fields;
    if (const base::Error missing =
            protocol::validateFrameFields(fields.media, fields.deviceId, fields.command);
        !missing.ok()) {
        return badArgument(missing.text());
    }
    // The console's edits hold at most this much; longer texts would make a
    // frame no device reads.
    if (fields.data.size() > protocol::kDataMaxLength) {
        return badArgument("the data may have at most " + std::to_string(protocol::kDataMaxLength) +
                           " characters");
    }
    if (fields.message.size() > protocol::kMessageMaxLength) {
        return badArgument("the message may have at most " +
                           std::to_string(protocol::kMessageMaxLength) + " characters");
    }
    return protocol::wireBlock(protocol::composeFrame(fields, options.mode));
}

std::vector<std::string> fieldWarnings(const SenderOptions& options)
{
    using Delimiters = protocol::DelimiterSet;
    std::vector<std::string> warnings;
    if (options.text) {
        const std::string trouble = troubleIn(*options.text, {});
        if (!trouble.empty()) {
            warnings.push_back("the text holds " + trouble +
                               ": the device may read it as more than one record");
        }
        return warnings;
    }
    // In RELEASE mode the delimiters are control bytes, found as such.
    const std::array<char, 3> demo{static_cast<char>(Delimiters::kStartDisplay),
                                   static_cast<char>(Delimiters::kEqualDisplay),
                                   static_cast<char>(Delimiters::kDashDisplay)};
    const std::string_view delimiters = options.mode == protocol::DelimiterMode::Demo
                                            ? std::string_view(demo.data(), demo.size())
                                            : std::string_view();
    for (const NamedField& named : kFields) {
        const std::string_view sent =
            std::string_view(options.fields.*named.field).substr(0, named.counted);
        const std::string trouble = troubleIn(sent, delimiters);
        if (!trouble.empty()) {
            warnings.push_back("the " + std::string(named.name) + " holds " + trouble +
                               ": the device may reject the frame (it goes out as given)");
        }
    }
    return warnings;
}

} // namespace devicetools

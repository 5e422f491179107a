#pragma once

#include "commandline.h"
#include "tlsoptions.h"

#include "protocol/commandframe.h"
#include "protocol/framedefaults.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace devicetools
{

// What the sender is told on its command line. The frame fields start as the
// console's fields stand when it opens.
struct SenderOptions {
    static constexpr std::uint32_t kDefaultTimeoutMs = 2000;
    static constexpr std::uint32_t kMaxTimeoutMs = 600000;

    std::string host{protocol::kLoopbackAddress};
    std::string port{protocol::kDefaultPortText};
    bool udp = false;
    protocol::DelimiterMode mode = protocol::DelimiterMode::Demo;
    protocol::FrameFields fields = protocol::defaultFrameFields();
    // Free text to send instead of a frame.
    std::optional<std::string> text;
    // The whole run: connect, send and wait for answers.
    std::uint32_t timeoutMs = kDefaultTimeoutMs;
    bool hex = false;
    TlsOptions tls;
};

// Reads the sender's options. The failure (BadArgument) says what is wrong.
[[nodiscard]] base::Result<ParseResult> parseSenderArguments(CommandLine& line,
                                                             SenderOptions& options);

// The --help text.
std::string_view senderUsage();

// The bytes that go on the wire: the frame composed by the protocol layer (or
// the text), then CR LF and NUL. BadArgument with the console's own message
// for missing fields, or a message of ours for texts that are too long.
[[nodiscard]] base::Result<std::string> buildBlock(const SenderOptions& options);

// What a device may read differently from what was meant: a field (as far as
// it goes on the wire) holding a delimiter of the frame's mode, a control byte
// or a line break, or a free text holding a control byte or a line break. One
// text for each such field; the block goes out as given all the same.
std::vector<std::string> fieldWarnings(const SenderOptions& options);

} // namespace devicetools

#pragma once

#include "callerroster.h"
#include "commandline.h"
#include "fleetrunner.h"
#include "listenrunner.h"
#include "tlsoptions.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace devicetools
{

// What devicecheck is told on its command line.
struct CheckOptions {
    static constexpr std::uint32_t kMaxJobs = 10000;
    static constexpr std::uint32_t kMaxRate = 100000;
    static constexpr std::uint32_t kMaxTimeoutMs = 3600000;
    static constexpr std::uint32_t kDefaultRecordLimitMiB = 256;
    static constexpr std::uint32_t kMaxRecordLimitMiB = 1024 * 1024;
    static constexpr std::size_t kMaxTitleLength = 200;
    static constexpr std::uint32_t kMaxExpect = 100000;
    static constexpr std::uint32_t kMaxListenSeconds = 86400;

    std::string checkFile;
    std::vector<std::string> targets;     // target texts, in the order given
    std::vector<std::string> targetFiles; // --targets FILE, in the order given
    FleetSettings fleet;
    // Replaces the check file's answer time-out (expect steps without their own).
    std::optional<std::uint32_t> answerTimeoutMs;
    std::string junitPath, csvPath, htmlPath; // empty: not written
    std::string title;                        // the HTML report's, e.g. site and operator
    std::string recordFolder;                 // empty: no recording
    std::uint32_t recordLimitMiB = kDefaultRecordLimitMiB;
    // --listen: the devices call in (targets only from --targets files).
    std::optional<ListenSettings> listen;
    CallerRoster::Key identifyBy = CallerRoster::Key::Address;
    // TLS: dialling, the client's options; with --listen, --cert/--key are
    // the server's certificate and --ca the authority of the clients'.
    TlsOptions tls;
    bool requireClientCertificate = false; // --listen with TLS
};

// Reads devicecheck's arguments: the check file first, then targets, with
// options anywhere. The failure (BadArgument) says what is wrong.
[[nodiscard]] base::Result<ParseResult> parseCheckArguments(CommandLine& line,
                                                            CheckOptions& options);

// The --help text.
std::string_view checkUsage();

} // namespace devicetools

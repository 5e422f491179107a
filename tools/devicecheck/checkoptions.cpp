#include "checkoptions.h"

namespace devicetools
{

namespace
{

constexpr std::string_view kUsage = R"(Usage: devicecheck CHECKFILE TARGET... [options]
       devicecheck CHECKFILE --listen [ADDR:]PORT [options]

Checks many access-control devices at once: connects to each target, runs the
steps of the check file (send frames, expect answers, wait), and reports which
devices passed and, for each one that did not, the step that failed, why, and
what came instead. On a terminal a live line shows the progress; then one line
per failed device and a summary.

Targets (as many as needed; the port defaults to the check file's):
  HOST               a device: an IPv4 address, an IPv6 address or a host
                     name (of either family; the first address that takes
                     the connection is checked)
  HOST:PORT          a device on another port; an IPv6 address in brackets:
                     [2001:db8::5]:21210
  HOST:P1-P2         every port from P1 to P2 (e.g. 127.0.0.1:21210-21259,
                     [::1]:21210-21219)
  A.B.C.D-E          every address from A.B.C.D to A.B.C.E, also with :PORT
  --targets FILE     devices from a CSV file whose header names its columns:
                     host (required), port, name and fingerprint (the
                     device's pinned TLS certificate), and any others, whose
                     values the check file takes as placeholders such as {id}.
                     {host}, {port} and {name} are there for every device.

TLS (or tls = true in the check file's [defaults]; TCP only):
  --tls              speak TLS with the devices; a device whose certificate
                     is not trusted fails the step "tls" with the reason
                     and its fingerprint
  --ca FILE          also trust the certificate authorities in FILE (PEM);
                     with --listen: the authority of the devices' client
                     certificates
  --pin FINGERPRINT  one device: accept its certificate by this SHA-256
                     fingerprint ("SHA256:AB:CD:..."), and no other (for
                     many, the targets file's fingerprint column)
  --insecure         accept any certificate (a pinned one must still match)
  --cert FILE --key FILE
                     a client certificate (PEM) for devices that require
                     one; with --listen: the certificate shown to devices
                     (without them one is made at start and its
                     fingerprint printed)
  --require-client-cert
                     with --listen and --ca: devices must show a client
                     certificate that the authority vouches for

Devices that call in (instead of targets):
  --listen [ADDR:]PORT
                     listen on PORT (TCP, or UDP when the check file says
                     udp) and check each device that connects or sends a
                     datagram; ADDR an IPv4 address or [IPv6] (e.g.
                     [::]:21210 for every IPv6 one), default every IPv4 one
  --expect N         stop listening once N devices called in, 1 to 100000
  --listen-time S    stop listening after S seconds, 1 to 86400 (default 60);
                     checks under way run to their end
  --identify-by address|id
                     know a device by its address (default; without
                     --targets each connection is a device), or by the
                     2-character device id of the first frame it sends
                     (several devices behind one address)
  --targets FILE     with --listen: the devices expected, a row each, with a
                     host column (by address) or an id column (by id); a
                     device not listed is reported as unknown, not checked
                     and not a failure; a listed one that did not call in
                     fails with "did not call in within 60 s"

Running:
  --jobs N           devices checked at once, 1 to 10000 (default 64)
  --rate N           new connections a second at most, 1 to 100000
                     (default 500)
  --connect-timeout MS
                     time for a connection, 1 to 3600000 ms (default 3000)
  --answer-timeout MS
                     time for an answer where the check file's expect step
                     names none, 1 to 3600000 ms (default: the check file's)
  --device-timeout MS
                     time for one device's whole check, connect included,
                     1 to 3600000 ms (default 30000)

Reports (files are made readable by their owner only):
  --junit FILE       JUnit XML: a testcase per device, a failure with the step
                     and the reason
  --csv FILE         a row per device and step, with the answer time in ms
  --html FILE        one self-contained page: the summary, a histogram of the
                     answer times and a table of every device
  --title TEXT       the HTML report's title, e.g. the site and the operator
                     (at most 200 characters)
  --record DIR       keep each device's traffic in record files, as the
                     console writes them (folder 0700, files 0600)
  --record-limit MB  what the record files may take in all, 1 to 1048576
                     MiB (default 256); the oldest go first

  --help             show this text.

Ctrl+C or SIGTERM stops the run: devices under way are stopped, the rest are
not run, and the summary and the reports are written for what was done.

Examples:
  devicecheck site.check 10.20.0.11 10.20.0.12:4001
  devicecheck site.check 10.20.0.1-254 --jobs 128 --junit check.xml
  devicecheck site.check --targets doors.csv --html report.html --csv times.csv
  devicecheck site.check 127.0.0.1:21210-21259
  devicecheck site.check --tls --targets doors.csv --ca site-ca.pem
  devicecheck site.check --tls --pin SHA256:AB:...:EF [2001:db8::5]:21210
  devicecheck site.check --listen 21210 --expect 20 --identify-by id

Exit status: 0 when every device passed, 1 when any failed or did not run,
2 on a usage error, a bad target, a report file that cannot be written, a
port that cannot be listened on, or a check file with a mistake (shown as
file:line:column: what is wrong; no device is contacted then).
)";

} // namespace

base::Result<ParseResult> parseCheckArguments(CommandLine& line, CheckOptions& options)
{
    std::string value;
    base::Error error;
    // Each takes the current option's value into its target and tells
    // whether it could; `error` says why not.
    const auto number = [&](std::string_view option, std::uint32_t min, std::uint32_t max,
                            std::uint32_t& out) {
        base::Result<std::uint32_t> read = line.numberValue(option, min, max);
        if (!read) {
            error = read.error();
            return false;
        }
        out = *read;
        return true;
    };
    const auto millis = [&](std::string_view option, check::Millis& out) {
        std::uint32_t ms = 0;
        const bool ok = number(option, 1, CheckOptions::kMaxTimeoutMs, ms);
        out = check::Millis(ms);
        return ok;
    };
    const auto path = [&](std::string& out) {
        base::Result<std::string> read = line.value();
        if (!read) {
            error = read.error();
            return false;
        }
        if (read->empty()) {
            error = badArgument("an empty file name");
            return false;
        }
        out = std::move(*read);
        return true;
    };
    bool haveCheckFile = false;
    bool listening = false;
    ListenSettings listen;
    std::string listenOption; // one that only --listen takes
    while (!line.atEnd()) {
        const std::string option(line.nextOption());
        bool ok = true;
        if (option == "--help") {
            return ParseResult::Help;
        } else if (option.rfind("--", 0) != 0) {
            if (!haveCheckFile) {
                options.checkFile = option;
                haveCheckFile = true;
            } else {
                options.targets.push_back(option);
            }
        } else if (option == "--targets") {
            ok = path(value);
            options.targetFiles.push_back(value);
        } else if (option == "--jobs") {
            ok = number(option, 1, CheckOptions::kMaxJobs, options.fleet.jobs);
        } else if (option == "--rate") {
            ok = number(option, 1, CheckOptions::kMaxRate, options.fleet.rate);
        } else if (option == "--connect-timeout") {
            ok = millis(option, options.fleet.limits.connectTimeout);
        } else if (option == "--device-timeout") {
            ok = millis(option, options.fleet.limits.deviceTimeout);
        } else if (option == "--answer-timeout") {
            std::uint32_t ms = 0;
            ok = number(option, 1, CheckOptions::kMaxTimeoutMs, ms);
            options.answerTimeoutMs = ms;
        } else if (option == "--junit") {
            ok = path(options.junitPath);
        } else if (option == "--csv") {
            ok = path(options.csvPath);
        } else if (option == "--html") {
            ok = path(options.htmlPath);
        } else if (option == "--title") {
            base::Result<std::string> title = line.value();
            if (!title) {
                error = title.error();
                ok = false;
            } else if (title->size() > CheckOptions::kMaxTitleLength) {
                error = badArgument("the title is longer than 200 characters");
                ok = false;
            } else {
                options.title = std::move(*title);
            }
        } else if (option == "--listen") {
            base::Result<std::string> text = line.value();
            base::Result<net::Endpoint> local = text ? net::Endpoint::parseListen(*text)
                                                     : base::Result<net::Endpoint>(text.error());
            if (!local) {
                error = local.error();
                ok = false;
            } else {
                listen.local = *local;
                listening = true;
            }
        } else if (option == "--expect") {
            std::uint32_t expect = 0;
            ok = number(option, 1, CheckOptions::kMaxExpect, expect);
            listen.expect = expect;
            listenOption = option;
        } else if (option == "--listen-time") {
            ok = number(option, 1, CheckOptions::kMaxListenSeconds, listen.listenSeconds);
            listenOption = option;
        } else if (option == "--identify-by") {
            base::Result<std::string> key = line.value();
            if (key && (*key == "address" || *key == "id")) {
                options.identifyBy =
                    *key == "id" ? CallerRoster::Key::Id : CallerRoster::Key::Address;
            } else {
                error = key ? badArgument("--identify-by takes address or id") : key.error();
                ok = false;
            }
            listenOption = option;
        } else if (TlsOptions::isOption(option)) {
            error = options.tls.take(option, line);
            ok = error.ok();
        } else if (option == "--require-client-cert") {
            error = line.noValue();
            ok = error.ok();
            options.requireClientCertificate = true;
            listenOption = option;
        } else if (option == "--record") {
            ok = path(options.recordFolder);
        } else if (option == "--record-limit") {
            ok = number(option, 1, CheckOptions::kMaxRecordLimitMiB, options.recordLimitMiB);
        } else {
            error = badArgument("unknown option \"" + option + '"');
            ok = false;
        }
        if (!ok) {
            return error;
        }
    }
    if (!haveCheckFile) {
        return badArgument("no check file given");
    }
    if (listening) {
        if (!options.targets.empty()) {
            return badArgument("--listen takes no targets (the devices expected: --targets FILE)");
        }
        options.listen = listen;
        return ParseResult::Run;
    }
    if (!listenOption.empty()) {
        return badArgument(listenOption + " is for --listen");
    }
    if (options.targets.empty() && options.targetFiles.empty()) {
        return badArgument("no target given (HOST[:PORT], a range, or --targets FILE)");
    }
    return ParseResult::Run;
}

std::string_view checkUsage()
{
    return kUsage;
}

} // namespace devicetools

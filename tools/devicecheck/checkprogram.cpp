#include "checkprogram.h"

#include <functional>

#include "check/csvreport.h"
#include "check/junitreport.h"
#include "check/reportfile.h"
#include "checkoptions.h"
#include "fleetrunner.h"
#include "htmlreport.h"
#include "listenrunner.h"
#include "progressline.h"
#include "reporttext.h"
#include "summarytext.h"
#include "targetlist.h"
#include "traffic/trafficbuffer.h"

#include "check/checkfile.h"
#include "socket/openfilelimit.h"
#include "tls/certificateinfo.h"
#include "tls/selfsigned.h"
#include "traffic/filerecorder.h"
#include "traffic/recordfolder.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

namespace devicetools
{

namespace
{

constexpr std::uint64_t kBytesPerMiB = 1024 * 1024;
// Devices that call in at once that the open-file limit is raised for when
// neither --expect nor a targets file says how many.
constexpr std::uint64_t kDefaultCallers = 1024;

// The reports asked for, each with its writer.
struct ReportTarget {
    const std::string& path;
    std::function<std::string(const check::FleetReport&)> text;
};

// Ctrl+C and SIGTERM as a descriptor the event loop watches: blocked in the
// process (and so in the recorder's thread, made after this), read through a
// signalfd.
class StopSignals
{
public:
    StopSignals()
    {
        sigemptyset(&signals_);
        sigaddset(&signals_, SIGINT);
        sigaddset(&signals_, SIGTERM);
        ::pthread_sigmask(SIG_BLOCK, &signals_, nullptr);
        fd_ = ::signalfd(-1, &signals_, SFD_CLOEXEC | SFD_NONBLOCK);
    }
    ~StopSignals()
    {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;
    int fd() const { return fd_; }

private:
    sigset_t signals_{};
    int fd_ = -1;
};

// The listener's TLS: its context and the fingerprint of the certificate it
// shows.
struct ListenTls {
    std::shared_ptr<tls::TlsContext> context;
    std::string fingerprint;
};

// The server's certificate: the one named, or one made now and kept in
// memory only (its fingerprint printed for the devices to pin).
base::Result<ListenTls> listenTls(const TlsOptions& options, bool requireClientCertificate,
                                  const net::Endpoint& local)
{
    tls::ContextSettings settings;
    settings.role = tls::Role::Server;
    settings.caFile = options.caFile;
    settings.systemTrust = false;
    settings.requireClientCertificate = requireClientCertificate;
    base::Result<tls::Credentials> own =
        options.certificateFile.empty()
            ? tls::makeSelfSigned("devicecheck",
                                  {"localhost", "127.0.0.1", "::1", local.addressText()})
            : tls::Credentials::load(options.certificateFile, options.keyFile);
    if (!own) {
        return own.error();
    }
    settings.own = std::move(*own);
    base::Result<std::shared_ptr<tls::TlsContext>> context = tls::TlsContext::make(settings);
    if (!context) {
        return context.error();
    }
    const base::Result<tls::CertificateInfo> info =
        tls::CertificateInfo::ofPem(settings.own.certificatePem);
    return ListenTls{std::move(*context), info ? info->fingerprint : std::string()};
}

// The TLS options against the check file and each other: the reason they do
// not go together, or none.
std::string tlsMisuse(const CheckOptions& options, const check::CheckFile& file,
                      std::size_t targets)
{
    const TlsOptions& tls = options.tls;
    if (tls.on && file.transport == check::Transport::Udp) {
        return "TLS needs TCP, and the check file says udp (there is no TLS over UDP)";
    }
    if (const base::Error incomplete = tls.complete(); !incomplete.ok()) {
        return incomplete.text();
    }
    if (options.requireClientCertificate && (!tls.on || tls.caFile.empty())) {
        return "--require-client-cert needs TLS and --ca FILE (the clients' authority)";
    }
    if (options.listen && (!tls.pin.empty() || tls.insecure)) {
        return "--pin and --insecure are for devices dialled, not for --listen";
    }
    if (!tls.pin.empty() && targets != 1) {
        return "--pin is for a single device (a targets file takes a fingerprint column)";
    }
    return {};
}

} // namespace

int CheckProgram::run(int argc, const char* const* argv, std::ostream& out, std::ostream& err)
{
    CheckOptions options;
    CommandLine line(argc, argv);
    const auto usage = [&](const std::string& what) {
        err << "devicecheck: " << readableText(what) << "\nTry devicecheck --help.\n";
        return kUsageError;
    };
    const auto failure = [&](const std::string& what) {
        err << "devicecheck: " << readableText(what) << '\n';
        return kUsageError;
    };
    const base::Result<ParseResult> parsed = parseCheckArguments(line, options);
    if (!parsed) {
        return usage(parsed.error().text());
    }
    if (*parsed == ParseResult::Help) {
        out << checkUsage();
        return kAllPassed;
    }

    base::Result<check::CheckFile> loaded = check::loadCheckFile(options.checkFile);
    if (!loaded) {
        err << readableText(loaded.error().text()) << '\n';
        return kUsageError;
    }
    check::FleetReport report;
    report.checkFile = options.checkFile;
    report.file = std::move(*loaded);
    if (options.answerTimeoutMs) {
        report.file.answerTimeout = check::Millis(*options.answerTimeoutMs);
    }

    TargetList targets(report.file.port);
    targets.keepOnly(check::usedPlaceholders(report.file));
    if (options.listen && options.identifyBy == CallerRoster::Key::Id) {
        targets.setKey(TargetList::Key::Id);
    }
    for (const std::string& target : options.targets) {
        if (const base::Error added = targets.add(target); !added.ok()) {
            return usage(added.text());
        }
    }
    for (const std::string& file : options.targetFiles) {
        if (const base::Error loaded = targets.loadCsv(file); !loaded.ok()) {
            return failure(loaded.text());
        }
    }
    if (targets.targets().empty() && (!options.listen || !options.targetFiles.empty())) {
        return failure("the targets files name no device");
    }
    options.tls.on = options.tls.on || report.file.tls;
    if (const std::string misuse = tlsMisuse(options, report.file, targets.targets().size());
        !misuse.empty()) {
        return usage(misuse);
    }
    std::string listenFingerprint;
    if (options.tls.on && options.listen) {
        base::Result<ListenTls> made =
            listenTls(options.tls, options.requireClientCertificate, options.listen->local);
        if (!made) {
            return failure(made.error().text());
        }
        options.listen->tls = std::move(made->context);
        listenFingerprint = std::move(made->fingerprint);
    } else if (options.tls.on) {
        base::Result<std::shared_ptr<tls::TlsContext>> context = options.tls.clientContext();
        if (!context) {
            return failure(context.error().text());
        }
        options.fleet.tls =
            std::make_shared<const DialTls>(DialTls{std::move(*context), options.tls});
    }
    const int socketType =
        report.file.transport == check::Transport::Udp ? SOCK_DGRAM : SOCK_STREAM;

    // The report paths and the record folder are checked before any device
    // is contacted, so that one that cannot be written stops the run before
    // it starts.
    const ReportTarget reports[] = {
        {options.junitPath, &check::JunitReport::text},
        {options.csvPath, &check::CsvReport::text},
        {options.htmlPath, [&options](const check::FleetReport& report) {
             return HtmlReport::text(report, options.title);
         }}};
    if (const base::Error refused =
            check::ReportFile::checkAll({options.junitPath, options.csvPath, options.htmlPath});
        !refused.ok()) {
        return failure(refused.text());
    }
    const std::uint64_t recordLimit = std::uint64_t{options.recordLimitMiB} * kBytesPerMiB;
    if (!options.recordFolder.empty()) {
        traffic::RecordFolder folder(options.recordFolder, recordLimit);
        if (const base::Error refused = folder.prepare(); !refused.ok()) {
            return failure(refused.text());
        }
    }

    // Devices that call in may wait accepted, each holding a descriptor.
    const std::uint64_t callers = !options.listen              ? 0
                                  : options.listen->expect     ? *options.listen->expect
                                  : !targets.targets().empty() ? targets.targets().size()
                                                               : kDefaultCallers;
    const std::uint64_t needed = std::max<std::uint64_t>(options.fleet.jobs, callers) + kSpareFiles;
    const net::OpenFileLimit limit = net::raiseOpenFileLimit(needed);
    if (limit.soft < needed) {
        const std::uint64_t jobs = limit.soft > 2 * kSpareFiles ? limit.soft - kSpareFiles : 1;
        if (jobs < options.fleet.jobs) {
            err << "devicecheck: warning: only " << limit.soft
                << " files may be open at once (hard limit " << limit.hard << ", see ulimit -n): "
                << "checking " << jobs << " devices at a time instead of " << options.fleet.jobs
                << '\n';
            options.fleet.jobs = static_cast<std::uint32_t>(jobs);
        }
    }

    std::optional<CallerRoster> roster;
    std::unique_ptr<ListenRunner> listener;
    if (options.listen) {
        if (options.identifyBy == CallerRoster::Key::Address) {
            targets.resolve(socketType);
        }
        std::optional<std::vector<check::Target>> listed;
        if (!options.targetFiles.empty()) {
            listed = targets.take();
        }
        base::Result<CallerRoster> made = CallerRoster::make(options.identifyBy, std::move(listed));
        if (!made) {
            return failure(made.error().text());
        }
        roster.emplace(std::move(*made));
        listener = std::make_unique<ListenRunner>(report.file, options.fleet, *options.listen);
        if (const base::Error refused = listener->open(); !refused.ok()) {
            return failure("cannot listen on " + refused.text());
        }
    } else {
        targets.resolve(socketType);
    }

    ::signal(SIGPIPE, SIG_IGN);
    StopSignals stop;
    if (listener) {
        // Only now: a Ctrl+C from here on ends the run with its reports.
        out << "listening on " << listener->local().text()
            << (report.file.transport == check::Transport::Udp ? " (UDP)"
                : listenFingerprint.empty()                    ? " (TCP)"
                                                               : " (TCP, TLS)")
            << " for " << options.listen->listenSeconds << " s";
        if (!listenFingerprint.empty()) {
            out << ", certificate " << listenFingerprint;
        }
        out << std::endl;
    }
    std::unique_ptr<traffic::FileRecorder> recorder;
    if (!options.recordFolder.empty()) {
        recorder = std::make_unique<traffic::FileRecorder>(
            traffic::FileRecorder::Options{options.recordFolder, recordLimit});
    }

    ProgressLine progress(out, ::isatty(STDOUT_FILENO) == 1);
    const auto onProgress = [&progress](const FleetProgress& now) { progress.update(now); };
    base::Error ran;
    std::size_t cut = 0;
    std::string nobody;
    std::string callsAgain;
    if (listener) {
        listener->setRecorder(recorder.get());
        listener->setProgressHook(onProgress);
        ran = listener->run(*roster, stop.fd(), report);
        cut = listener->counts().recordsCut;
        if (const std::size_t again = listener->counts().callsAgain; again > 0) {
            callsAgain = "closed " + std::to_string(again) +
                         (again == 1 ? " call again from a device" : " calls again from devices") +
                         " already called in\n";
        }
        if (roster->calledCount() == 0 && report.devices.empty()) {
            // Nothing checked is no pass, also when Ctrl+C ended the wait.
            nobody = report.stopped ? std::string("no device called in\n")
                                    : "no device called in within " +
                                          std::to_string(options.listen->listenSeconds) + " s\n";
        }
    } else {
        FleetRunner runner(report.file, options.fleet);
        runner.setRecorder(recorder.get());
        runner.setProgressHook(onProgress);
        ran = runner.run(targets.take(), stop.fd(), report);
        cut = runner.counts().recordsCut;
    }
    progress.clear();
    out << SummaryText::text(report);
    if (cut > 0) {
        out << SummaryText::recordsCutLine(cut, traffic::TrafficBuffer::kMaxBytes) << '\n';
    }
    out << std::flush;
    out << callsAgain << nobody << std::flush;
    int status = report.allPassed() && nobody.empty() ? kAllPassed : kSomeFailed;
    if (!ran.ok()) {
        err << "devicecheck: " << readableText(ran.text()) << '\n';
        status = kSomeFailed;
    }

    for (const ReportTarget& target : reports) {
        if (target.path.empty()) {
            continue;
        }
        if (const base::Error written = check::ReportFile::write(target.path, target.text(report));
            !written.ok()) {
            err << "devicecheck: " << readableText(written.text()) << '\n';
            status = kUsageError;
        }
    }
    if (recorder) {
        const traffic::FileRecorder::Status recorded = recorder->status();
        if (!recorded.error.ok()) {
            err << "devicecheck: " << readableText(recorded.stoppedText()) << '\n';
        }
        // Writes what is still queued before the program ends.
        recorder.reset();
    }
    return status;
}

} // namespace devicetools

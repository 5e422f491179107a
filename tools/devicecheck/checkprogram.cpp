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
#include "traffic/filerecorder.h"
#include "traffic/recordfolder.h"

#include <signal.h>
#include <sys/signalfd.h>
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
            targets.resolve();
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
        targets.resolve();
    }

    ::signal(SIGPIPE, SIG_IGN);
    StopSignals stop;
    if (listener) {
        // Only now: a Ctrl+C from here on ends the run with its reports.
        out << "listening on " << listener->local().text()
            << (report.file.transport == check::Transport::Udp ? " (UDP)" : " (TCP)") << " for "
            << options.listen->listenSeconds << " s" << std::endl;
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

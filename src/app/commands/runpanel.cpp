#include "runpanel.h"

#include "runreportfile.h"

#include "check/checkrun.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace app
{

RunPanel::RunPanel(ConsoleLink& console, QWidget* parent) : QWidget(parent), console_(console)
{
    results_ = new QListWidget(this);
    status_ = new QLabel(this);
    status_->setWordWrap(true);
    auto* buttons = new QHBoxLayout;
    const auto button = [this, buttons](const QString& text, auto slot) {
        auto* b = new QPushButton(text, this);
        connect(b, &QPushButton::clicked, this, slot);
        buttons->addWidget(b);
        return b;
    };
    runButton_ = button(tr("Run"), [this] { emit runRequested(); });
    stopButton_ = button(tr("Stop run"), [this] { stop(); });
    reportButton_ = button(tr("Save report…"), [this] { chooseReportFile(); });
    connect(this, &RunPanel::runningChanged, this, &RunPanel::updateButtons);
    updateButtons();
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(buttons);
    layout->addWidget(status_);
    layout->addWidget(results_);
    deadline_.setSingleShot(true);
    deadline_.setTimerType(Qt::PreciseTimer);
    connect(&deadline_, &QTimer::timeout, this, [this] {
        if (run_) {
            run_->advance(check::Clock::now());
            pump();
        }
    });
}

RunPanel::~RunPanel() = default;

bool RunPanel::running() const
{
    return run_ && !run_->finished();
}

bool RunPanel::start(const check::CheckFile& file, std::string fileName, check::Target device)
{
    abort("stopped by a new run");
    results_->clear();
    passed_ = failed_ = 0;
    if (file.steps.empty()) {
        run_.reset();
        status_->setText(tr("Nothing to run: the list has no steps"));
        return false;
    }
    check::CheckFile own = file;
    // The device speaks the console's mode, whatever the file says.
    own.mode = console_.delimiterMode();
    run_ = std::make_unique<check::CheckRun>(own, device.values);
    report_ = check::FleetReport{};
    report_.checkFile = std::move(fileName);
    report_.file = std::move(own);
    report_.startedAt = std::chrono::system_clock::now();
    report_.devices.push_back(check::DeviceResult{});
    report_.devices.back().target = std::move(device);
    stopped_ = false;
    started_ = check::Clock::now();
    run_->start(started_);
    emit runningChanged(true);
    pump();
    return true;
}

void RunPanel::received(std::string_view bytes, check::Chunk chunk)
{
    if (!running() || (bytes.empty() && chunk == check::Chunk::Stream))
        return;
    run_->received(bytes, chunk, check::Clock::now());
    pump();
}

void RunPanel::stop()
{
    stopped_ = running();
    abort("stopped by the operator");
}

void RunPanel::abort(std::string_view reason)
{
    if (!running())
        return;
    run_->abort(reason, check::Clock::now());
    pump();
}

void RunPanel::pump()
{
    const std::string note = "run of " + report_.checkFile;
    for (const check::CheckRun::Send& send : run_->takeSendsWithKind()) {
        const base::Result<net::SendQueue::Counts> sent =
            console_.send(send.block, send.frame, note);
        if (!sent) {
            run_->abort("not sent: " + sent.error().text(), check::Clock::now());
            break;
        }
    }
    check::DeviceResult& device = report_.devices.back();
    for (check::StepResult& result : run_->takeResults()) {
        show(result);
        device.addStep(std::move(result));
    }
    deadline_.stop();
    if (const auto next = run_->nextDeadline()) {
        const auto wait = std::chrono::ceil<check::Millis>(*next - check::Clock::now());
        deadline_.start(static_cast<int>(std::max<long long>(0, wait.count())));
    }
    const QString counts = tr("%1 passed, %2 failed").arg(passed_).arg(failed_);
    if (!run_->finished()) {
        status_->setText(tr("Running: ") + counts);
        return;
    }
    status_->setText((run_->passed() ? tr("Passed: ") : tr("Failed: ")) + counts);
    // As devicecheck has it: the operator's stop is "stopped", not a failure
    // of the device.
    device.outcome = run_->passed() ? check::DeviceOutcome::Passed
                     : stopped_     ? check::DeviceOutcome::Stopped
                                    : check::DeviceOutcome::Failed;
    device.duration = report_.elapsed =
        std::chrono::floor<check::Millis>(check::Clock::now() - started_);
    emit runningChanged(false);
}

void RunPanel::show(const check::StepResult& result)
{
    const bool passed = result.outcome == check::StepOutcome::Passed;
    (passed ? passed_ : failed_)++;
    std::string line = result.stepName + ": " + (passed ? "passed" : "FAILED");
    if (result.answerTime.count() > 0)
        line += " in " + std::to_string(result.answerTime.count()) + " ms";
    // What came shows beside the reason: within its brackets where it is why
    // the step failed.
    const bool gotIsWhy = result.failure == check::StepFailure::NoMatchingAnswer;
    if (!result.reason.empty())
        line += " (" + result.reason + (gotIsWhy ? "; got: " + result.got : "") + ")";
    if (!result.got.empty() && !gotIsWhy)
        line += "; got: " + result.got;
    results_->addItem(QString::fromStdString(line));
    results_->scrollToBottom();
}

std::optional<check::FleetReport> RunPanel::report() const
{
    if (!run_)
        return std::nullopt;
    check::FleetReport report = report_;
    if (running()) {
        check::DeviceResult& device = report.devices.back();
        device.outcome = check::DeviceOutcome::Stopped;
        if (device.failedStep.empty()) {
            device.failedStep = "running";
            device.reason = "the run had not ended when the report was saved";
        }
        device.duration = report.elapsed =
            std::chrono::floor<check::Millis>(check::Clock::now() - started_);
    }
    return report;
}

bool RunPanel::saveReport(const std::string& path, const QString& filter)
{
    const std::optional<check::FleetReport> now = report();
    if (!now) {
        status_->setText(tr("No report to save: nothing has run yet"));
        return false;
    }
    const RunReportFile::Kind kind = RunReportFile::kindFor(path, filter);
    const std::string file = RunReportFile::withExtension(path, kind);
    const base::Error error = RunReportFile::write(*now, file, kind);
    status_->setText(QString::fromStdString(error.ok() ? "Report saved as " + file
                                                       : "Report not saved: " + error.text()));
    return error.ok();
}

void RunPanel::chooseReportFile()
{
    QString filter = RunReportFile::filters().front();
    const QString path =
        QFileDialog::getSaveFileName(this, tr("Save report"), QString(),
                                     RunReportFile::filters().join(QStringLiteral(";;")), &filter);
    if (!path.isEmpty())
        saveReport(path.toStdString(), filter);
}

void RunPanel::clear()
{
    abort("stopped: another list is shown");
    run_.reset();
    report_ = check::FleetReport{};
    results_->clear();
    status_->clear();
    passed_ = failed_ = 0;
    updateButtons();
}

void RunPanel::setCanStart(bool can)
{
    canStart_ = can;
    updateButtons();
}

void RunPanel::updateButtons()
{
    runButton_->setEnabled(canStart_ && !running());
    stopButton_->setEnabled(running());
    reportButton_->setEnabled(run_ != nullptr);
}

QString RunPanel::statusText() const
{
    return status_->text();
}

} // namespace app

#include "runpanel.h"

#include "check/checkrun.h"
#include "protocol/delimiterset.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace app
{

RunPanel::RunPanel(SendBlock send, QWidget* parent) : QWidget(parent), send_(std::move(send))
{
    results_ = new QListWidget(this);
    status_ = new QLabel(this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(status_);
    layout->addWidget(results_);
    deadline_.setSingleShot(true);
    deadline_.setTimerType(Qt::PreciseTimer);
    connect(&deadline_, &QTimer::timeout, this, [this] {
        if (run_) {
            run_->advance(check::Millis{clock_.elapsed()});
            pump();
        }
    });
}

RunPanel::~RunPanel() = default;

bool RunPanel::running() const
{
    return run_ && !run_->finished();
}

bool RunPanel::start(const check::CheckFile& file)
{
    abort("stopped by a new run");
    results_->clear();
    passed_ = failed_ = 0;
    if (file.steps.empty()) {
        status_->setText(tr("Nothing to run: the list has no steps"));
        return false;
    }
    check::CheckFile own = file;
    // The device speaks the console's mode, whatever the file says.
    own.mode = protocol::DelimiterSet::instance().mode();
    run_ = std::make_unique<check::CheckRun>(own, check::DeviceValues{});
    clock_.start();
    run_->start(check::Millis{0});
    emit runningChanged(true);
    pump();
    return true;
}

void RunPanel::received(std::string_view bytes)
{
    if (!running() || bytes.empty())
        return;
    run_->received(bytes, check::Millis{clock_.elapsed()});
    pump();
}

void RunPanel::abort(std::string_view reason)
{
    if (!running())
        return;
    run_->abort(reason, check::Millis{clock_.elapsed()});
    pump();
}

void RunPanel::pump()
{
    for (const check::CheckRun::Send& send : run_->takeSendsWithKind()) {
        const std::string error = send_(send.block, send.frame);
        if (!error.empty()) {
            run_->abort("not sent: " + error, check::Millis{clock_.elapsed()});
            break;
        }
    }
    for (const check::StepResult& result : run_->takeResults())
        show(result);
    deadline_.stop();
    if (const auto next = run_->nextDeadline()) {
        const auto wait = std::max<long long>(0, next->count() - clock_.elapsed());
        deadline_.start(static_cast<int>(wait));
    }
    const QString counts = tr("%1 passed, %2 failed").arg(passed_).arg(failed_);
    if (!run_->finished()) {
        status_->setText(tr("Running: ") + counts);
        return;
    }
    status_->setText((run_->passed() ? tr("Passed: ") : tr("Failed: ")) + counts);
    emit runningChanged(false);
}

void RunPanel::show(const check::StepResult& result)
{
    const bool passed = result.outcome == check::StepOutcome::Passed;
    (passed ? passed_ : failed_)++;
    std::string line = result.stepName + ": " + (passed ? "passed" : "FAILED");
    if (result.answerTime.count() > 0)
        line += " in " + std::to_string(result.answerTime.count()) + " ms";
    if (!result.reason.empty())
        line += " (" + result.reason + ")";
    if (!result.got.empty() && result.reason.find("got:") == std::string::npos)
        line += "; got: " + result.got;
    results_->addItem(QString::fromStdString(line));
    results_->scrollToBottom();
}

QString RunPanel::statusText() const
{
    return status_->text();
}

} // namespace app

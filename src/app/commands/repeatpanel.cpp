#include "repeatpanel.h"

#include "check/checkfile.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace app
{

RepeatPanel::RepeatPanel(Counts counts, QWidget* parent)
    : QWidget(parent), counts_(std::move(counts)), repeat_(this)
{
    interval_ = new QSpinBox(this);
    interval_->setRange(1, static_cast<int>(check::CheckFileLimits::kMaxTime.count()));
    interval_->setValue(1000);
    interval_->setSuffix(tr(" ms"));
    count_ = new QSpinBox(this);
    count_->setRange(0, static_cast<int>(check::CheckFileLimits::kMaxRepeat));
    count_->setValue(10);
    count_->setSpecialValueText(tr("until stopped"));
    auto* start = start_ = new QPushButton(tr("Repeat"), this);
    auto* stop = stop_ = new QPushButton(tr("Stop"), this);
    status_ = new QLabel(this);

    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(tr("Repeat every"), this));
    row->addWidget(interval_);
    row->addWidget(new QLabel(tr("times"), this));
    row->addWidget(count_);
    row->addWidget(start);
    row->addWidget(stop);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(row);
    layout->addWidget(status_);

    connect(start, &QPushButton::clicked, this, [this] {
        emit repeatRequested(interval_->value(), static_cast<std::uint64_t>(count_->value()));
    });
    connect(stop, &QPushButton::clicked, this, [this] { repeat_.stop(); });
    connect(&repeat_, &CommandRepeat::progressed, this, &RepeatPanel::showProgress);
    connect(&repeat_, &CommandRepeat::runningChanged, this, [this] { setCanStart(canStart_); });
    setCanStart(false);
    settle_.setInterval(kSettleIntervalMs);
    connect(&settle_, &QTimer::timeout, this, &RepeatPanel::showProgress);
}

void RepeatPanel::start(CommandRepeat::SendOnce send, int intervalMs, std::uint64_t count)
{
    countsAtStart_ = counts_ ? counts_() : net::SendQueue::Counts{};
    repeat_.start(std::move(send), intervalMs, count);
    showProgress();
}

void RepeatPanel::showProgress()
{
    const net::SendQueue::Counts counts = counts_ ? counts_() : net::SendQueue::Counts{};
    std::string text = repeat_.progressText();
    text += "; not sent: " + std::to_string(counts.dropped - countsAtStart_.dropped) +
            ", waiting: " + std::to_string(counts.waitingMessages);
    status_->setText(QString::fromStdString(text));
    if (!repeat_.running() && counts.waitingMessages > 0)
        settle_.start();
    else
        settle_.stop();
}

void RepeatPanel::setCanStart(bool can)
{
    canStart_ = can;
    start_->setEnabled(can && !repeat_.running());
    stop_->setEnabled(repeat_.running());
}

QString RepeatPanel::text() const
{
    return status_->text();
}

} // namespace app

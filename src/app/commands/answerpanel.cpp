#include "answerpanel.h"

#include "commandsettings.h"

#include "protocol/delimiterset.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSpinBox>
#include <QVBoxLayout>

namespace app
{

namespace
{

const QString kPerSecondKey = QStringLiteral("Commands/AnswersPerSecond");

} // namespace

AnswerPanel::AnswerPanel(SendAnswer send, QWidget* parent) : QWidget(parent), send_(std::move(send))
{
    switch_ = new QCheckBox(tr("Automatic answers"), this);
    perSecond_ = new QSpinBox(this);
    perSecond_->setRange(1, 100000);
    perSecond_->setValue(
        commandSettings().value(kPerSecondKey, check::AnswerEngine::kDefaultMaxPerSecond).toInt());
    perSecond_->setSuffix(tr(" a second at most"));
    status_ = new QLabel(this);
    status_->setWordWrap(true);
    status_->hide();
    auto* row = new QHBoxLayout;
    row->addWidget(switch_);
    row->addWidget(perSecond_);
    row->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(row);
    layout->addWidget(status_);

    connect(switch_, &QCheckBox::toggled, this, &AnswerPanel::setOn);
    connect(perSecond_, &QSpinBox::valueChanged, this, [this](int value) {
        commandSettings().setValue(kPerSecondKey, value);
        if (engine_)
            engine_->setMaxPerSecond(static_cast<std::uint32_t>(value));
    });
}

AnswerPanel::~AnswerPanel() = default;

void AnswerPanel::setRules(std::vector<check::AnswerRule> rules)
{
    rules_ = std::move(rules);
    if (engine_)
        startEngine();
}

void AnswerPanel::setMaxPerSecond(int perSecond)
{
    perSecond_->setValue(perSecond);
}

bool AnswerPanel::isOn() const
{
    return engine_ != nullptr;
}

void AnswerPanel::setOn(bool on)
{
    if (on == isOn())
        return;
    switch_->setChecked(on);
    if (on)
        startEngine();
    else
        engine_.reset();
    status_->setVisible(on);
    showStatus();
    emit switched(on);
}

void AnswerPanel::startEngine()
{
    engine_ =
        std::make_unique<check::AnswerEngine>(rules_, protocol::DelimiterSet::instance().mode(),
                                              static_cast<std::uint32_t>(perSecond_->value()));
}

void AnswerPanel::received(const ReceivedTap::Received& received, bool datagrams)
{
    if (!engine_ || received.bytes.empty())
        return;
    engine_->setMode(protocol::DelimiterSet::instance().mode());
    const std::string_view bytes(received.bytes);
    std::size_t from = 0;
    for (const ReceivedTap::Received::Read& read : received.reads) {
        engine_->received(bytes.substr(from, read.end - from),
                          datagrams ? check::Chunk::Datagram : check::Chunk::Stream, read.at);
        from = read.end;
    }
    for (const check::Answer& answer : engine_->takeAnswers())
        send_(answer);
    showStatus();
}

void AnswerPanel::showStatus()
{
    if (!engine_) {
        status_->clear();
        return;
    }
    QString text = tr("On (%1 rules): answered %2, over the bound %3, not sendable %4")
                       .arg(rules_.size())
                       .arg(engine_->answered())
                       .arg(engine_->overLimit())
                       .arg(engine_->unsendable());
    if (!engine_->lastProblem().empty())
        text += QStringLiteral(" (") + QString::fromStdString(engine_->lastProblem()) + ')';
    status_->setText(text);
}

QString AnswerPanel::statusText() const
{
    return status_->text();
}

} // namespace app

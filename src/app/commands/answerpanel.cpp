#include "answerpanel.h"

#include "commandsettings.h"

#include "ruletext.h"

#include "protocol/commandframe.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace app
{

namespace
{

const QString kPerSecondKey = QStringLiteral("Commands/AnswersPerSecond");

} // namespace

AnswerPanel::AnswerPanel(ConsoleLink& console, QWidget* parent)
    : QWidget(parent), console_(console), editText_([this](const QString& text) {
          bool ok = false;
          const QString edited = QInputDialog::getMultiLineText(
              this, tr("Answer rule"), tr("The rule as a check file writes it:"), text, &ok);
          return ok ? std::optional<QString>(edited) : std::nullopt;
      })
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
    ruleList_ = new QListWidget(this);
    ruleList_->setMaximumHeight(ruleList_->fontMetrics().height() * 4);
    ruleList_->setMinimumHeight(ruleList_->fontMetrics().height() * 2);
    layout->addWidget(ruleList_);
    ruleProblem_ = new QLabel(this);
    ruleProblem_->setWordWrap(true);
    ruleProblem_->hide();
    auto* ruleButtons = new QHBoxLayout;
    const auto button = [this, ruleButtons](const QString& text, auto slot) {
        auto* b = new QPushButton(text, this);
        connect(b, &QPushButton::clicked, this, slot);
        ruleButtons->addWidget(b);
        return b;
    };
    button(tr("Add rule…"), [this] { editRule(-1); });
    QPushButton* edit = button(tr("Edit rule…"), [this] { editRule(ruleList_->currentRow()); });
    QPushButton* remove =
        button(tr("Delete rule"), [this] { deleteRule(ruleList_->currentRow()); });
    ruleButtons->addStretch();
    layout->addLayout(ruleButtons);
    layout->addWidget(ruleProblem_);
    const auto chosen = [this, edit, remove] {
        const bool any = ruleList_->currentRow() >= 0;
        edit->setEnabled(any);
        remove->setEnabled(any);
    };
    connect(ruleList_, &QListWidget::currentRowChanged, this, chosen);
    chosen();

    connect(switch_, &QCheckBox::toggled, this, &AnswerPanel::setOn);
    connect(perSecond_, &QSpinBox::valueChanged, this, [this](int value) {
        commandSettings().setValue(kPerSecondKey, value);
        if (engine_) {
            engine_->setMaxPerSecond(static_cast<std::uint32_t>(value));
            console_.answersChanged(true, rules_, static_cast<std::uint32_t>(value));
        }
    });
}

AnswerPanel::~AnswerPanel() = default;

void AnswerPanel::setRules(std::vector<check::AnswerRule> rules)
{
    rules_ = std::move(rules);
    if (engine_)
        startEngine();
    showRules(0);
    showStatus();
}

void AnswerPanel::showRules(int selectRow)
{
    ruleList_->clear();
    for (std::size_t i = 0; i < rules_.size(); ++i)
        ruleList_->addItem(QString::fromStdString(RuleText::summary(rules_[i], i)));
    if (selectRow >= 0 && selectRow < ruleList_->count())
        ruleList_->setCurrentRow(selectRow);
    ruleProblem_->hide();
}

bool AnswerPanel::editRule(int row)
{
    const bool adding = row < 0 || static_cast<std::size_t>(row) >= rules_.size();
    if (adding && rules_.size() >= check::CheckFileLimits::kMaxAnswers)
        return false;
    QString text = QString::fromStdString(
        adding ? std::string("name = \"new rule\"\nwhen = { command = \"ENT\" }\n"
                             "send = { media = \"{media}\", id = \"{id}\", command = \"ACK\" }\n")
               : RuleText::text(rules_[static_cast<std::size_t>(row)]));
    for (;;) {
        const std::optional<QString> edited = editText_(text);
        if (!edited)
            return false;
        base::Result<check::AnswerRule> rule = RuleText::parse(edited->toStdString());
        if (!rule) {
            ruleProblem_->setText(QString::fromStdString(rule.error().text()));
            ruleProblem_->show();
            text = *edited;
            continue;
        }
        if (adding)
            rules_.push_back(std::move(*rule));
        else
            rules_[static_cast<std::size_t>(row)] = std::move(*rule);
        break;
    }
    if (engine_)
        startEngine();
    showRules(adding ? static_cast<int>(rules_.size()) - 1 : row);
    showStatus();
    emit rulesChanged();
    return true;
}

bool AnswerPanel::deleteRule(int row)
{
    if (row < 0 || static_cast<std::size_t>(row) >= rules_.size())
        return false;
    rules_.erase(rules_.begin() + row);
    if (engine_)
        startEngine();
    showRules(std::min(row, static_cast<int>(rules_.size()) - 1));
    showStatus();
    emit rulesChanged();
    return true;
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
    if (on) {
        startEngine();
    } else {
        engine_.reset();
        console_.answersChanged(false, {}, static_cast<std::uint32_t>(perSecond_->value()));
    }
    status_->setVisible(on);
    showStatus();
    emit switched(on);
}

void AnswerPanel::startEngine()
{
    engine_ = std::make_unique<check::AnswerEngine>(
        rules_, console_.delimiterMode(), static_cast<std::uint32_t>(perSecond_->value()));
    console_.answersChanged(true, rules_, static_cast<std::uint32_t>(perSecond_->value()));
}

void AnswerPanel::received(const ReceivedTap::Received& received, bool datagrams)
{
    if (!engine_ || received.bytes.empty())
        return;
    engine_->setMode(console_.delimiterMode());
    const std::string_view bytes(received.bytes);
    std::size_t from = 0;
    for (const ReceivedTap::Received::Read& read : received.reads) {
        engine_->received(bytes.substr(from, read.end - from),
                          datagrams ? check::Chunk::Datagram : check::Chunk::Stream, read.at);
        from = read.end;
    }
    for (const check::Answer& answer : engine_->takeAnswers())
        send(answer);
    showStatus();
}

void AnswerPanel::send(const check::Answer& answer)
{
    const std::string block = protocol::wireBlock(
        answer.isFrame ? protocol::composeFrame(answer.fields, console_.delimiterMode())
                       : answer.text);
    // Not connected (it ended while the bytes waited): nothing to answer to.
    static_cast<void>(
        console_.send(block, answer.isFrame, "automatic answer \"" + answer.rule + "\""));
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

#include "commandswindow.h"

#include "answerpanel.h"
#include "besideplace.h"
#include "commandeditdialog.h"
#include "commandrows.h"
#include "commandsender.h"
#include "commandsettings.h"
#include "receivedintake.h"
#include "repeatpanel.h"
#include "runpanel.h"

#include "app/settings/qtsettingsstore.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <string_view>

namespace app
{

namespace
{

const QString kGeometryKey = QStringLiteral("Commands/Geometry");

} // namespace

CommandsWindow::CommandsWindow(ConsoleLink& console, QWidget* parent, std::string path)
    : QWidget(parent, Qt::Window), console_(console), document_(std::move(path)),
      sender_(console, [this](const std::string& name) -> std::optional<std::string> {
          bool ok = false;
          const QString value = QInputDialog::getText(
              this, tr("Value for {%1}").arg(QString::fromStdString(name)),
              tr("{%1} has no value. Value:").arg(QString::fromStdString(name)), QLineEdit::Normal,
              QString(), &ok);
          if (!ok)
              return std::nullopt;
          return value.toStdString();
      })
{
    buildControls();
    showList(document_.showSaved());
    // Ctrl+K reaches the console's shortcut from every control here too.
    for (QWidget* widget : findChildren<QWidget*>()) {
        if (widget->focusPolicy() != Qt::NoFocus)
            widget->installEventFilter(this);
    }
}

CommandsWindow::~CommandsWindow()
{
    if (placed_)
        rememberGeometry();
}

std::string CommandsWindow::defaultPath()
{
    return (QtSettingsStore::dataFolder() + QStringLiteral("/commands.toml")).toStdString();
}

void CommandsWindow::buildControls()
{
    rows_ = new CommandRows(this);
    connect(rows_, &CommandRows::sendRequested, this, &CommandsWindow::sendCommand);
    connect(rows_, &CommandRows::dropped, this, &CommandsWindow::syncOrder);
    connect(rows_, &QListWidget::currentRowChanged, this, &CommandsWindow::updateButtons);

    const auto button = [this](const QString& text, auto slot) {
        auto* b = new QPushButton(text, this);
        connect(b, &QPushButton::clicked, this, slot);
        return b;
    };
    auto* edits = new QHBoxLayout;
    edits->addWidget(button(tr("Add from console"), [this] { addFromConsole(); }));
    edits->addWidget(button(tr("Edit…"), [this] {
        if (!editCommand(selectedRow()) &&
            !document_.list().sendAt(static_cast<std::size_t>(selectedRow())))
            showStatus("Only send steps are edited here; expect and wait steps are edited in "
                       "the check file itself");
    }));
    edits->addWidget(button(tr("Rename…"), [this] {
        const int row = selectedRow();
        if (row < 0)
            return;
        bool ok = false;
        const QString name = QInputDialog::getText(
            this, tr("Rename"), tr("Name"), QLineEdit::Normal,
            QString::fromStdString(document_.list().at(static_cast<std::size_t>(row)).name), &ok);
        if (ok)
            renameCommand(row, name.toStdString());
    }));
    edits->addWidget(button(tr("Delete"), [this] { deleteCommand(selectedRow()); }));
    auto* files = new QHBoxLayout;
    files->addWidget(button(tr("Send"), [this] { sendCommand(selectedRow()); }));
    files->addStretch();
    savedCommands_ = button(tr("Saved commands"), [this] { showSavedCommands(); });
    files->addWidget(savedCommands_);
    files->addWidget(button(tr("Open…"), [this] {
        const QString file = QFileDialog::getOpenFileName(this, tr("Open check file"));
        if (!file.isEmpty())
            openFile(file.toStdString());
    }));
    files->addWidget(button(tr("Save as…"), [this] {
        const QString file = QFileDialog::getSaveFileName(this, tr("Save check file"));
        if (!file.isEmpty())
            saveAs(file.toStdString());
    }));

    repeats_ = new RepeatPanel([this] { return console_.sendCounts(); }, this);
    connect(repeats_, &RepeatPanel::repeatRequested, this,
            [this](int intervalMs, std::uint64_t count) {
                startRepeat(selectedRow(), intervalMs, count);
            });
    status_ = new QLabel(this);
    status_->setWordWrap(true);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(rows_);
    layout->addLayout(edits);
    layout->addLayout(files);
    layout->addWidget(repeats_);
    answers_ = new AnswerPanel(console_, this);
    layout->addWidget(answers_);
    runs_ = new RunPanel(console_, this);
    layout->addWidget(runs_);
    connect(runs_, &RunPanel::runRequested, this, &CommandsWindow::startRun);
    intake_ = new ReceivedIntake(console_, *answers_, *runs_, this);
    connect(answers_, &AnswerPanel::switched, intake_, &ReceivedIntake::update);
    connect(answers_, &AnswerPanel::rulesChanged, this, [this] {
        document_.list().setAnswers(answers_->rules());
        saveList();
    });
    connect(runs_, &RunPanel::runningChanged, this, [this] {
        intake_->update();
        updateButtons();
    });
    connect(&repeats_->repeat(), &CommandRepeat::runningChanged, this,
            &CommandsWindow::updateButtons);
    layout->addWidget(status_);
}

void CommandsWindow::refresh(int selectRow)
{
    rows_->showLines(document_.rowTexts(kMaxShortcutCommands), selectRow);
    updateButtons();
}

void CommandsWindow::updateButtons()
{
    const int row = selectedRow();
    const bool chosen = row >= 0 && static_cast<std::size_t>(row) < document_.list().size();
    const bool sendable = chosen && document_.list().sendAt(static_cast<std::size_t>(row));
    const bool running = runs_->running();
    for (QPushButton* b : findChildren<QPushButton*>()) {
        const QString text = b->text();
        if (text == tr("Edit…") || text == tr("Rename…") || text == tr("Delete"))
            b->setEnabled(chosen && !running);
        else if (text == tr("Send"))
            b->setEnabled(sendable);
    }
    savedCommands_->setEnabled(!showsSavedCommands() && !running);
    repeats_->setCanStart(sendable);
    runs_->setCanStart(document_.list().size() > 0);
}

bool CommandsWindow::buttonEnabled(const QString& text) const
{
    for (const QPushButton* b : findChildren<QPushButton*>()) {
        if (b->text() == text)
            return b->isEnabled();
    }
    return false;
}

void CommandsWindow::syncOrder()
{
    if (document_.list().reorder(rows_->order()))
        saveList();
    refresh(rows_->currentRow());
}

int CommandsWindow::selectedRow() const
{
    return rows_->currentRow();
}

void CommandsWindow::saveList()
{
    const base::Result<std::string> said = document_.save();
    if (!said)
        showStatus(said.error().text());
    else if (!said->empty())
        showStatus(*said);
}

void CommandsWindow::showList(const std::string& status)
{
    // Nothing of the list shown before stays: its rules, its run.
    answers_->setRules(document_.list().file().answers);
    runs_->clear();
    setWindowTitle(
        showsSavedCommands()
            ? tr("Commands")
            : tr("Commands - %1").arg(QFileInfo(QString::fromStdString(path())).fileName()));
    refresh(0);
    showStatus(status);
}

void CommandsWindow::showStatus(const std::string& text)
{
    status_->setText(QString::fromStdString(text));
}

QString CommandsWindow::statusText() const
{
    return status_->text();
}

CommandRepeat& CommandsWindow::repeat()
{
    return repeats_->repeat();
}

QString CommandsWindow::repeatText() const
{
    return repeats_->text();
}

bool CommandsWindow::addFromConsole()
{
    base::Result<check::SendStep> send =
        CommandList::fromConsole(console_.frameFields(), console_.freeText());
    if (!send) {
        showStatus("Nothing to add: " + send.error().text());
        return false;
    }
    document_.list().add("Command " + std::to_string(document_.list().size() + 1),
                         std::move(*send));
    saveList();
    refresh(static_cast<int>(document_.list().size()) - 1);
    return true;
}

bool CommandsWindow::editCommand(int row)
{
    const check::SendStep* send = document_.list().sendAt(static_cast<std::size_t>(row));
    if (row < 0 || !send)
        return false;
    CommandEditDialog dialog(document_.list().at(static_cast<std::size_t>(row)).name, *send, this);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    document_.list().rename(static_cast<std::size_t>(row), dialog.name());
    document_.list().replace(static_cast<std::size_t>(row), dialog.send());
    saveList();
    refresh(row);
    return true;
}

bool CommandsWindow::renameCommand(int row, const std::string& name)
{
    if (row < 0 || static_cast<std::size_t>(row) >= document_.list().size() ||
        name.size() > check::CheckFileLimits::kMaxNameLength)
        return false;
    document_.list().rename(static_cast<std::size_t>(row), name);
    saveList();
    refresh(row);
    return true;
}

void CommandsWindow::deleteCommand(int row)
{
    if (row < 0 || static_cast<std::size_t>(row) >= document_.list().size())
        return;
    document_.list().remove(static_cast<std::size_t>(row));
    saveList();
    refresh(std::min(row, static_cast<int>(document_.list().size()) - 1));
}

bool CommandsWindow::moveCommand(int from, int to)
{
    if (from < 0 || to < 0 ||
        !document_.list().move(static_cast<std::size_t>(from), static_cast<std::size_t>(to)))
        return false;
    saveList();
    refresh(to);
    return true;
}

bool CommandsWindow::openFile(const std::string& path)
{
    if (const base::Error error = document_.open(path); !error.ok()) {
        showStatus(error.text());
        return false;
    }
    repeats_->repeat().stop();
    runs_->stop();
    showList("Opened " + path + "; changes are saved to it (\"Saved commands\" goes back)");
    return true;
}

void CommandsWindow::showSavedCommands()
{
    if (showsSavedCommands())
        return;
    repeats_->repeat().stop();
    runs_->stop();
    showList(document_.showSaved());
}

bool CommandsWindow::saveAs(const std::string& path)
{
    if (const base::Error error = document_.list().save(path); !error.ok()) {
        showStatus(error.text());
        return false;
    }
    showStatus("Saved " + path);
    return true;
}

bool CommandsWindow::sendCommand(int index)
{
    const CommandSender::Outcome outcome = sender_.send(document_.list(), index);
    showStatus(outcome.status);
    return outcome.sent;
}

int CommandsWindow::shortcutRow(int number) const
{
    return CommandSender::shortcutRow(document_.list(), number);
}

bool CommandsWindow::sendShortcut(int number)
{
    const int row = shortcutRow(number);
    if (row < 0) {
        showStatus("No saved command for Ctrl+" + std::to_string(number + 1));
        return false;
    }
    return sendCommand(row);
}

bool CommandsWindow::startRun()
{
    base::Result<check::Target> device = sender_.runTarget(document_.list().file());
    if (!device) {
        showStatus("Not run: " + device.error().text());
        return false;
    }
    return runs_->start(document_.list().file(), document_.runName(), std::move(*device));
}

bool CommandsWindow::startRepeat(int row, int intervalMs, std::uint64_t count)
{
    CommandRepeat::SendOnce send = sender_.repeatSend(document_.list(), row);
    if (!send)
        return false;
    repeats_->start(std::move(send), intervalMs, count);
    return true;
}

void CommandsWindow::connectionEnded()
{
    repeats_->repeat().connectionEnded();
    runs_->connectionEnded();
}

void CommandsWindow::showBeside(QWidget* console)
{
    if (!placed_) {
        placed_ = true;
        resize(sizeHint());
        restoreOrPlaceBeside(*this, console, QSize(420, 360), kGeometryKey, SideSlot::Commands);
    }
    show();
    raise();
    activateWindow();
}

void CommandsWindow::rememberGeometry() const
{
    rememberPlace(*this, kGeometryKey);
}

void CommandsWindow::closeEvent(QCloseEvent* event)
{
    rememberGeometry();
    QWidget::closeEvent(event);
}

bool CommandsWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::ShortcutOverride) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_K && key->modifiers() == Qt::ControlModifier) {
            event->ignore();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace app

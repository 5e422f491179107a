// The Commands window over a real console: saved commands taken from the
// console, edited, reordered, kept in their file, refused when broken, and
// sent through the console's own send path (Ctrl+1, repeats) to a loopback
// peer.

#include "consoledriver.h"
#include "consoletestenvironment.h"
#include "dialogcontrols.h"
#include "loopbacktcpserver.h"

#include "app/commands/answerpanel.h"
#include "app/commands/besideplace.h"
#include "app/commands/commandeditdialog.h"
#include "app/commands/commandrepeat.h"
#include "app/commands/commandsettings.h"
#include "app/commands/commandswindow.h"
#include "app/commands/runpanel.h"
#include "app/console/consoledialog.h"
#include "app/console/consoletemplate.h"
#include "app/traffic/trafficmodel.h"
#include "app/traffic/trafficwindow.h"
#include "app/view/messageview.h"
#include "check/checkfile.h"
#include "protocol/commandframe.h"
#include "protocol/delimiterset.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

#include <sys/stat.h>

#include <memory>

using app::CommandsWindow;
using app::ConsoleDialog;
using app::ConsoleTemplate;
using namespace consoledriver;

namespace
{

QByteArray fileBytes(const std::string& path)
{
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestCommandsWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void opensBesideTheConsole_data();
    void opensBesideTheConsole();
    void placesBesideWhereThereIsRoom_data();
    void placesBesideWhereThereIsRoom();
    void addFromConsole_data();
    void addFromConsole();
    void editRefusesWhatTheConsoleWouldNotSend_data();
    void editRefusesWhatTheConsoleWouldNotSend();
    void reorderFollowsTheRows();
    void savesAndReloadsByteExact();
    void openDoesNotReplaceTheSavedCommands();
    void refusesABrokenFileAndKeepsTheList();
    void brokenListFileIsMovedAsideNotWrittenOver();
    void deepDottedKeyInTheCommandsFileCrashesTheConsole();
    void ctrlDigitSendsTheConsolesBytes();
    void ctrlDigitFillsPlaceholdersAndSkipsWhatCannotBeSent();
    void buttonsActOnlyWhenTheyCan();
    void answerRulesAreShownAndEdited();
    void repeatsACountAndStopsOnDisconnect_data();
    void repeatsACountAndStopsOnDisconnect();
    void answersAutomaticallyWithinItsRate();
    void runsTheListStepByStep();

private:
    void setFields(const char* media, const char* id, const char* command, const char* text);
    CommandsWindow& window() { return *dialog_->commandsWindow(); }

    ConsoleTestEnvironment environment_;
    QTemporaryDir data_;
    std::unique_ptr<ConsoleDialog> dialog_;
};

void TestCommandsWindow::initTestCase()
{
    QVERIFY(environment_.setUp());
    QVERIFY(data_.isValid());
    QVERIFY(qputenv("XDG_DATA_HOME", data_.path().toLocal8Bit()));
}

void TestCommandsWindow::init()
{
    QFile::remove(QString::fromStdString(CommandsWindow::defaultPath()));
    dialog_ = std::make_unique<ConsoleDialog>();
    dialog_->setWindowModality(Qt::ApplicationModal);
    QVERIFY(ConsoleTestEnvironment::showActive(dialog_.get()));
}

void TestCommandsWindow::cleanup()
{
    dialog_.reset();
    ConsoleTestEnvironment::clearSettings();
}

void TestCommandsWindow::setFields(const char* media, const char* id, const char* command,
                                   const char* text)
{
    comboOf(*dialog_, ConsoleTemplate::kMedia)->setEditText(QString::fromLatin1(media));
    comboOf(*dialog_, ConsoleTemplate::kDeviceId)->setEditText(QString::fromLatin1(id));
    comboOf(*dialog_, ConsoleTemplate::kCommand)->setEditText(QString::fromLatin1(command));
    editOf(*dialog_, ConsoleTemplate::kData)->setText(QStringLiteral("{7}"));
    editOf(*dialog_, ConsoleTemplate::kMessage)->clear();
    editOf(*dialog_, ConsoleTemplate::kFreeTextEdit)->setText(QString::fromLatin1(text));
}

void TestCommandsWindow::opensBesideTheConsole_data()
{
    QTest::addColumn<bool>("byMenu");
    QTest::addColumn<QString>("action");
    // The free-text edit would take Ctrl+K as "delete to the end of the line".
    QTest::newRow("Ctrl+K in a line edit") << false << QString();
    QTest::newRow("message view menu") << true << QStringLiteral("Commands…");
    QTest::newRow("Traffic window, by the menu") << true << QStringLiteral("Traffic…");
}

void TestCommandsWindow::opensBesideTheConsole()
{
    QFETCH(bool, byMenu);
    QFETCH(QString, action);
    const bool traffic = action == QStringLiteral("Traffic…");
    auto* freeText = editOf(*dialog_, ConsoleTemplate::kFreeTextEdit);
    freeText->setText(QStringLiteral("keep"));
    freeText->setCursorPosition(0);
    if (byMenu) {
        auto* view = controlOf<app::MessageView>(*dialog_, ConsoleTemplate::kMessageView);
        const std::unique_ptr<QMenu> menu(view->createContextMenu());
        for (QAction* item : menu->actions()) {
            if (item->text() == action)
                item->trigger();
        }
    } else {
        freeText->setFocus();
        QTRY_VERIFY(freeText->hasFocus());
        QTest::keyClick(freeText, Qt::Key_K, Qt::ControlModifier);
    }
    QWidget* shown = traffic ? static_cast<QWidget*>(dialog_->trafficWindow()) : &window();
    QVERIFY(shown);
    QTRY_VERIFY(shown->isVisible());
    QCOMPARE(freeText->text(), QStringLiteral("keep"));
    const QRect console = dialog_->frameGeometry();
    const QRect screen = dialog_->screen()->availableGeometry();
    if (screen.width() - console.width() >= 568)
        QVERIFY(!shown->frameGeometry().intersects(dialog_->frameGeometry()));
    QVERIFY(screen.contains(shown->frameGeometry()));
    QCOMPARE(shown->windowHandle()->transientParent(), dialog_->windowHandle());
    // Closing it hides it, keeps its place and leaves the console as it was.
    shown->close();
    QVERIFY(dialog_->isVisible());
    QVERIFY(!shown->isVisible());
    const QString key =
        traffic ? QStringLiteral("Traffic/Geometry") : QStringLiteral("Commands/Geometry");
    QVERIFY(!app::commandSettings().value(key).toByteArray().isEmpty());
}

void TestCommandsWindow::placesBesideWhereThereIsRoom_data()
{
    QTest::addColumn<QRect>("screen");
    QTest::addColumn<QRect>("console");
    // The Commands window opened over the console's frame fields, the
    // Traffic window over its message view, both past the bottom edge.
    QTest::newRow("1920x1080") << QRect(0, 0, 1920, 1040) << QRect(0, 0, 860, 620);
    QTest::newRow("1600x1000") << QRect(0, 0, 1600, 960) << QRect(100, 100, 860, 620);
    QTest::newRow("console on the right") << QRect(0, 0, 1920, 1040) << QRect(1000, 200, 860, 620);
    QTest::newRow("1366x768") << QRect(0, 0, 1366, 728) << QRect(0, 0, 860, 620);
}

void TestCommandsWindow::placesBesideWhereThereIsRoom()
{
    QFETCH(QRect, screen);
    QFETCH(QRect, console);
    // What a small screen may cover: right of the message view, below the buttons.
    const QRect coverable(console.left() + 430, console.top() + 80, 430, 540);
    const std::vector<QSize> sizes = {QSize(760, 520), QSize(560, 640), QSize(560, 360)};
    const app::SidePlaces places = app::sidePlaces(console, coverable, sizes, 560, screen);
    QCOMPARE(places.windows.size(), sizes.size());
    const QRect moved = places.console ? QRect(*places.console, console.size()) : console;
    QVERIFY(screen.contains(moved));
    const bool room = screen.width() - console.width() >= 568;
    for (std::size_t i = 0; i < places.windows.size(); ++i) {
        const QRect& place = places.windows[i];
        QVERIFY2(screen.contains(place), qPrintable(QString::number(i)));
        QVERIFY(place.width() >= 560 && place.height() > 0);
        if (room)
            QVERIFY(!place.intersects(moved));
        else
            QVERIFY(!place.intersects(
                        QRect(console.topLeft(), QPoint(coverable.left() - 1, console.bottom()))) &&
                    !place.intersects(
                        QRect(console.topLeft(), QPoint(console.right(), coverable.top() - 1))));
        for (std::size_t j = 0; j < i; ++j)
            QVERIFY(!place.intersects(places.windows[j]));
    }
}

void TestCommandsWindow::addFromConsole_data()
{
    QTest::addColumn<QString>("media");
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("added"); // 0 none, 1 frame, 2 free text
    QTest::newRow("frame fields") << "C"
                                  << "01"
                                  << "ping" << 1;
    QTest::newRow("long fields cut as sent") << "CX"
                                             << "012"
                                             << "" << 1;
    QTest::newRow("no media: free text") << ""
                                         << "01"
                                         << "ping {x}" << 2;
    QTest::newRow("nothing usable") << ""
                                    << "01"
                                    << "" << 0;
}

void TestCommandsWindow::addFromConsole()
{
    QFETCH(QString, media);
    QFETCH(QString, id);
    QFETCH(QString, text);
    QFETCH(int, added);
    setFields(media.toLatin1().constData(), id.toLatin1().constData(), "OPN",
              text.toLatin1().constData());
    QCOMPARE(window().addFromConsole(), added != 0);
    QCOMPARE(window().list().size(), added != 0 ? 1u : 0u);
    if (added == 0) {
        QVERIFY(window().statusText().contains(QStringLiteral("Nothing to add")));
        return;
    }
    const check::SendStep* send = window().list().sendAt(0);
    QVERIFY(send);
    QCOMPARE(send->isFrame, added == 1);
    if (added == 1) {
        // Braces are doubled so that the file reads them as braces.
        const protocol::FrameFields expected{media.left(1).toStdString(), id.left(2).toStdString(),
                                             "{{7}", "OPN", ""};
        QCOMPARE(QString::fromStdString(send->fields.media + send->fields.deviceId + "|" +
                                        send->fields.data + "|" + send->fields.command + "|" +
                                        send->fields.message),
                 QString::fromStdString(expected.media + expected.deviceId + "|" + expected.data +
                                        "|" + expected.command + "|" + expected.message));
    } else {
        QCOMPARE(send->text, std::string("ping {{x}"));
    }
    // Written at once, owner-only.
    struct stat info {
    };
    QCOMPARE(::stat(window().path().c_str(), &info), 0);
    QCOMPARE(info.st_mode & 0777, 0600u);
}

void TestCommandsWindow::editRefusesWhatTheConsoleWouldNotSend_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("problem");
    QTest::newRow("fits") << "data"
                          << "123"
                          << "";
    QTest::newRow("id too long") << "id"
                                 << "012"
                                 << "id must be 2 characters, not 3";
    QTest::newRow("command long") << "command"
                                  << "OPEN"
                                  << "command must be 3 characters, not 4";
    QTest::newRow("no media") << "media"
                              << ""
                              << QString::fromStdString(
                                     protocol::validateFrameFields("", "01", "OPN").text());
}

void TestCommandsWindow::editRefusesWhatTheConsoleWouldNotSend()
{
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(QString, problem);
    check::SendStep send;
    send.fields = {"C", "01", "", "OPN", "{{x}"};
    app::CommandEditDialog dialog("door", send);
    QCOMPARE(dialog.field("message")->text(), QStringLiteral("{x}"));
    dialog.field(key.toLatin1().constData())->setText(value);
    dialog.accept();
    QCOMPARE(dialog.shownProblem(), problem);
    QCOMPARE(dialog.result(), problem.isEmpty() ? int(QDialog::Accepted) : int(QDialog::Rejected));
    if (problem.isEmpty())
        QCOMPARE(dialog.send().fields.message, std::string("{{x}"));
}

void TestCommandsWindow::reorderFollowsTheRows()
{
    setFields("C", "01", "OPN", "");
    for (int i = 0; i < 3; ++i)
        QVERIFY(window().addFromConsole());
    QVERIFY(window().renameCommand(2, "last"));
    // As a drop moves a row: the view's model first, the list after.
    QListWidget* rows = window().listView();
    QVERIFY(rows->model()->moveRow(QModelIndex(), 2, QModelIndex(), 0));
    QTRY_COMPARE(window().list().at(0).name, std::string("last"));
    QCOMPARE(window().list().at(1).name, std::string("Command 1"));
    QVERIFY(rows->item(0)->text().startsWith(QStringLiteral("Ctrl+1  last")));
    app::CommandList reread;
    QVERIFY(reread.load(window().path()).ok());
    QCOMPARE(reread.file(), window().list().file());
}

void TestCommandsWindow::savesAndReloadsByteExact()
{
    const std::string text =
        "[defaults]\nport = 21211\n\n[[step]]\nname = \"a\"\nsend = { text = \"hi {{\" }\n"
        "\n[[answer]]\nwhen = { command = \"PNG\" }\n"
        "send = { media = \"{media}\", id = \"{id}\", command = \"ACK\" }\n";
    const auto parsed = check::parseCheckFile(text, "x");
    QVERIFY(parsed.ok());
    const std::string canonical = check::writeCheckFile(*parsed);
    const std::string source = data_.filePath(QStringLiteral("source.toml")).toStdString();
    const std::string copy = data_.filePath(QStringLiteral("copy.toml")).toStdString();
    QFile out(QString::fromStdString(source));
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(canonical.data(), static_cast<qint64>(canonical.size()));
    out.close();

    QVERIFY(window().openFile(source));
    QVERIFY(window().saveAs(copy));
    QCOMPARE(fileBytes(copy), QByteArray::fromStdString(canonical));
    QCOMPARE(fileBytes(window().path()), QByteArray::fromStdString(canonical));
}

// Opening a check file wrote it over commands.toml: the saved commands were
// gone without a question.
void TestCommandsWindow::openDoesNotReplaceTheSavedCommands()
{
    setFields("C", "01", "OPN", "");
    QVERIFY(window().addFromConsole());
    window().answers().setOn(true);
    const std::string saved = CommandsWindow::defaultPath();
    const QByteArray before = fileBytes(saved);
    QVERIFY(!before.isEmpty());
    const QString opened = data_.filePath(QStringLiteral("site.toml"));
    QFile out(opened);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write("[[step]]\nname = \"x\"\nsend = { text = \"hello\" }\n");
    out.close();

    QVERIFY(window().openFile(opened.toStdString()));
    QCOMPARE(fileBytes(saved), before);
    QCOMPARE(window().windowTitle(), QStringLiteral("Commands - site.toml"));
    QCOMPARE(window().path(), opened.toStdString());
    // Nothing of the saved list stays on screen: its rules, its run.
    QVERIFY2(window().answers().statusText().startsWith(QStringLiteral("On (0 rules)")),
             qPrintable(window().answers().statusText()));
    QCOMPARE(window().answers().ruleList()->count(), 0);
    QVERIFY(window().runs().statusText().isEmpty());
    // Changes go to the opened file.
    QVERIFY(window().renameCommand(0, "renamed"));
    QVERIFY(fileBytes(opened.toStdString()).contains("renamed"));
    QCOMPARE(fileBytes(saved), before);

    window().showSavedCommands();
    QCOMPARE(window().windowTitle(), QStringLiteral("Commands"));
    QCOMPARE(window().list().size(), 1u);
    QCOMPARE(window().list().at(0).name, std::string("Command 1"));
    QCOMPARE(fileBytes(saved), before);
}

void TestCommandsWindow::refusesABrokenFileAndKeepsTheList()
{
    setFields("C", "01", "OPN", "");
    QVERIFY(window().addFromConsole());
    const QByteArray before = fileBytes(window().path());
    const QString broken = data_.filePath(QStringLiteral("broken.toml"));
    QFile out(broken);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write("[[step]]\nsend = { media = \"C\", id = \"01\", command = \"OPN\" }\n"
              "[[step]]\nsend = { media = \"CC\", id = \"01\", command = \"OPN\" }\n");
    out.close();
    QVERIFY(!window().openFile(broken.toStdString()));
    QVERIFY2(window().statusText().startsWith(broken + QStringLiteral(":4:")),
             qPrintable(window().statusText()));
    QCOMPARE(window().list().size(), 1u);
    QCOMPARE(window().list().at(0).name, std::string("Command 1"));
    QCOMPARE(fileBytes(window().path()), before);
}

void TestCommandsWindow::brokenListFileIsMovedAsideNotWrittenOver()
{
    // A hand-written list with a mistake was written over by the first change.
    const QByteArray broken(
        "[[step]]\nsend = { media = \"CC\", id = \"01\", command = \"OPN\" }\n");
    const std::string path = CommandsWindow::defaultPath();
    QVERIFY(QDir().mkpath(QFileInfo(QString::fromStdString(path)).path()));
    QFile out(QString::fromStdString(path));
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(broken);
    out.close();
    dialog_ = std::make_unique<ConsoleDialog>();
    QVERIFY(ConsoleTestEnvironment::showActive(dialog_.get()));
    QCOMPARE(window().list().size(), 0u);
    QCOMPARE(fileBytes(path), broken);

    setFields("C", "01", "OPN", "");
    QVERIFY(window().addFromConsole());
    QCOMPARE(fileBytes(path + std::string(CommandsWindow::kBrokenSuffix)), broken);
    QVERIFY2(window().statusText().contains(QStringLiteral(".broken")),
             qPrintable(window().statusText()));
    QVERIFY(check::loadCheckFile(path).ok());
    QFile::remove(QString::fromStdString(path + std::string(CommandsWindow::kBrokenSuffix)));
}

// Regression: a saved commands file of one key 40,000 dotted parts deep ran
// the parser's stack out at every Ctrl+K or Ctrl+1..9.
void TestCommandsWindow::deepDottedKeyInTheCommandsFileCrashesTheConsole()
{
    const std::string path = CommandsWindow::defaultPath();
    QVERIFY(QDir().mkpath(QFileInfo(QString::fromStdString(path)).path()));
    QFile out(QString::fromStdString(path));
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(QByteArray("a.").repeated(40000) + "a=1\n");
    out.close();
    dialog_ = std::make_unique<ConsoleDialog>();
    QVERIFY(ConsoleTestEnvironment::showActive(dialog_.get()));
    QCOMPARE(window().list().size(), 0u);
    QVERIFY2(window().statusText().startsWith(QString::fromStdString(path) +
                                              QStringLiteral(":1:64: a key with more than 32")),
             qPrintable(window().statusText()));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_1, Qt::ControlModifier);
    QCOMPARE(window().list().size(), 0u);
    QFile::remove(QString::fromStdString(path));
}

void TestCommandsWindow::ctrlDigitSendsTheConsolesBytes()
{
    LoopbackTcpServer peer;
    QVERIFY(peer.listening());
    setFields("C", "01", "OPN", "");
    QVERIFY(window().addFromConsole());
    setFields("A", "02", "CLS", "free");
    QVERIFY(window().addFromConsole());
    QVERIFY(connectToTcpPeer(*dialog_, peer));

    // The frame as "Send this data" would send it, from the console's focus.
    const protocol::FrameFields second{"A", "02", "{7}", "CLS", ""};
    const std::string expected = protocol::wireBlock(
        protocol::composeFrame(second, protocol::DelimiterSet::instance().mode()));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_2, Qt::ControlModifier);
    std::string block;
    QVERIFY(peer.receive(block, std::chrono::seconds(5)));
    QCOMPARE(QByteArray::fromStdString(block), QByteArray::fromStdString(expected));
    // The echo, as the console shows it.
    const std::string frame =
        protocol::composeFrame(second, protocol::DelimiterSet::instance().mode());
    const bool release = protocol::DelimiterSet::instance().isRelease();
    QTRY_COMPARE(
        countLines(*dialog_, " -> " + (release ? protocol::frameDisplayText(frame) : frame)),
        std::size_t{1});
    // The traffic record names the saved command before its write.
    dialog_->showTrafficWindow();
    const app::TrafficModel& model = dialog_->trafficWindow()->model();
    QTRY_VERIFY(model.rowCount() >= 2);
    QTRY_COMPARE(model.record(model.rowCount() - 2).text,
                 std::string("saved command \"Command 2\""));
    QCOMPARE(model.record(model.rowCount() - 1).kind, traffic::RecordKind::Write);
    // Beyond the list: nothing goes out, the window says why.
    QVERIFY(!window().sendCommand(8));
    QVERIFY(window().statusText().contains(QStringLiteral("No saved command 9")));
}

// A saved command with {port} could not be sent by Ctrl+1, and Ctrl+2 was
// bound to an expect step.
void TestCommandsWindow::ctrlDigitFillsPlaceholdersAndSkipsWhatCannotBeSent()
{
    const QString file = data_.filePath(QStringLiteral("door.toml"));
    QFile out(file);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write("[values]\nid = \"A1\"\n"
              "[[step]]\nsend = { media = \"B\", id = \"{id}\", data = \"{port}\", command = "
              "\"ENT\" }\n[[step]]\nexpect = { command = \"ENT\" }\n"
              "[[step]]\nsend = { text = \"zone {zone} of {host}\" }\n");
    out.close();
    QVERIFY(window().openFile(file.toStdString()));
    QStringList asked;
    window().setAskValue([&](const std::string& name) -> std::optional<std::string> {
        asked << QString::fromStdString(name);
        return std::string("Z9");
    });
    QVERIFY(window().listView()->item(0)->text().startsWith(QStringLiteral("Ctrl+1  ")));
    QVERIFY(!window().listView()->item(1)->text().contains(QStringLiteral("Ctrl+")));
    QVERIFY(window().listView()->item(2)->text().startsWith(QStringLiteral("Ctrl+2  ")));
    window().listView()->setCurrentRow(1);
    QVERIFY(!window().buttonEnabled(QStringLiteral("Send")));
    QVERIFY(!window().buttonEnabled(QStringLiteral("Repeat")));
    window().listView()->setCurrentRow(0);
    QVERIFY(window().buttonEnabled(QStringLiteral("Send")));

    LoopbackTcpServer peer;
    QVERIFY(connectToTcpPeer(*dialog_, peer));
    const protocol::DelimiterMode mode = protocol::DelimiterSet::instance().mode();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_1, Qt::ControlModifier);
    std::string block;
    QVERIFY(peer.receive(block, std::chrono::seconds(5)));
    QCOMPARE(block, protocol::wireBlock(
                        protocol::composeFrame({"B", "A1", peer.portText(), "ENT", ""}, mode)));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_2, Qt::ControlModifier);
    QVERIFY(peer.receive(block, std::chrono::seconds(5)));
    QCOMPARE(block, protocol::wireBlock("zone Z9 of 127.0.0.1"));
    QCOMPARE(asked, QStringList{QStringLiteral("zone")});
}

// Every button was enabled with an empty list or a running repeat, and
// Edit… on an expect step did nothing and said nothing.
void TestCommandsWindow::buttonsActOnlyWhenTheyCan()
{
    for (const char* text : {"Edit…", "Rename…", "Delete", "Send", "Repeat", "Stop", "Run",
                             "Stop run", "Save report…", "Saved commands", "Edit rule…"})
        QVERIFY2(!window().buttonEnabled(QString::fromUtf8(text)), text);
    QVERIFY(window().buttonEnabled(QStringLiteral("Add from console")));
    QVERIFY(window().buttonEnabled(QStringLiteral("Add rule…")));

    const QString file = data_.filePath(QStringLiteral("steps.toml"));
    QFile out(file);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write("[[step]]\nsend = { text = \"a\" }\n[[step]]\nwait = \"1s\"\n");
    out.close();
    QVERIFY(window().openFile(file.toStdString()));
    QVERIFY(window().buttonEnabled(QStringLiteral("Run")));
    QVERIFY(window().buttonEnabled(QStringLiteral("Saved commands")));
    window().listView()->setCurrentRow(1);
    QVERIFY(window().buttonEnabled(QStringLiteral("Edit…")));
    for (QPushButton* button : window().findChildren<QPushButton*>()) {
        if (button->text() == QStringLiteral("Edit…"))
            button->click();
    }
    QVERIFY2(window().statusText().startsWith(QStringLiteral("Only send steps are edited here")),
             qPrintable(window().statusText()));
}

// Answer rules were neither shown nor editable in the window.
void TestCommandsWindow::answerRulesAreShownAndEdited()
{
    app::AnswerPanel& answers = window().answers();
    QStringList offered;
    QStringList texts = {
        QStringLiteral("when = { command = \"EVTX\" }\nsend = { text = \"ok\" }\n"),
        QStringLiteral("name = \"ok\"\nwhen = { command = \"EVT\" }\nsend = { text = \"ok\" }\n")};
    answers.setEditText([&](const QString& text) -> std::optional<QString> {
        offered << text;
        if (texts.isEmpty())
            return std::nullopt;
        return texts.takeFirst();
    });
    // A mistake is refused with the reader's message and offered again.
    QVERIFY(answers.editRule(-1));
    QCOMPARE(offered.size(), 2);
    QCOMPARE(offered.at(1).toStdString().substr(0, 5), std::string("when "));
    QCOMPARE(answers.ruleList()->count(), 1);
    QVERIFY(answers.ruleList()->item(0)->text().startsWith(QStringLiteral("ok: when = ")));
    app::CommandList saved;
    QVERIFY(saved.load(window().path()).ok());
    QCOMPARE(saved.file().answers.size(), 1u);
    QCOMPARE(saved.file().answers.at(0).name, std::string("ok"));
    // Editing offers the rule as it stands; cancelling changes nothing.
    QVERIFY(!answers.editRule(0));
    QVERIFY(offered.last().startsWith(QStringLiteral("name = \"ok\"")));
    QVERIFY(answers.deleteRule(0));
    QVERIFY(saved.load(window().path()).ok());
    QVERIFY(saved.file().answers.empty());
}

void TestCommandsWindow::repeatsACountAndStopsOnDisconnect_data()
{
    QTest::addColumn<bool>("peerCloses");
    QTest::newRow("Disconnect") << false;
    QTest::newRow("the device closes") << true;
}

void TestCommandsWindow::repeatsACountAndStopsOnDisconnect()
{
    QFETCH(bool, peerCloses);
    LoopbackTcpServer peer;
    QVERIFY(peer.listening());
    setFields("C", "01", "OPN", "");
    QVERIFY(window().addFromConsole());
    QVERIFY(connectToTcpPeer(*dialog_, peer));
    const std::string one = protocol::wireBlock(protocol::composeFrame(
        {"C", "01", "{7}", "OPN", ""}, protocol::DelimiterSet::instance().mode()));

    QVERIFY(window().startRepeat(0, 1, 5));
    std::string received;
    // The repeat runs on the event loop: take what comes while it turns.
    QVERIFY(QTest::qWaitFor(
        [&] {
            std::string block;
            if (peer.receive(block, std::chrono::milliseconds(10)))
                received += block;
            return received.size() >= 5 * one.size();
        },
        5000));
    QCOMPARE(received, one + one + one + one + one);
    QTRY_VERIFY(!window().repeat().running());
    QVERIFY2(window().repeatText().startsWith(QStringLiteral("sent 5 of 5 (done); not sent: 0")),
             qPrintable(window().repeatText()));

    // Until stopped: the end of the connection ends it.
    QVERIFY(window().startRepeat(0, 5, 0));
    QTRY_VERIFY(window().repeat().sent() >= 2);
    if (peerCloses)
        peer.closeConnection();
    else
        click(*dialog_, ConsoleTemplate::kDisconnect);
    QTRY_VERIFY(!window().repeat().running());
    QVERIFY2(window().repeatText().contains(QStringLiteral("(the connection ended)")),
             qPrintable(window().repeatText()));
}

void TestCommandsWindow::answersAutomaticallyWithinItsRate()
{
    const QString rules = data_.filePath(QStringLiteral("answers.toml"));
    QFile out(rules);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write("[[answer]]\nname = \"ack\"\nwhen = { command = \"EVT\" }\n"
              "send = { media = \"{media}\", id = \"{id}\", command = \"ACK\", "
              "message = \"{message}\" }\n");
    out.close();
    QVERIFY(window().openFile(rules.toStdString()));
    LoopbackTcpServer peer;
    QVERIFY(peer.listening());
    QVERIFY(connectToTcpPeer(*dialog_, peer));
    dialog_->showTrafficWindow();
    window().answers().setMaxPerSecond(2);
    window().answers().setOn(true);

    const protocol::DelimiterMode mode = protocol::DelimiterSet::instance().mode();
    std::string events;
    for (int i = 0; i < 5; ++i)
        events +=
            protocol::composeFrame({"B", "07", "", "EVT", "e" + std::to_string(i)}, mode) + "\r\n";
    QVERIFY(peer.send(events));
    QTRY_COMPARE(window().answers().statusText(),
                 QStringLiteral("On (1 rules): answered 2, over the bound 3, not sendable 0"));
    std::string received;
    std::string block;
    while (peer.receive(block, std::chrono::milliseconds(300)))
        received += block;
    QCOMPARE(received,
             protocol::wireBlock(protocol::composeFrame({"B", "07", "", "ACK", "e0"}, mode)) +
                 protocol::wireBlock(protocol::composeFrame({"B", "07", "", "ACK", "e1"}, mode)));
    // Each answer is named in the traffic record, before its write.
    const auto notes = [this] {
        int count = 0;
        const app::TrafficModel& model = dialog_->trafficWindow()->model();
        for (int row = 0; row + 1 < model.rowCount(); ++row)
            count += model.record(row).text == "automatic answer \"ack\"" &&
                     model.record(row + 1).kind == traffic::RecordKind::Write;
        return count;
    };
    QTRY_COMPARE(notes(), 2);
    // Off: nothing more is answered.
    window().answers().setOn(false);
    QVERIFY(window().answers().statusText().isEmpty());
}

void TestCommandsWindow::runsTheListStepByStep()
{
    const QString file = data_.filePath(QStringLiteral("run.toml"));
    QFile out(file);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(
        "[[step]]\nname = \"ping\"\nsend = { media = \"B\", id = \"07\", command = \"PNG\" }\n"
        "[[step]]\nname = \"ack\"\nexpect = { command = \"ACK\", within = \"5s\" }\n"
        "[[step]]\nname = \"pong\"\nexpect = { text = \"PONG\", within = \"100ms\" }\n");
    out.close();
    QVERIFY(window().openFile(file.toStdString()));
    LoopbackTcpServer peer;
    QVERIFY(peer.listening());
    QVERIFY(connectToTcpPeer(*dialog_, peer));

    const protocol::DelimiterMode mode = protocol::DelimiterSet::instance().mode();
    app::RunPanel& runs = window().runs();
    QVERIFY(runs.start(window().list().file()));
    std::string block;
    QVERIFY(peer.receive(block, std::chrono::seconds(5)));
    const std::string ping = protocol::composeFrame({"B", "07", "", "PNG", ""}, mode);
    QCOMPARE(block, protocol::wireBlock(ping));
    // Echoed in the view as the console echoes its own frame.
    const bool release = protocol::DelimiterSet::instance().isRelease();
    QTRY_COMPARE(countLines(*dialog_, " -> " + (release ? protocol::frameDisplayText(ping) : ping)),
                 std::size_t{1});
    QVERIFY(peer.send(protocol::composeFrame({"B", "07", "", "ACK", ""}, mode) + "\r\nPING\r\n"));
    QTRY_COMPARE_WITH_TIMEOUT(runs.results()->count(), 3, 5000);
    QCOMPARE(runs.results()->item(0)->text(), QStringLiteral("ping: passed"));
    QVERIFY(runs.results()->item(1)->text().startsWith(QStringLiteral("ack: passed")));
    QCOMPARE(runs.results()->item(2)->text(),
             QStringLiteral("pong: FAILED (no matching answer within 100 ms; got: \"PING\")"));
    QVERIFY(!runs.running());
    QCOMPARE(runs.statusText(), QStringLiteral("Failed: 2 passed, 1 failed"));

    // Stop ends a run at once, here in its hour-long wait.
    check::Step wait;
    wait.action = check::WaitStep{std::chrono::hours(1)};
    check::CheckFile hour;
    hour.steps.push_back(wait);
    QVERIFY(runs.start(hour));
    QVERIFY(runs.running());
    runs.stop();
    QVERIFY(!runs.running());
    QCOMPARE(runs.results()->item(0)->text(),
             QStringLiteral("step 1: wait: FAILED (stopped by the operator)"));
}

QTEST_MAIN(TestCommandsWindow)
#include "tst_commandswindow.moc"

// The console opens the Traffic window: Ctrl+T whichever control has the
// focus, "Traffic…" in the message view's menu; the window takes input while
// the console runs modally, shows what the console's sink receives, and
// closing it leaves the console as it was; its Frames column reads in the
// console's delimiter mode.

#include "consoletestenvironment.h"
#include "dialogcontrols.h"
#include "loopbacktcpserver.h"
#include "trafficrecords.h"

#include "app/console/consoledialog.h"
#include "app/console/consoletemplate.h"
#include "app/console/ipv4addressedit.h"
#include "app/traffic/trafficmodel.h"
#include "app/traffic/trafficwindow.h"
#include "app/view/messageview.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

#include <memory>

using app::ConsoleDialog;
using app::ConsoleTemplate;

class TestConsoleTraffic : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(environment_.setUp()); }
    void init();
    void cleanup();

    void ctrlTOpensTheWindowFromAnyControl_data();
    void ctrlTOpensTheWindowFromAnyControl();
    void messageViewMenuOpensTheWindow();
    void windowTakesInputWhileTheConsoleIsModal();
    void showsWhatTheConsolesSinkReceives();
    void closingTheWindowLeavesTheConsoleAsItWas();
    void showsEveryByteTheDeviceSent();
    void showsARecordingSwitchedOnForThisRun();
    void readsFramesInTheConsolesMode();

private:
    QWidget* openWithCtrlT();

    ConsoleTestEnvironment environment_;
    std::unique_ptr<ConsoleDialog> dialog_;
};

void TestConsoleTraffic::init()
{
    dialog_ = std::make_unique<ConsoleDialog>();
    // As exec() runs it.
    dialog_->setWindowModality(Qt::ApplicationModal);
    QVERIFY(ConsoleTestEnvironment::showActive(dialog_.get()));
}

void TestConsoleTraffic::cleanup()
{
    dialog_.reset();
    ConsoleTestEnvironment::clearSettings();
}

QWidget* TestConsoleTraffic::openWithCtrlT()
{
    QWidget* focused = QApplication::focusWidget();
    if (!focused)
        return nullptr;
    QTest::keyClick(focused, Qt::Key_T, Qt::ControlModifier);
    return dialog_->trafficWindow();
}

void TestConsoleTraffic::ctrlTOpensTheWindowFromAnyControl_data()
{
    QTest::addColumn<int>("control");
    QTest::newRow("Connect button") << ConsoleTemplate::kConnect;
    QTest::newRow("port edit") << ConsoleTemplate::kPortEdit;
    QTest::newRow("server address") << ConsoleTemplate::kServerAddress;
    QTest::newRow("free-text edit") << ConsoleTemplate::kFreeTextEdit;
    QTest::newRow("message view") << ConsoleTemplate::kMessageView;
    QTest::newRow("media combo") << ConsoleTemplate::kMedia;
    QTest::newRow("mode combo") << ConsoleTemplate::kMode;
    QTest::newRow("data edit") << ConsoleTemplate::kData;
}

void TestConsoleTraffic::ctrlTOpensTheWindowFromAnyControl()
{
    QFETCH(int, control);
    const QString viewBefore =
        controlOf<app::MessageView>(*dialog_, ConsoleTemplate::kMessageView)->toPlainText();
    dialog_->control(control)->setFocus(Qt::OtherFocusReason);
    QTRY_VERIFY(dialog_->control(control)->hasFocus() ||
                dialog_->control(control)->isAncestorOf(QApplication::focusWidget()));

    QWidget* window = openWithCtrlT();
    QVERIFY(window);
    QTRY_VERIFY(window->isVisible());
    QVERIFY(window->isWindow());
    QCOMPARE(window->windowTitle(), QStringLiteral("Traffic"));
    QTRY_COMPARE(QApplication::activeWindow(), window);
    // The key did not reach the control: no 't' typed anywhere.
    QCOMPARE(controlOf<app::MessageView>(*dialog_, ConsoleTemplate::kMessageView)->toPlainText(),
             viewBefore);
    if (auto* edit = editOf(*dialog_, control))
        QVERIFY(!edit->text().endsWith(QLatin1Char('t')));

    // Again from the Traffic window itself: the same window, still shown.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_T, Qt::ControlModifier);
    QCOMPARE(dialog_->trafficWindow(), window);
    QVERIFY(window->isVisible());
}

void TestConsoleTraffic::messageViewMenuOpensTheWindow()
{
    auto* view = controlOf<app::MessageView>(*dialog_, ConsoleTemplate::kMessageView);
    const std::unique_ptr<QMenu> menu(view->createContextMenu());
    QAction* traffic = nullptr;
    for (QAction* action : menu->actions()) {
        if (action->text() == QStringLiteral("Traffic…"))
            traffic = action;
    }
    QVERIFY(traffic);
    // The standard entries are still there.
    QVERIFY(menu->actions().size() > 2);

    traffic->trigger();
    QVERIFY(dialog_->trafficWindow());
    QTRY_VERIFY(dialog_->trafficWindow()->isVisible());
}

void TestConsoleTraffic::windowTakesInputWhileTheConsoleIsModal()
{
    QWidget* window = openWithCtrlT();
    QVERIFY(window);
    QTRY_COMPARE(QApplication::activeWindow(), window);
    auto* filter = window->findChild<QLineEdit*>(QStringLiteral("trafficFilterText"));
    filter->setFocus();
    QTRY_VERIFY(filter->hasFocus());

    // Through the window system, where a window blocked by a modal one would
    // lose the keys.
    for (const Qt::Key key : {Qt::Key_A, Qt::Key_B, Qt::Key_C})
        QTest::keyClick(window->windowHandle(), key);
    QCOMPARE(filter->text(), QStringLiteral("abc"));
}

void TestConsoleTraffic::showsWhatTheConsolesSinkReceives()
{
    dialog_->trafficSink().record(readRecord("before the window"));
    QVERIFY(openWithCtrlT());
    dialog_->trafficSink().record(readRecord("after"));
    auto* window = static_cast<app::TrafficWindow*>(dialog_->trafficWindow());
    QTRY_COMPARE(window->model().rowCount(), 2);
    QCOMPARE(window->model().record(0).bytes, std::string("before the window"));
}

void TestConsoleTraffic::closingTheWindowLeavesTheConsoleAsItWas()
{
    auto settings = ConsoleTestEnvironment::settings();
    const QStringList keysBefore = settings->allKeys();
    QWidget* window = openWithCtrlT();
    QVERIFY(window);
    QTRY_VERIFY(window->isVisible());

    QVERIFY(window->close());
    QVERIFY(!window->isVisible());
    QVERIFY(dialog_->isVisible());
    QCOMPARE(dialog_->result(), 0);
    // Only its own size and place are kept.
    QStringList keysAfter = ConsoleTestEnvironment::settings()->allKeys();
    keysAfter.removeOne(QStringLiteral("Traffic/Geometry"));
    QCOMPARE(keysAfter, keysBefore);

    // And it opens again with what it had.
    dialog_->trafficSink().record(readRecord("kept"));
    dialog_->activateWindow();
    QTRY_COMPARE(QApplication::activeWindow(), dialog_.get());
    QCOMPARE(openWithCtrlT(), window);
    QTRY_VERIFY(window->isVisible());
}

void TestConsoleTraffic::showsEveryByteTheDeviceSent()
{
    // Two frames in one block, the second after a NUL: the message view ends
    // at the NUL, the Traffic window shows it all.
    const std::string answer("[a=b-c\r\n\0[d=e-f\r\n", 17);
    LoopbackTcpServer peer;
    QVERIFY(peer.listening());
    QWidget* window = openWithCtrlT();
    QVERIFY(window);
    auto& traffic = static_cast<app::TrafficWindow&>(*window);
    controlOf<app::Ipv4AddressEdit>(*dialog_, ConsoleTemplate::kServerAddress)
        ->setText(QStringLiteral("127.0.0.1"));
    editOf(*dialog_, ConsoleTemplate::kPortEdit)->setText(QString::fromStdString(peer.portText()));
    QTest::mouseClick(dialog_->control(ConsoleTemplate::kConnect), Qt::LeftButton);
    QVERIFY(peer.accept(std::chrono::seconds(5)));
    QVERIFY(peer.send(answer));

    const auto received = [&traffic] {
        std::string bytes;
        for (int row = 0; row < traffic.model().rowCount(); ++row) {
            if (traffic.model().record(row).kind == traffic::RecordKind::Read)
                bytes += traffic.model().record(row).bytes;
        }
        return bytes;
    };
    QTRY_COMPARE_WITH_TIMEOUT(received(), answer, 5000);
    QCOMPARE(traffic.model().record(0).kind, traffic::RecordKind::ConnectAttempt);
    QCOMPARE(traffic.model().record(0).text, "TCP 127.0.0.1:" + peer.portText());
    QTest::mouseClick(dialog_->control(ConsoleTemplate::kDisconnect), Qt::LeftButton);
    QTRY_COMPARE(traffic.model().record(traffic.model().rowCount() - 1).kind,
                 traffic::RecordKind::Disconnect);
}

void TestConsoleTraffic::showsARecordingSwitchedOnForThisRun()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    // As --record DIR does it.
    dialog_->trafficRecording().setFileOptions({folder.path().toStdString()});
    dialog_->trafficRecording().setRecordingEnabled(true);

    QWidget* window = openWithCtrlT();
    QVERIFY(window);
    QVERIFY(window->findChild<QCheckBox*>(QStringLiteral("recordToFile"))->isChecked());
    // Shown, not remembered: the next run records only when asked again.
    QVERIFY(!ConsoleTestEnvironment::settings()->contains(QStringLiteral("Traffic/RecordToFile")));
    QVERIFY(dialog_->trafficRecording().recordingEnabled());
}

void TestConsoleTraffic::readsFramesInTheConsolesMode()
{
    ConsoleTestEnvironment::setValue("bRelease", 1);
    dialog_ = std::make_unique<ConsoleDialog>();
    // Regression: a record that came before the window was first opened had
    // no frames.
    dialog_->trafficSink().record(readRecord("\x07"
                                             "BA1x\x08"
                                             "ENT\x09"
                                             "a\r\n"));
    dialog_->showTrafficWindow();
    auto* window = static_cast<app::TrafficWindow*>(dialog_->trafficWindow());
    QTRY_COMPARE(window->model().rowCount(), 1);
    QCOMPARE(std::string(window->model().frames(0)),
             std::string(R"(media=B id=A1 data="x" command=ENT message="a")"));
}

QTEST_MAIN(TestConsoleTraffic)
#include "tst_consoletraffic.moc"

// The console opens the Traffic window: Ctrl+T whichever control has the
// focus, "Traffic…" in the message view's menu; the window takes input while
// the console runs modally, shows what the console's sink receives, and
// closing it leaves the console as it was.

#include "consoletestenvironment.h"
#include "dialogcontrols.h"
#include "trafficrecords.h"

#include "app/consoledialog.h"
#include "app/consoletemplate.h"
#include "app/messageview.h"
#include "app/trafficmodel.h"
#include "app/trafficwindow.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
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
    QCOMPARE(ConsoleTestEnvironment::settings()->allKeys(), keysBefore);

    // And it opens again with what it had.
    dialog_->trafficSink().record(readRecord("kept"));
    dialog_->activateWindow();
    QTRY_COMPARE(QApplication::activeWindow(), dialog_.get());
    QCOMPARE(openWithCtrlT(), window);
    QTRY_VERIFY(window->isVisible());
}

QTEST_MAIN(TestConsoleTraffic)
#include "tst_consoletraffic.moc"

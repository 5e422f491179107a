// Fault matrix: connects that do not succeed. A refused connect changes
// nothing in the dialog or the view, and the next connect works.

#include "consoledriver.h"
#include "consoletestenvironment.h"
#include "loopbacktcpserver.h"

#include "app/consoledialog.h"
#include "app/consoletemplate.h"

#include <QApplication>
#include <QTest>

using app::ConsoleDialog;
using app::ConsoleTemplate;
using namespace consoledriver;

class TestFaultConnect : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(environment_.setUp()); }
    void init() { ConsoleTestEnvironment::clearSettings(); }

    void refusedConnectChangesNothing();

private:
    ConsoleTestEnvironment environment_;
};

void TestFaultConnect::refusedConnectChangesNothing()
{
    LoopbackTcpServer closed;
    QVERIFY(closed.listening());
    closed.closeListener();
    ConsoleDialog dialog;
    QVERIFY(ConsoleTestEnvironment::showActive(&dialog));

    for (int attempt = 0; attempt < 3; ++attempt) {
        clickConnect(dialog, closed.portText());
        QTRY_VERIFY_WITH_TIMEOUT(isDisconnectedState(dialog), kWaitMs);
        QVERIFY(viewText(dialog).empty());
        QCOMPARE(QApplication::focusWidget(), dialog.control(ConsoleTemplate::kConnect));
    }
    QVERIFY(connectsAgain(dialog));
}

QTEST_MAIN(TestFaultConnect)
#include "tst_faultconnect.moc"

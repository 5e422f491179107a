// The program itself, run as a process: without a display to open it says so
// and ends with status 1 instead of crashing.

#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>

class TestClientApp : public QObject
{
    Q_OBJECT

private slots:
    void withoutDisplayEndsWithMessage_data();
    void withoutDisplayEndsWithMessage();
};

void TestClientApp::withoutDisplayEndsWithMessage_data()
{
    QTest::addColumn<QString>("display");
    QTest::addColumn<QString>("message");
    QTest::newRow("no display named") << QString() << "no display found";
    // Display 4711 is not served here: Qt's platform cannot start.
    QTest::newRow("display that does not answer") << ":4711"
                                                  << "cannot open the display";
}

void TestClientApp::withoutDisplayEndsWithMessage()
{
    QFETCH(QString, display);
    QFETCH(QString, message);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    if (!display.isEmpty())
        environment.insert(QStringLiteral("DISPLAY"), display);

    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(SOCKETCLIENT_PATH), QStringList());
    QVERIFY(process.waitForStarted());
    QVERIFY(process.waitForFinished(20000));
    const QString errors = QString::fromLocal8Bit(process.readAllStandardError());
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 1);
    QVERIFY2(errors.contains(message), qPrintable(errors));
}

QTEST_MAIN(TestClientApp)
#include "tst_clientapp.moc"

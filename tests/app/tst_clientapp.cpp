// The program itself, run as a process: without a display to open it says so
// and ends with status 1 instead of crashing; --help and --version need no
// display; an unknown option ends it with status 2 before any window shows;
// SIGTERM and SIGHUP end it as its Close button does.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <sys/stat.h>

class TestClientApp : public QObject
{
    Q_OBJECT

private slots:
    void withoutDisplayEndsWithMessage_data();
    void withoutDisplayEndsWithMessage();
    void commandLine_data();
    void commandLine();
    void endSignalClosesTheConsole_data();
    void endSignalClosesTheConsole();
    void endSignalClosesARecordUnderReview();
};

namespace
{

QProcessEnvironment environmentWithout(std::initializer_list<const char*> names)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : names)
        environment.remove(QString::fromLatin1(name));
    return environment;
}

// A FIFO nobody writes to, in a folder of the test's own, made once.
QString fifoPath()
{
    static QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("record.fifo"));
    if (!QFile::exists(path))
        ::mkfifo(QFile::encodeName(path).constData(), 0600);
    return path;
}

} // namespace

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
    QProcessEnvironment environment =
        environmentWithout({"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"});
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

void TestClientApp::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("offscreen");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("errors");

    const QString version = QStringLiteral("socketclient " SOCKETCLIENT_VERSION "\n");
    QTest::newRow("--version without display")
        << QStringList{"--version"} << false << 0 << version << QString();
    QTest::newRow("--help without display")
        << QStringList{"--help"} << false << 0 << "Usage: socketclient [options]" << QString();
    QTest::newRow("--version after Qt's options")
        << QStringList{"-platform", "offscreen", "-v"} << false << 0 << version << QString();
    // Were the option ignored, the console would open and the test time out.
    QTest::newRow("unknown option")
        << QStringList{"--bogus"} << true << 2 << QString() << "Unknown option 'bogus'";
    QTest::newRow("stray argument")
        << QStringList{"127.0.0.1"} << true << 2 << QString() << "Unexpected argument";
    // A record that cannot be opened is told before any window shows.
    QTest::newRow("--open-record of a missing file")
        << QStringList{"--open-record", "/nonexistent/traffic.log"} << true << 3 << QString()
        << "cannot open the record: /nonexistent/traffic.log: No such file or directory";
    QTest::newRow("--open-record of no record") << QStringList{"--open-record", SOCKETCLIENT_PATH}
                                                << true << 3 << QString() << "not a traffic record";
    // Regressions: a FIFO blocked the program before any window; /dev/null
    // opened as a record of nothing.
    QTest::newRow("--open-record of a FIFO hangs")
        << QStringList{"--open-record", fifoPath()} << true << 3 << QString()
        << "it is a FIFO, not a regular file";
    QTest::newRow("--open-record of /dev/null opens")
        << QStringList{"--open-record", "/dev/null"} << true << 3 << QString()
        << "it is a device, not a regular file";
}

void TestClientApp::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, offscreen);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    QFETCH(QString, errors);

    QProcessEnvironment environment =
        environmentWithout({"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"});
    if (offscreen)
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));

    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(SOCKETCLIENT_PATH), arguments);
    QVERIFY(process.waitForStarted());
    QVERIFY(process.waitForFinished(20000));
    const QString printed = QString::fromLocal8Bit(process.readAllStandardOutput());
    const QString complained = QString::fromLocal8Bit(process.readAllStandardError());
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), exitCode);
    QVERIFY2(printed.startsWith(output), qPrintable(printed));
    QVERIFY2(complained.contains(errors), qPrintable(complained));
    if (output.endsWith(QLatin1Char('\n')))
        QCOMPARE(printed, output);
}

void TestClientApp::endSignalClosesTheConsole_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGHUP") << SIGHUP;
}

// Regression: a logout or `kill` ended the console on the spot, without what
// its Close does (the traffic record written out, the settings stored).
void TestClientApp::endSignalClosesTheConsole()
{
    QFETCH(int, signal);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString records = folder.filePath(QStringLiteral("records"));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(SOCKETCLIENT_PATH), {QStringLiteral("--record"), records});
    QVERIFY(process.waitForStarted());
    // The record folder is made after the signals are watched.
    QTRY_VERIFY_WITH_TIMEOUT(QDir(records).exists(), 20000);
    ::kill(static_cast<pid_t>(process.processId()), signal);
    QVERIFY(process.waitForFinished(20000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
}

// Regression: SIGTERM ended --open-record on the spot, as a crash.
void TestClientApp::endSignalClosesARecordUnderReview()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString record = folder.filePath(QStringLiteral("seen.log"));
    QFile file(record);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("# traffic record 1\ttime\tdirection\tkind\tlength\tbytes\thex\tnote\n");
    file.close();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(SOCKETCLIENT_PATH), {QStringLiteral("--open-record"), record});
    QVERIFY(process.waitForStarted());
    // Not ended after a while: the window is open (a refused file ends at once).
    QVERIFY(!process.waitForFinished(1000));
    ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
    QVERIFY(process.waitForFinished(20000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
}

QTEST_MAIN(TestClientApp)
#include "tst_clientapp.moc"

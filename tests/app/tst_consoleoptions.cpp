// The console's command line, read before and after Qt takes its own
// arguments: which action each command line leads to.

#include "app/consoleoptions.h"

#include <QTest>

#include <vector>

using app::ConsoleOptions;
using Action = ConsoleOptions::Action;

Q_DECLARE_METATYPE(ConsoleOptions::Action)

class TestConsoleOptions : public QObject
{
    Q_OBJECT

private slots:
    void actions_data();
    void actions();
    void helpNamesProgramAndOptions();
};

void TestConsoleOptions::actions_data()
{
    // The raw command line, what QApplication leaves of it, and the action
    // each of the two readings leads to.
    QTest::addColumn<QStringList>("raw");
    QTest::addColumn<QStringList>("afterQt");
    QTest::addColumn<Action>("beforeDisplay");
    QTest::addColumn<Action>("afterDisplay");

    const QString program = QStringLiteral("socketclient");
    QTest::newRow("nothing") << QStringList{program} << QStringList{program} << Action::Run
                             << Action::Run;
    QTest::newRow("no arguments at all")
        << QStringList{} << QStringList{} << Action::Run << Action::Run;
    for (const char* help : {"--help", "-h"}) {
        QTest::addRow("%s", help) << QStringList{program, QString::fromLatin1(help)}
                                  << QStringList{program, QString::fromLatin1(help)}
                                  << Action::ShowHelp << Action::ShowHelp;
    }
    for (const char* version : {"--version", "-v"}) {
        QTest::addRow("%s", version) << QStringList{program, QString::fromLatin1(version)}
                                     << QStringList{program, QString::fromLatin1(version)}
                                     << Action::ShowVersion << Action::ShowVersion;
    }
    // Qt's own options must not be taken for unknown ones, nor "-platform"
    // for the letters p, l, a, t...
    QTest::newRow("Qt's options") << QStringList{program, "-platform", "offscreen", "-reverse"}
                                  << QStringList{program} << Action::Run << Action::Run;
    QTest::newRow("--version among Qt's options")
        << QStringList{program, "-platform", "offscreen", "--version"}
        << QStringList{program, "--version"} << Action::ShowVersion << Action::ShowVersion;
    QTest::newRow("help wins over an unknown option")
        << QStringList{program, "--bogus", "--help"} << QStringList{program, "--bogus", "--help"}
        << Action::ShowHelp << Action::ShowHelp;
    // Unknown options are only known to be unknown once Qt has had its say.
    QTest::newRow("unknown option")
        << QStringList{program, "--bogus"} << QStringList{program, "--bogus"} << Action::Run
        << Action::UsageError;
    QTest::newRow("stray argument")
        << QStringList{program, "192.168.0.1"} << QStringList{program, "192.168.0.1"} << Action::Run
        << Action::UsageError;
}

void TestConsoleOptions::actions()
{
    QFETCH(QStringList, raw);
    QFETCH(QStringList, afterQt);
    QFETCH(Action, beforeDisplay);
    QFETCH(Action, afterDisplay);

    std::vector<QByteArray> bytes;
    std::vector<char*> argv;
    for (const QString& argument : raw)
        bytes.push_back(argument.toLocal8Bit());
    for (QByteArray& argument : bytes)
        argv.push_back(argument.data());

    ConsoleOptions options(QStringLiteral("socketclient"), QStringLiteral("9.8.7"));
    QCOMPARE(options.read(static_cast<int>(argv.size()), argv.data()), beforeDisplay);
    QVERIFY(options.errorText().isEmpty());
    QCOMPARE(options.check(afterQt), afterDisplay);
    QCOMPARE(options.errorText().isEmpty(), afterDisplay != Action::UsageError);
    QCOMPARE(options.report() == ConsoleOptions::kExitUsage, afterDisplay == Action::UsageError);
}

void TestConsoleOptions::helpNamesProgramAndOptions()
{
    ConsoleOptions options(QStringLiteral("socketclient"), QStringLiteral("9.8.7"));
    // Once a QCoreApplication exists the parser would name the program by
    // its full path; the help still shows the plain name.
    const QString help = options.helpText();
    QVERIFY2(help.startsWith(QStringLiteral("Usage: socketclient [options]")), qPrintable(help));
    for (const char* option : {"-h, --help", "-v, --version", "-platform"})
        QVERIFY2(help.contains(QLatin1String(option)), option);
    QCOMPARE(options.versionText(), QStringLiteral("socketclient 9.8.7\n"));
}

QTEST_GUILESS_MAIN(TestConsoleOptions)
#include "tst_consoleoptions.moc"

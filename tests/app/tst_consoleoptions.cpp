// The console's command line, read before and after Qt takes its own
// arguments: which action each command line leads to.

#include "app/console/consoleoptions.h"

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
    void recordOptions_data();
    void recordOptions();
    void recordFormat_data();
    void recordFormat();
    void recordTlsKeys_data();
    void recordTlsKeys();
    void openRecord_data();
    void openRecord();
    void listen_data();
    void listen();
    void connect_data();
    void connect();
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
    QVERIFY(options.error().ok());
    QCOMPARE(options.check(afterQt), afterDisplay);
    QCOMPARE(options.error().ok(), afterDisplay != Action::UsageError);
    QCOMPARE(options.report() == ConsoleOptions::kExitUsage, afterDisplay == Action::UsageError);
}

void TestConsoleOptions::helpNamesProgramAndOptions()
{
    ConsoleOptions options(QStringLiteral("socketclient"), QStringLiteral("9.8.7"));
    // Once a QCoreApplication exists the parser would name the program by
    // its full path; the help still shows the plain name.
    const QString help = options.helpText();
    QVERIFY2(help.startsWith(QStringLiteral("Usage: socketclient [options]")), qPrintable(help));
    for (const char* option :
         {"-h, --help", "-v, --version", "-platform", "--record <dir>", "--record-limit <mb>",
          "--record-format <format>", "--record-tls-keys", "--open-record <file>",
          "--connect <host[:port]>"})
        QVERIFY2(help.contains(QLatin1String(option)), option);
    QCOMPARE(options.versionText(), QStringLiteral("socketclient 9.8.7\n"));
}

void TestConsoleOptions::recordOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<Action>("action");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<qulonglong>("limitBytes"); // 0: none

    const QString program = QStringLiteral("socketclient");
    QTest::newRow("none") << QStringList{program} << Action::Run << QString() << 0ull;
    QTest::newRow("folder") << QStringList{program, "--record", "/tmp/rec"} << Action::Run
                            << QStringLiteral("/tmp/rec") << 0ull;
    QTest::newRow("folder with =") << QStringList{program, "--record=rec dir"} << Action::Run
                                   << QStringLiteral("rec dir") << 0ull;
    QTest::newRow("limit") << QStringList{program, "--record-limit", "16"} << Action::Run
                           << QString() << 16ull * 1024 * 1024;
    QTest::newRow("both") << QStringList{program, "--record", "d", "--record-limit", "1"}
                          << Action::Run << QStringLiteral("d") << 1024ull * 1024;
    QTest::newRow("largest limit") << QStringList{program, "--record-limit", "1048576"}
                                   << Action::Run << QString() << 1024ull * 1024 * 1024 * 1024;
    for (const char* bad : {"0", "-5", "1.5", "ten", "", "1048577", "99999999999999999999"})
        QTest::addRow("limit '%s'", bad) << QStringList{program, "--record-limit", bad}
                                         << Action::UsageError << QString() << 0ull;
    QTest::newRow("folder missing")
        << QStringList{program, "--record"} << Action::UsageError << QString() << 0ull;
    QTest::newRow("empty folder") << QStringList{program, "--record", ""} << Action::UsageError
                                  << QString() << 0ull;
}

void TestConsoleOptions::recordOptions()
{
    QFETCH(QStringList, arguments);
    QFETCH(Action, action);
    QFETCH(QString, folder);
    QFETCH(qulonglong, limitBytes);

    ConsoleOptions options(QStringLiteral("socketclient"), QStringLiteral("9.8.7"));
    QCOMPARE(options.check(arguments), action);
    if (action != Action::Run)
        return;
    QCOMPARE(options.recordFolder(), folder);
    QCOMPARE(options.recordLimitBytes().value_or(0), limitBytes);
}

void TestConsoleOptions::recordFormat_data()
{
    using Format = traffic::FileRecorder::Format;
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<Action>("action");
    QTest::addColumn<int>("format"); // -1: none

    const QString program = QStringLiteral("socketclient");
    QTest::newRow("none") << QStringList{program} << Action::Run << -1;
    QTest::newRow("text") << QStringList{program, "--record-format", "text"} << Action::Run
                          << static_cast<int>(Format::Text);
    QTest::newRow("pcapng") << QStringList{program, "--record", "d", "--record-format=pcapng"}
                            << Action::Run << static_cast<int>(Format::Pcapng);
    for (const char* bad : {"pcap", "PCAPNG", ""})
        QTest::addRow("format '%s'", bad)
            << QStringList{program, "--record-format", bad} << Action::UsageError << -1;
}

void TestConsoleOptions::recordFormat()
{
    QFETCH(QStringList, arguments);
    QFETCH(Action, action);
    QFETCH(int, format);

    ConsoleOptions options(QStringLiteral("socketclient"), QStringLiteral("9.8.7"));
    QCOMPARE(options.check(arguments), action);
    if (action != Action::Run)
        return;
    QCOMPARE(options.recordFormat() ? static_cast<int>(*options.recordFormat()) : -1, format);
}

void TestConsoleOptions::recordTlsKeys_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<Action>("action");
    QTest::addColumn<bool>("keys");

    const QString program = QStringLiteral("socketclient");
    QTest::newRow("none") << QStringList{program} << Action::Run << false;
    QTest::newRow("given") << QStringList{program, "--record-format", "pcapng", "--record-tls-keys"}
                           << Action::Run << true;
    QTest::newRow("with a value") << QStringList{program, "--record-tls-keys=yes"}
                                  << Action::UsageError << false;
    QTest::newRow("beside --open-record")
        << QStringList{program, "--open-record", "a.pcapng", "--record-tls-keys"}
        << Action::UsageError << false;
}

void TestConsoleOptions::recordTlsKeys()
{
    QFETCH(QStringList, arguments);
    QFETCH(Action, action);
    QFETCH(bool, keys);

    ConsoleOptions options(QStringLiteral("socketclient"), QStringLiteral("9.8.7"));
    QCOMPARE(options.check(arguments), action);
    if (action == Action::Run)
        QCOMPARE(options.recordTlsKeys(), keys);
}

void TestConsoleOptions::openRecord_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<Action>("action");
    QTest::addColumn<QString>("file");

    const QString program = QStringLiteral("socketclient");
    QTest::newRow("none") << QStringList{program} << Action::Run << QString();
    QTest::newRow("file") << QStringList{program, "--open-record", "/tmp/a b.log"} << Action::Run
                          << QStringLiteral("/tmp/a b.log");
    QTest::newRow("file with =") << QStringList{program, "--open-record=x.pcapng"} << Action::Run
                                 << QStringLiteral("x.pcapng");
    QTest::newRow("file missing") << QStringList{program, "--open-record"} << Action::UsageError
                                  << QString();
    QTest::newRow("empty file") << QStringList{program, "--open-record", ""} << Action::UsageError
                                << QString();
    QTest::newRow("with --record")
        << QStringList{program, "--open-record", "a.log", "--record", "d"} << Action::UsageError
        << QString();
    QTest::newRow("with --connect")
        << QStringList{program, "--open-record", "a.log", "--connect", "[::1]"}
        << Action::UsageError << QString();
    QTest::newRow("two files") << QStringList{program, "--open-record", "a.log", "b.log"}
                               << Action::UsageError << QString();
}

void TestConsoleOptions::openRecord()
{
    QFETCH(QStringList, arguments);
    QFETCH(Action, action);
    QFETCH(QString, file);

    ConsoleOptions options(QStringLiteral("socketclient"), QStringLiteral("9.8.7"));
    QCOMPARE(options.check(arguments), action);
    if (action == Action::Run)
        QCOMPARE(options.openRecordFile(), file);
}

void TestConsoleOptions::listen_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<Action>("action");
    QTest::addColumn<QString>("where");

    const QString program = QStringLiteral("socketclient");
    QTest::newRow("none") << QStringList{program} << Action::Run << QString();
    QTest::newRow("port") << QStringList{program, "--listen", "21210"} << Action::Run
                          << QStringLiteral("0.0.0.0:21210");
    QTest::newRow("address and port") << QStringList{program, "--listen=127.0.0.1:4000"}
                                      << Action::Run << QStringLiteral("127.0.0.1:4000");
    QTest::newRow("port beyond 65535")
        << QStringList{program, "--listen", "70000"} << Action::UsageError << QString();
    QTest::newRow("host name") << QStringList{program, "--listen", "example:80"}
                               << Action::UsageError << QString();
    QTest::newRow("with --open-record")
        << QStringList{program, "--open-record", "a.log", "--listen", "1"} << Action::UsageError
        << QString();
    QTest::newRow("with TLS") << QStringList{program, "--listen", "1", "--tls"} << Action::Run
                              << QStringLiteral("0.0.0.0:1");
    QTest::newRow("with TLS and certificate")
        << QStringList{program, "--listen", "1", "--tls", "--cert", "c.pem", "--key", "k.pem"}
        << Action::Run << QStringLiteral("0.0.0.0:1");
    QTest::newRow("certificate without key")
        << QStringList{program, "--listen", "1", "--tls", "--cert", "c.pem"} << Action::UsageError
        << QString();
    QTest::newRow("key without certificate")
        << QStringList{program, "--listen", "1", "--tls", "--key", "k.pem"} << Action::UsageError
        << QString();
}

void TestConsoleOptions::listen()
{
    QFETCH(QStringList, arguments);
    QFETCH(Action, action);
    QFETCH(QString, where);

    ConsoleOptions options(QStringLiteral("socketclient"), QStringLiteral("9.8.7"));
    QCOMPARE(options.check(arguments), action);
    if (action == Action::Run) {
        QCOMPARE(options.listenAt() ? QString::fromStdString(options.listenAt()->text())
                                    : QString(),
                 where);
        QCOMPARE(options.tls(), arguments.contains(QStringLiteral("--tls")));
        QCOMPARE(options.certificateFile().isEmpty(),
                 !arguments.contains(QStringLiteral("--cert")));
    }
}

void TestConsoleOptions::connect_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("hostAndPort"); // empty: a usage error
    for (const auto& [value, split] : std::vector<std::pair<const char*, const char*>>{
             {"192.0.2.5:4000", "192.0.2.5 4000"},
             {"door-7.site.example", "door-7.site.example "},
             {"[::1]:21210", "::1 21210"},
             {"fe80::1", "fe80::1 "}})
        QTest::addRow("'%s'", value) << value << split;
    for (const char* bad : {"", ":21210", "[::1", "[::1]21210", "[::1]:", "host:", "host:0",
                            "host:65536", "host:ten", "1:2:3", "a b:1", "[host]:1"})
        QTest::addRow("bad '%s'", bad) << bad << QString();
}

void TestConsoleOptions::connect()
{
    QFETCH(QString, value);
    QFETCH(QString, hostAndPort);
    ConsoleOptions options(QStringLiteral("socketclient"), QStringLiteral("9.8.7"));
    const Action action = options.check({QStringLiteral("socketclient"), "--connect", value});
    QCOMPARE(action, hostAndPort.isEmpty() ? Action::UsageError : Action::Run);
    if (action == Action::Run)
        QCOMPARE(
            QString::fromStdString(options.connectTo()->host + " " + options.connectTo()->port),
            hostAndPort);
    else
        QVERIFY2(options.error().text().starts_with("Invalid --connect '" + value.toStdString()),
                 options.error().text().c_str());
}

QTEST_GUILESS_MAIN(TestConsoleOptions)
#include "tst_consoleoptions.moc"

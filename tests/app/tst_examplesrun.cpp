// Every check file in examples/ passes in the Commands window's Run against
// the device simulator as the README starts it, with the values the console
// knows and the files' own defaults (nothing is asked).

#include "consoledriver.h"
#include "consoletestenvironment.h"

#include "app/commands/commandswindow.h"
#include "app/commands/runpanel.h"
#include "app/console/consoledialog.h"

#include "fleetsimulator.h"
#include "simulatorconfig.h"
#include "simulatorlog.h"

#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace consoledriver;

class TestExamplesRun : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void passesInTheConsole_data();
    void passesInTheConsole();
    void everyExampleHasItsRow();

private:
    ConsoleTestEnvironment environment_;
    QTemporaryDir data_;
};

void TestExamplesRun::initTestCase()
{
    QVERIFY(environment_.setUp());
    QVERIFY(data_.isValid());
    QVERIFY(qputenv("XDG_DATA_HOME", data_.path().toLocal8Bit()));
}

void TestExamplesRun::cleanup()
{
    ConsoleTestEnvironment::clearSettings();
}

void TestExamplesRun::passesInTheConsole_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("withRules");
    QTest::newRow("reader-basic") << QStringLiteral("reader-basic.toml") << false;
    QTest::newRow("door-open") << QStringLiteral("door-open.toml") << true;
}

void TestExamplesRun::passesInTheConsole()
{
    QFETCH(QString, file);
    QFETCH(bool, withRules);
    devicetools::SimulatorConfig config;
    config.listenHost = "127.0.0.1";
    config.port = 0;
    if (withRules) {
        auto rules = devicetools::ReplyRules::load(EXAMPLE_RULES_PATH);
        QVERIFY2(rules.ok(), rules.error().text().c_str());
        config.rules = std::move(*rules);
    }
    devicetools::SimulatorLog log([](std::string_view) {});
    devicetools::FleetSimulator simulator(config, log);
    const base::Error started = simulator.start();
    QVERIFY2(started.ok(), started.text().c_str());

    auto dialog = std::make_unique<app::ConsoleDialog>();
    QVERIFY(ConsoleTestEnvironment::showActive(dialog.get()));
    clickConnect(*dialog, std::to_string(simulator.port()));
    QTRY_VERIFY_WITH_TIMEOUT(isConnectedState(*dialog), kWaitMs);
    app::CommandsWindow& window = *dialog->commandsWindow();
    QStringList asked;
    window.setAskValue([&](const std::string& name) -> std::optional<std::string> {
        asked << QString::fromStdString(name);
        return std::nullopt;
    });
    QVERIFY(window.openFile(QDir(QStringLiteral(EXAMPLES_PATH)).filePath(file).toStdString()));
    QVERIFY2(window.startRun(), qPrintable(window.statusText()));
    QTRY_VERIFY_WITH_TIMEOUT(!window.runs().running(), 10000);
    QVERIFY2(window.runs().statusText().startsWith(QStringLiteral("Passed: ")),
             qPrintable(window.runs().statusText()));
    QVERIFY(asked.isEmpty());
    dialog.reset();
    simulator.stop();
}

void TestExamplesRun::everyExampleHasItsRow()
{
    const QStringList files =
        QDir(QStringLiteral(EXAMPLES_PATH)).entryList(QDir::Files, QDir::Name);
    QCOMPARE(files,
             (QStringList{QStringLiteral("door-open.toml"), QStringLiteral("reader-basic.toml")}));
}

QTEST_MAIN(TestExamplesRun)
#include "tst_examplesrun.moc"

// The Traffic window's "Save as…": where its dialog starts, the type's
// extension added to a bare name (a known one names the type), and a pcapng of the shown rows that
// tshark reads without a warning: each stream's bytes, every record's text.

#include "consoletestenvironment.h"
#include "trafficrecords.h"

#include "app/settings/qtsettingsstore.h"
#include "app/traffic/trafficfilter.h"
#include "app/traffic/trafficqueue.h"
#include "app/traffic/trafficsavedialog.h"
#include "app/traffic/trafficwindow.h"

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cerrno>
#include <cstring>

using app::TrafficSaveDialog;
using Format = app::TrafficExport::Format;
using traffic::RecordKind;
using DirectionChoice = std::optional<traffic::Direction>;
Q_DECLARE_METATYPE(DirectionChoice)

namespace
{

// Clicks "Save as…" and answers the dialog as the operator would: the type
// picked with the arrow key on its box, the name typed. Gives the folder the
// dialog started in.
QString saveThroughDialog(app::TrafficWindow& window, const QString& name, int type)
{
    // The timer runs only while the click's modal dialog does.
    QString startedIn;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr)
            return;
        poll.stop();
        startedIn = dialog->directory().absolutePath();
        for (int i = 0; i < type; ++i)
            QTest::keyClick(dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo")),
                            Qt::Key_Down);
        dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(name);
        static_cast<QDialog*>(dialog)->accept(); // QFileDialog::accept(), as "Save" does
    });
    poll.start(10);
    window.findChild<QPushButton*>(QStringLiteral("trafficSaveAs"))->click();
    return startedIn;
}

// tshark's output; what it says on its error output, but the notice of a
// run as root, in `errors`.
QByteArray tshark(const QString& file, const QStringList& arguments, QByteArray* errors = nullptr)
{
    QProcess process;
    process.start(QStringLiteral("tshark"), QStringList{QStringLiteral("-r"), file} + arguments);
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return "tshark failed";
    for (const QByteArray& line : process.readAllStandardError().split('\n')) {
        if (errors && !line.isEmpty() && !line.startsWith("Running as user"))
            *errors += line + '\n';
    }
    return process.readAllStandardOutput();
}

} // namespace

class TestTrafficSave : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void dialogStartsWhereTheLastFileWent();
    void pcapngOfTheShownRows_data();
    void pcapngOfTheShownRows();
    void permissionWarning();

private:
    ConsoleTestEnvironment environment_;
    QTemporaryDir home_;
};

void TestTrafficSave::initTestCase()
{
    QVERIFY(environment_.setUp());
    // Documents is $HOME/Documents without a user-dirs file (the
    // configuration folder is the test's own).
    QVERIFY(home_.isValid() && qputenv("HOME", QFile::encodeName(home_.path())));
}

void TestTrafficSave::dialogStartsWhereTheLastFileWent()
{
    const QDir home(home_.path());
    const auto head = [&home](const char* name) {
        QFile file(home.filePath(QLatin1String(name)));
        return file.open(QIODevice::ReadOnly) ? file.read(4) : QByteArray();
    };
    app::TrafficQueue queue;
    app::TrafficWindow window(queue);
    window.model().append({readRecord("OK")});
    app::QtSettingsStore store;
    QCOMPARE(TrafficSaveDialog::startFolder(store), home.absolutePath());
    QVERIFY(home.mkpath(QStringLiteral("Documents")) && home.mkpath(QStringLiteral("stick")));

    QCOMPARE(saveThroughDialog(window, home.filePath(QStringLiteral("stick/all")), 1),
             home.filePath(QStringLiteral("Documents")));
    // The next window (the next run) starts there too, until it is gone.
    app::TrafficWindow next(queue);
    QCOMPARE(saveThroughDialog(next, QStringLiteral("all"), 2),
             home.filePath(QStringLiteral("stick")));
    saveThroughDialog(next, QStringLiteral("named.csv"), 2);
    QCOMPARE(head("stick/all.csv"), QByteArray("time"));
    QCOMPARE(head("stick/all.pcapng"), QByteArray("\x0a\x0d\x0d\x0a")); // a Section Header Block
    QCOMPARE(head("stick/named.csv"), QByteArray("time"));
    QVERIFY(QDir(home.filePath(QStringLiteral("stick"))).removeRecursively());
    QCOMPARE(TrafficSaveDialog::startFolder(store), home.filePath(QStringLiteral("Documents")));
}

void TestTrafficSave::pcapngOfTheShownRows_data()
{
    QTest::addColumn<DirectionChoice>("direction");
    QTest::addColumn<QByteArray>("payloads"); // of every packet, in order
    // The partial write's first 3 bytes went out; the failed one's none.
    QTest::newRow("every row") << DirectionChoice() << QByteArray("PING\0OK\r\npardgre", 16);
    QTest::newRow("sent rows") << DirectionChoice(traffic::Direction::Sent)
                               << QByteArray("PING\0pardg", 10);
}

void TestTrafficSave::pcapngOfTheShownRows()
{
    QFETCH(DirectionChoice, direction);
    QFETCH(QByteArray, payloads);
    if (QStandardPaths::findExecutable(QStringLiteral("tshark")).isEmpty())
        QSKIP("tshark is not installed");
    app::TrafficQueue queue;
    app::TrafficWindow window(queue);
    int at = 0;
    const auto add = [&](RecordKind kind, const QByteArray& bytes, const std::string& text) {
        window.model().append({makeRecord(kind, bytes, text, std::chrono::microseconds(at += 10))});
    };
    add(RecordKind::ConnectAttempt, {}, "TCP 127.0.0.1:21210");
    add(RecordKind::Connected, {}, "127.0.0.1:40112 after 0.2 ms");
    add(RecordKind::Write, QByteArray("PING\0", 5), "5 bytes written");
    add(RecordKind::Read, "OK\r\n", "frame check: no frame");
    add(RecordKind::Write, "partial", "3 bytes written");
    add(RecordKind::Write, "failed", "write failed: Broken pipe");
    add(RecordKind::Disconnect, {}, "Disconnected");
    add(RecordKind::ConnectAttempt, {}, "UDP 127.0.0.1:21211");
    add(RecordKind::Connected, {}, "127.0.0.1:40113 after 0 ms");
    add(RecordKind::Write, "dg", "2 bytes written");
    add(RecordKind::Read, "re", "frame check: no frame");
    window.filter().setDirection(direction);
    const QString file = home_.filePath(QTest::currentDataTag() + QStringLiteral(".pcapng"));
    QVERIFY(window.saveTo(file, Format::Pcapng).ok());

    QByteArray errors;
    const QByteArray out = tshark(
        file, {"-T", "fields", "-e", "tcp.payload", "-e", "udp.payload", "-e", "frame.comment"},
        &errors);
    QVERIFY2(errors.isEmpty(), errors.constData());
    QByteArray read;
    for (const QByteArray& line : out.split('\n'))
        read += QByteArray::fromHex(line.split('\t').mid(0, 2).join());
    QCOMPARE(read, payloads);
    for (const char* comment : {"write: 3 bytes written", "write: write failed: Broken pipe"})
        QVERIFY2(out.contains(comment), out.constData());
    QCOMPARE(out.contains("connect: UDP 127.0.0.1:21211"), !direction.has_value());
    const QByteArray expert = tshark(file, {"-q", "-z", "expert"});
    QVERIFY2(!expert.contains("Warns") && !expert.contains("Errors"), expert.constData());
}

void TestTrafficSave::permissionWarning()
{
    // fchmod's EPERM on a FAT file system: the save goes on and says so.
    const QString path = QStringLiteral("/media/stick/all.csv");
    QVERIFY(app::TrafficExport::permissionWarning(path, 0).isEmpty());
    const QString warning = app::TrafficExport::permissionWarning(path, EPERM);
    QVERIFY(warning.contains(path) && warning.contains(QString::fromLocal8Bit(strerror(EPERM))));
}

QTEST_MAIN(TestTrafficSave)
#include "tst_trafficsave.moc"

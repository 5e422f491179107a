// The Traffic window's "Save as…": the folder it starts in (the one used last,
// else the documents folder, else home), the chosen type's extension added to
// a bare name, the type a known extension names, and the warning of a file
// system that keeps no permissions.

#include "consoletestenvironment.h"
#include "trafficrecords.h"

#include "app/settings/qtsettingsstore.h"
#include "app/traffic/trafficqueue.h"
#include "app/traffic/trafficsavedialog.h"
#include "app/traffic/trafficwindow.h"

#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cerrno>
#include <cstring>

using app::TrafficExport;
using app::TrafficSaveDialog;
using Format = app::TrafficExport::Format;

namespace
{

QString rememberedFolder()
{
    app::QtSettingsStore store;
    return QFile::decodeName(QByteArray::fromStdString(
        store.readText(TrafficSaveDialog::kSettingsSection, TrafficSaveDialog::kFolderKey, {})));
}

void remember(const QString& folder)
{
    app::QtSettingsStore store;
    store.writeText(TrafficSaveDialog::kSettingsSection, TrafficSaveDialog::kFolderKey,
                    QFile::encodeName(folder).toStdString());
}

// Clicks the window's "Save as…" and answers its dialog as the operator
// would: the type chosen with the arrow keys on the type box, then the name
// typed. Gives the folder the dialog started in (empty when none opened).
QString saveThroughDialog(app::TrafficWindow& window, const QString& name, int typeIndex)
{
    QString startedIn;
    QTimer poll;
    const QDeadlineTimer deadline(30000);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog) {
            if (deadline.hasExpired())
                poll.stop();
            return;
        }
        poll.stop();
        startedIn = dialog->directory().absolutePath();
        auto* types = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
        for (int i = 0; types && i < typeIndex; ++i)
            QTest::keyClick(types, Qt::Key_Down);
        dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(name);
        static_cast<QDialog*>(dialog)->accept(); // QFileDialog::accept(), as "Save" does
        // A replaced file would ask first; none of the names here exists.
        if (QApplication::activeModalWidget() == dialog)
            dialog->reject();
    });
    poll.start(10);
    window.findChild<QPushButton*>(QStringLiteral("trafficSaveAs"))->click();
    return startedIn;
}

QByteArray head(const QString& path, int size)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.read(size) : QByteArray();
}

} // namespace

class TestTrafficSaveDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void choice_data();
    void choice();
    void startFolder_data();
    void startFolder();
    void saveAsWritesTheChosenType_data();
    void saveAsWritesTheChosenType();
    void saveAsStartsWhereTheLastFileWent();
    void permissionWarning_data();
    void permissionWarning();

private:
    QString documents() const { return QDir(home_.path()).filePath(QStringLiteral("Documents")); }

    ConsoleTestEnvironment environment_;
    QTemporaryDir home_;
};

void TestTrafficSaveDialog::initTestCase()
{
    QVERIFY(environment_.setUp());
    QVERIFY(home_.isValid());
    // The documents folder is $HOME/Documents without a user-dirs file (the
    // configuration folder is the test's own).
    QVERIFY(qputenv("HOME", QFile::encodeName(home_.path())));
}

void TestTrafficSaveDialog::init()
{
    ConsoleTestEnvironment::clearSettings();
    QDir(documents()).removeRecursively();
}

void TestTrafficSaveDialog::choice_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("saved");
    QTest::addColumn<Format>("format");

    QTest::newRow("bare name, text") << "/d/all" << 0 << "/d/all.log" << Format::TextLog;
    QTest::newRow("bare name, CSV") << "/d/all" << 1 << "/d/all.csv" << Format::Csv;
    QTest::newRow("bare name, pcapng") << "/d/all" << 2 << "/d/all.pcapng" << Format::Pcapng;
    QTest::newRow("dot in the folder only") << "/d.v2/all" << 1 << "/d.v2/all.csv" << Format::Csv;
    QTest::newRow("extension names the type") << "/d/a.CSV" << 0 << "/d/a.CSV" << Format::Csv;
    QTest::newRow("pcapng by extension") << "/d/a.pcapng" << 1 << "/d/a.pcapng" << Format::Pcapng;
    QTest::newRow("txt is a text log") << "/d/a.txt" << 2 << "/d/a.txt" << Format::TextLog;
    QTest::newRow("other extension kept") << "/d/a.dat" << 1 << "/d/a.dat" << Format::Csv;
}

void TestTrafficSaveDialog::choice()
{
    QFETCH(QString, path);
    QFETCH(int, type);
    QFETCH(QString, saved);
    QFETCH(Format, format);
    const TrafficSaveDialog::Choice chosen =
        TrafficSaveDialog::choice(path, TrafficSaveDialog::nameFilters().at(type));
    QCOMPARE(chosen.path, saved);
    QCOMPARE(chosen.format, format);
}

void TestTrafficSaveDialog::startFolder_data()
{
    QTest::addColumn<bool>("documentsExist");
    QTest::addColumn<QString>("remembered"); // under home; empty: none
    QTest::addColumn<QString>("expected");   // under home; "." for home itself

    QTest::newRow("documents") << true << "" << "Documents";
    QTest::newRow("no documents folder: home") << false << "" << ".";
    QTest::newRow("remembered folder") << true << "kept" << "kept";
    QTest::newRow("remembered folder gone") << true << "gone" << "Documents";
    QTest::newRow("remembered folder gone, no documents") << false << "gone" << ".";
}

void TestTrafficSaveDialog::startFolder()
{
    QFETCH(bool, documentsExist);
    QFETCH(QString, remembered);
    QFETCH(QString, expected);
    const QDir home(home_.path());
    if (documentsExist)
        QVERIFY(home.mkpath(QStringLiteral("Documents")));
    QVERIFY(home.mkpath(QStringLiteral("kept")));
    if (!remembered.isEmpty())
        remember(home.filePath(remembered));

    app::QtSettingsStore store;
    QCOMPARE(QDir(TrafficSaveDialog::startFolder(store)).canonicalPath(),
             QDir(home.filePath(expected)).canonicalPath());
}

void TestTrafficSaveDialog::saveAsWritesTheChosenType_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("start");

    QTest::newRow("text log") << "all" << 0 << "all.log" << QByteArray("# traffic record 1\t");
    QTest::newRow("CSV") << "all" << 1 << "all.csv" << QByteArray("time,direction,");
    // A Section Header Block.
    QTest::newRow("pcapng") << "all" << 2 << "all.pcapng" << QByteArray("\x0a\x0d\x0d\x0a");
    QTest::newRow("extension over type") << "named.csv" << 0 << "named.csv"
                                         << QByteArray("time,direction,");
}

void TestTrafficSaveDialog::saveAsWritesTheChosenType()
{
    QFETCH(QString, name);
    QFETCH(int, type);
    QFETCH(QString, file);
    QFETCH(QByteArray, start);
    QVERIFY(QDir(home_.path()).mkpath(QStringLiteral("Documents")));
    app::TrafficQueue queue;
    app::TrafficWindow window(queue);
    window.model().append({makeRecord(traffic::RecordKind::Write, "PING", "4 bytes written")});

    QCOMPARE(saveThroughDialog(window, name, type), QDir(documents()).absolutePath());
    const QString saved = QDir(documents()).filePath(file);
    QCOMPARE(head(saved, static_cast<int>(start.size())), start);
    QCOMPARE(QDir(documents()).entryList(QDir::Files | QDir::Hidden), QStringList{file});
    QCOMPARE(rememberedFolder(), QDir(documents()).absolutePath());
}

void TestTrafficSaveDialog::saveAsStartsWhereTheLastFileWent()
{
    const QString elsewhere = QDir(home_.path()).filePath(QStringLiteral("stick"));
    QVERIFY(QDir().mkpath(elsewhere));
    app::TrafficQueue queue;
    app::TrafficWindow window(queue);
    window.model().append({readRecord("OK")});

    // No documents folder: home first.
    QCOMPARE(saveThroughDialog(window, elsewhere + QStringLiteral("/first"), 1),
             QDir(home_.path()).absolutePath());
    QVERIFY(QFile::exists(elsewhere + QStringLiteral("/first.csv")));
    QCOMPARE(saveThroughDialog(window, QStringLiteral("second"), 2), elsewhere);
    QVERIFY(QFile::exists(elsewhere + QStringLiteral("/second.pcapng")));

    // Remembered for the next window (the next run) too.
    app::TrafficWindow next(queue);
    QCOMPARE(saveThroughDialog(next, QStringLiteral("third"), 0), elsewhere);
}

void TestTrafficSaveDialog::permissionWarning_data()
{
    QTest::addColumn<int>("chmodError");
    QTest::newRow("permissions kept") << 0;
    // fchmod on a FAT file system, or one mounted without permissions.
    QTest::newRow("FAT: not permitted") << EPERM;
    QTest::newRow("not supported") << EOPNOTSUPP;
}

void TestTrafficSaveDialog::permissionWarning()
{
    QFETCH(int, chmodError);
    const QString path = QStringLiteral("/media/stick/traffic.csv");
    const QString warning = TrafficExport::permissionWarning(path, chmodError);
    QCOMPARE(warning.isEmpty(), chmodError == 0);
    if (chmodError != 0) {
        QVERIFY(warning.contains(path));
        QVERIFY(warning.contains(QStringLiteral("readable by others")));
        QVERIFY(warning.contains(QString::fromLocal8Bit(std::strerror(chmodError))));
    }
}

QTEST_MAIN(TestTrafficSaveDialog)
#include "tst_trafficsavedialog.moc"

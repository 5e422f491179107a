// The Traffic window's "Save as…" pcapng: the rows the table shows, read back
// by tshark (skipped when it is not installed) without a warning, each
// connection's stream with the bytes that went out and came in, and every
// record's text in a packet comment.

#include "consoletestenvironment.h"
#include "trafficrecords.h"

#include "app/traffic/trafficfilter.h"
#include "app/traffic/trafficqueue.h"
#include "app/traffic/trafficwindow.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

using app::TrafficExport;
using traffic::Direction;
using traffic::RecordKind;
using namespace std::chrono_literals;

namespace
{

// The records of two TCP connections and one UDP exchange, 10 µs apart.
std::vector<traffic::Record> sessions()
{
    std::vector<traffic::Record> records;
    const auto add = [&records](RecordKind kind, const QByteArray& bytes, const std::string& text) {
        records.push_back(makeRecord(kind, bytes, text, records.size() * 10us));
    };
    add(RecordKind::ConnectAttempt, {}, "TCP 127.0.0.1:21210");
    add(RecordKind::Connected, {}, "127.0.0.1:40112 after 0.2 ms");
    add(RecordKind::Write, QByteArray("[a=b-c\r\n\0", 9), "9 bytes written");
    add(RecordKind::Read, QByteArray("\x07OK\x08\r\n"), "frame check: passed");
    add(RecordKind::Write, "partial block", "7 bytes written");
    add(RecordKind::Write, "never sent", "not written: the send queue is full");
    add(RecordKind::Disconnect, {}, "Disconnected");
    add(RecordKind::ConnectAttempt, {}, "TCP 127.0.0.1:21211");
    add(RecordKind::Connected, {}, "127.0.0.1:40113 after 0.1 ms");
    add(RecordKind::Write, "second", "6 bytes written");
    add(RecordKind::Read, "answer", "frame check: no frame");
    add(RecordKind::Disconnect, {}, "Disconnected");
    add(RecordKind::ConnectAttempt, {}, "UDP 127.0.0.1:21212");
    add(RecordKind::Connected, {}, "127.0.0.1:40114 after 0 ms");
    add(RecordKind::Write, "datagram", "8 bytes written");
    add(RecordKind::Read, "reply", "frame check: no frame");
    add(RecordKind::Disconnect, {}, "Disconnected");
    return records;
}

struct Tshark {
    int status = -1;
    QByteArray out;
    QByteArray errors;
};

Tshark tshark(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral("tshark"), arguments);
    Tshark result;
    if (!process.waitForFinished(60000))
        return result;
    result.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    // All it says on its error output, but the notice it gives every run as root.
    for (const QByteArray& line : process.readAllStandardError().split('\n')) {
        if (!line.trimmed().isEmpty() && !line.startsWith("Running as user"))
            result.errors += line + '\n';
    }
    return result;
}

// The bytes of one stream both ways: what its first packet's sender sent,
// and the other side (tshark's lines of node 1 start with a TAB).
std::pair<QByteArray, QByteArray> followed(const QString& file, const QString& protocol,
                                           int stream)
{
    const Tshark run = tshark({QStringLiteral("-r"), file, QStringLiteral("-q"),
                               QStringLiteral("-z"),
                               QStringLiteral("follow,%1,raw,%2").arg(protocol).arg(stream)});
    std::pair<QByteArray, QByteArray> sides;
    const QList<QByteArray> lines = run.out.split('\n');
    bool data = false;
    for (const QByteArray& line : lines) {
        if (line.startsWith("Node 1:")) {
            data = true;
        } else if (data && line.startsWith("====")) {
            break;
        } else if (data && line.startsWith('\t')) {
            sides.second += QByteArray::fromHex(line.mid(1));
        } else if (data) {
            sides.first += QByteArray::fromHex(line);
        }
    }
    return sides;
}

struct Stream {
    QString protocol;
    int index;
    QByteArray sent;
    QByteArray received;
};

} // namespace

using DirectionChoice = std::optional<Direction>;
Q_DECLARE_METATYPE(DirectionChoice)
Q_DECLARE_METATYPE(Stream)

class TestTrafficPcapngExport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void tsharkReadsTheShownRows_data();
    void tsharkReadsTheShownRows();

private:
    ConsoleTestEnvironment environment_;
    QTemporaryDir files_;
};

void TestTrafficPcapngExport::initTestCase()
{
    QVERIFY(environment_.setUp());
    QVERIFY(files_.isValid());
    if (QStandardPaths::findExecutable(QStringLiteral("tshark")).isEmpty())
        QSKIP("tshark is not installed: the pcapng files cannot be read back");
}

void TestTrafficPcapngExport::tsharkReadsTheShownRows_data()
{
    QTest::addColumn<DirectionChoice>("direction");
    QTest::addColumn<int>("packets");
    QTest::addColumn<QList<Stream>>("streams");
    QTest::addColumn<QStringList>("comments");

    const QStringList sentComments{
        QStringLiteral("write: 9 bytes written"), QStringLiteral("write: 7 bytes written"),
        QStringLiteral("write: not written: the send queue is full"),
        QStringLiteral("write: 6 bytes written"), QStringLiteral("write: 8 bytes written")};
    // The partial write's first seven bytes went out, and no more.
    QTest::newRow("every row")
        << DirectionChoice() << 19
        << QList<Stream>{{QStringLiteral("tcp"), 0, QByteArray("[a=b-c\r\n\0partial", 16),
                          QByteArray("\x07OK\x08\r\n")},
                         {QStringLiteral("tcp"), 1, "second", "answer"},
                         {QStringLiteral("udp"), 0, "datagram", "reply"}}
        << sentComments +
               QStringList{QStringLiteral("connect: TCP 127.0.0.1:21210"),
                           QStringLiteral("connected: 127.0.0.1:40113 after 0.1 ms"),
                           QStringLiteral("read: frame check: passed"),
                           QStringLiteral("disconnect: Disconnected")};
    // Without the connects the endpoints are not known: the writes make one
    // stream, in order.
    QTest::newRow("sent rows") << DirectionChoice(Direction::Sent) << 5
                               << QList<Stream>{{QStringLiteral("tcp"), 0,
                                                 QByteArray("[a=b-c\r\n\0partialseconddatagram",
                                                            30),
                                                 {}}}
                               << sentComments;
}

void TestTrafficPcapngExport::tsharkReadsTheShownRows()
{
    QFETCH(DirectionChoice, direction);
    QFETCH(int, packets);
    QFETCH(QList<Stream>, streams);
    QFETCH(QStringList, comments);
    app::TrafficQueue queue;
    app::TrafficWindow window(queue);
    window.model().append(sessions());
    window.filter().setDirection(direction);
    const QString file = files_.filePath(QString::fromLatin1(QTest::currentDataTag()) +
                                         QStringLiteral(".pcapng"));
    QString error;
    QVERIFY2(window.saveTo(file, TrafficExport::Format::Pcapng, &error), qPrintable(error));

    const Tshark read = tshark({QStringLiteral("-r"), file, QStringLiteral("-T"),
                                QStringLiteral("fields"), QStringLiteral("-e"),
                                QStringLiteral("frame.comment")});
    QCOMPARE(read.status, 0);
    QVERIFY2(read.errors.isEmpty(), read.errors.constData());
    QCOMPARE(read.out.count('\n'), packets);
    for (const QString& comment : comments)
        QVERIFY2(read.out.contains(comment.toUtf8()), qPrintable(comment));

    for (const Stream& stream : streams) {
        const auto [sent, received] = followed(file, stream.protocol, stream.index);
        QCOMPARE(sent, stream.sent);
        QCOMPARE(received, stream.received);
    }
    const Tshark expert = tshark({QStringLiteral("-r"), file, QStringLiteral("-q"),
                                  QStringLiteral("-z"), QStringLiteral("expert")});
    QVERIFY2(!expert.out.contains("Errors") && !expert.out.contains("Warns"),
             expert.out.constData());
}

QTEST_MAIN(TestTrafficPcapngExport)
#include "tst_trafficpcapngexport.moc"

// A real capture of the console's TLS connection, taken on the loopback
// interface with dumpcap while the console records pcapng files with TLS
// keys: tshark decrypts the capture with the key log taken from the record,
// and the plaintext it shows both ways is the record's bytes. Skipped where
// dumpcap or tshark is missing, or the loopback interface cannot be captured.

#include "consoledriver.h"
#include "consoletestenvironment.h"
#include "dialogcontrols.h"
#include "loopdevice.h"

#include "app/console/consoledialog.h"
#include "app/console/consoletemplate.h"
#include "app/tls/tlssettings.h"

#include "tls/certificateinfo.h"
#include "tls/knowndevices.h"
#include "tls/selfsigned.h"
#include "traffic/recordfilereader.h"
#include "traffic/recordingcontrol.h"

#include "../traffic/tshark.h"

#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <filesystem>
#include <fstream>

using app::ConsoleDialog;
using app::ConsoleTemplate;
using namespace consoledriver;
namespace fs = std::filesystem;

namespace
{

constexpr int kCaptureWaitMs = 15000;

// How many packets of `capture` match `filter` (tshark reads what dumpcap
// has written so far).
int packetsMatching(const fs::path& capture, const std::string& filter)
{
    const std::string out = commandOutput("tshark -r '" + capture.string() + "' -Y '" + filter +
                                          "' -T fields -e frame.number");
    return static_cast<int>(std::count(out.begin(), out.end(), '\n'));
}

} // namespace

class TestTlsCapture : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(environment_.setUp());
        QVERIFY(folder_.isValid());
        qputenv("XDG_DATA_HOME", (folder_.path() + QStringLiteral("/data")).toLocal8Bit());
        if (!haveTshark() || std::system("dumpcap --version >/dev/null 2>&1") != 0)
            QSKIP("tshark or dumpcap is not installed");
    }

    void theCaptureDecryptsWithTheRecordsKeysToTheRecordsBytes()
    {
        const auto own = tls::makeSelfSigned("door-7", {"127.0.0.1"});
        QVERIFY(own.ok());
        LoopDevice device(*net::Endpoint::fromNumeric("127.0.0.1", 0), *own);
        QVERIFY(device.listening());
        // Pinned beforehand: nothing asks.
        tls::KnownDevices known;
        known.pin("127.0.0.1:" + device.portText(),
                  tls::CertificateInfo::ofPem(own->certificatePem)->fingerprint);
        const std::string pins = app::TlsSettings::knownDevicesPath();
        QVERIFY(known.save(pins).ok());
        app::TlsSettings().storeConnectWithTls(true);

        const fs::path folder = folder_.path().toStdString();
        const fs::path capture = folder / "capture.pcapng";
        QProcess dumpcap;
        dumpcap.start(QStringLiteral("dumpcap"),
                      {QStringLiteral("-q"), QStringLiteral("-i"), QStringLiteral("lo"),
                       QStringLiteral("-f"),
                       QStringLiteral("tcp port %1").arg(QString::fromStdString(device.portText())),
                       QStringLiteral("-w"), QString::fromStdString(capture.string())});
        const bool capturing = QTest::qWaitFor(
            [&] {
                return dumpcap.state() == QProcess::Running && fs::exists(capture) &&
                       fs::file_size(capture) > 0;
            },
            kCaptureWaitMs);
        if (!capturing) {
            dumpcap.kill();
            dumpcap.waitForFinished();
            QSKIP("dumpcap cannot capture on the loopback interface here");
        }

        const fs::path records = folder / "records";
        {
            ConsoleDialog dialog;
            traffic::RecordingControl& recording = dialog.trafficRecording();
            traffic::FileRecorder::Options files = recording.fileOptions();
            files.folder = records;
            files.format = traffic::FileRecorder::Format::Pcapng;
            recording.setFileOptions(files);
            recording.setRecordTlsKeys(true);
            recording.setRecordingEnabled(true);

            startConnect(dialog, device.portText());
            QTRY_VERIFY_WITH_TIMEOUT(isConnectedState(dialog), kWaitMs);
            for (const char* frame : {"[CARD=4711-]", "[DOOR=1-OPEN]"}) {
                QLineEdit* freeText = editOf(dialog, ConsoleTemplate::kFreeTextEdit);
                freeText->clear();
                QTest::keyClicks(freeText, QString::fromLatin1(frame));
                QTest::keyClick(freeText, Qt::Key_Return);
                QTRY_VERIFY_WITH_TIMEOUT(device.received().find(frame) != std::string::npos,
                                         kWaitMs);
            }
            QTRY_VERIFY_WITH_TIMEOUT(countLines(dialog, "[A1=ENT-OK]") >= 1, kWaitMs);
            click(dialog, ConsoleTemplate::kDisconnect);
            recording.setRecordingEnabled(false);
        }
        // Both ends' FIN on the wire, then the capture ends.
        QTRY_VERIFY_WITH_TIMEOUT(packetsMatching(capture, "tcp.flags.fin == 1") >= 2,
                                 kCaptureWaitMs);
        dumpcap.terminate();
        QVERIFY(dumpcap.waitForFinished(kCaptureWaitMs));

        // The record's key log and its bytes both ways.
        QVERIFY(fs::exists(records));
        const fs::path record = fs::directory_iterator(records)->path();
        const std::string hex =
            commandOutput("tshark -X 'read_format:MIME Files Format' -r '" + record.string() +
                          "' -T fields -e pcapng.dsb.secrets_data");
        std::string keyLog;
        for (char c : hex)
            if (std::isxdigit(static_cast<unsigned char>(c)))
                keyLog.push_back(c);
        keyLog = fromHex(keyLog);
        QVERIFY2(keyLog.find("CLIENT_TRAFFIC_SECRET_0") != std::string::npos ||
                     keyLog.find("CLIENT_RANDOM") != std::string::npos,
                 keyLog.c_str());
        const fs::path keys = folder / "keys.txt";
        std::ofstream(keys) << keyLog;
        const auto contents = traffic::RecordFileReader::readFile(record);
        QVERIFY(contents.ok());
        std::string written, read;
        for (const traffic::Record& each : contents->records) {
            if (each.kind == traffic::RecordKind::Write)
                written += each.bytes;
            else if (each.kind == traffic::RecordKind::Read)
                read += each.bytes;
        }
        QVERIFY(!written.empty() && !read.empty());

        // Decrypted, the capture's plaintext is the record's, byte for byte
        // (tshark names the two sides in an order of its own).
        auto [one, other] = followed(capture, "tls",
                                     "-o 'tls.keylog_file:" + keys.string() +
                                         "' -d tcp.port==" + device.portText() + ",tls");
        if (one != written)
            std::swap(one, other);
        QCOMPARE(QByteArray::fromStdString(one).toHex(),
                 QByteArray::fromStdString(written).toHex());
        QCOMPARE(QByteArray::fromStdString(other).toHex(), QByteArray::fromStdString(read).toHex());
    }

private:
    ConsoleTestEnvironment environment_;
    QTemporaryDir folder_;
};

QTEST_MAIN(TestTlsCapture)
#include "tst_tlscapture.moc"

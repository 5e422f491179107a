// Host mode with TLS: the console's own certificate made on first use and
// its fingerprint shown, a TLS device becoming the console's device, and a
// certificate that cannot be used leaving nothing listening.

#include "consoledriver.h"
#include "consoletestenvironment.h"

#include "app/console/consoledialog.h"
#include "app/console/consoletemplate.h"
#include "app/devices/consolehost.h"
#include "app/devices/deviceswindow.h"
#include "app/traffic/trafficmodel.h"
#include "app/traffic/trafficwindow.h"

#include "fileio/safefile.h"
#include "protocol/commandframe.h"
#include "tls/certificateinfo.h"
#include "tls/selfsigned.h"
#include "tls/tlssession.h"

#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

using app::ConsoleDialog;
using app::DevicesModel;
using namespace consoledriver;

namespace
{

// A TLS device that calls in: a client session over a loopback socket,
// pumped while the console's event loop runs.
struct TlsDevice {
    int fd = -1;
    tls::TlsSession session;

    explicit TlsDevice(const net::Endpoint& host) : session(*tls::TlsContext::make({}))
    {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (::connect(fd, host.address(), host.length) != 0) {
            ::close(fd);
            fd = -1;
        }
    }
    ~TlsDevice()
    {
        if (fd >= 0)
            ::close(fd);
    }
    bool flush()
    {
        const std::string out = session.takeOutput();
        return ::send(fd, out.data(), out.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(out.size());
    }
    void pump()
    {
        pollfd ready{fd, POLLIN, 0};
        char got[16384];
        if (::poll(&ready, 1, 0) <= 0)
            return;
        const ssize_t n = ::recv(fd, got, sizeof got, 0);
        if (n > 0) {
            session.receive(std::string_view(got, static_cast<std::size_t>(n)));
            flush();
        }
    }
    bool handshake()
    {
        session.start();
        return flush() &&
               QTest::qWaitFor(
                   [&] {
                       pump();
                       return session.state() != tls::TlsSession::State::Handshaking;
                   },
                   kWaitMs) &&
               session.state() == tls::TlsSession::State::Open;
    }
    bool send(std::string_view plain) { return session.send(plain).ok() && flush(); }
    std::string local() const { return net::Endpoint::localOf(fd).text(); }
};

std::string frameOf(const std::string& message)
{
    return protocol::wireBlock(
        protocol::composeFrame({"B", "07", "", "EVT", message}, protocol::DelimiterMode::Demo));
}

net::Endpoint loopbackPortZero()
{
    return *net::Endpoint::fromNumeric("127.0.0.1", 0);
}

mode_t modeOf(const QString& path)
{
    struct stat status {
    };
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode & 0777 : 0;
}

} // namespace

class TestDevicesTls : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(environment_.setUp());
        QVERIFY(data_.isValid());
        QVERIFY(qputenv("XDG_DATA_HOME", data_.path().toLocal8Bit()));
    }
    void init() { ConsoleTestEnvironment::clearSettings(); }

    void ownCertificateIsMadeOnFirstUseAndATlsDeviceBecomesTheConsoles();
    void certificateThatCannotBeUsedLeavesNothingListening();

private:
    ConsoleTestEnvironment environment_;
    QTemporaryDir data_;
};

void TestDevicesTls::ownCertificateIsMadeOnFirstUseAndATlsDeviceBecomesTheConsoles()
{
    ConsoleDialog dialog;
    QVERIFY(ConsoleTestEnvironment::showActive(&dialog));
    app::ListenTls own;
    own.on = true;
    const auto local = dialog.consoleHost().listen(host::DeviceHost::Both, loopbackPortZero(), own);
    QVERIFY2(local.ok(), qPrintable(dialog.consoleHost().listenStatus()));

    const QString folder = data_.path() + QStringLiteral("/Quorvel/socketclient/tls");
    QCOMPARE(app::ListenerTls::ownFolder(), folder);
    QCOMPARE(modeOf(folder), mode_t{0700});
    QCOMPARE(modeOf(folder + QStringLiteral("/key.pem")), mode_t{0600});
    QCOMPARE(modeOf(folder + QStringLiteral("/certificate.pem")), mode_t{0600});
    QFile certificate(folder + QStringLiteral("/certificate.pem"));
    QVERIFY(certificate.open(QIODevice::ReadOnly));
    const std::string fingerprint =
        tls::CertificateInfo::ofPem(certificate.readAll().toStdString())->fingerprint;
    dialog.showDevicesWindow();
    app::DevicesWindow& window = *dialog.devicesWindow();
    QCOMPARE(window.statusText(),
             QStringLiteral("Listening on TCP and UDP %1 (TCP with TLS, certificate %2; UDP "
                            "without TLS)")
                 .arg(QString::fromStdString(local->text()), QString::fromStdString(fingerprint)));

    TlsDevice device(*local);
    QVERIFY(device.handshake());
    QCOMPARE(device.session.peer().certificate.fingerprint, fingerprint);
    QTRY_VERIFY_WITH_TIMEOUT(isConnectedState(dialog), kWaitMs);
    QVERIFY(device.send(frameOf("through TLS")));
    QTRY_VERIFY_WITH_TIMEOUT(viewText(dialog).find("through TLS") != std::string::npos, kWaitMs);
    // The record notes the session, as the host knows it.
    dialog.showTrafficWindow();
    const app::TrafficModel& records = dialog.trafficWindow()->model();
    const std::string session = "TLS " + device.session.version() + ", " + device.session.cipher() +
                                ", no client certificate";
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            for (int row = 0; row < records.rowCount(); ++row)
                if (records.record(row).text == session)
                    return true;
            return false;
        }(),
        kWaitMs);
    // What the console sends reaches the device through the session.
    click(dialog, app::ConsoleTemplate::kSendThisData);
    QVERIFY(QTest::qWaitFor(
        [&] {
            device.pump();
            return !device.session.takeReceived().empty();
        },
        kWaitMs));
    const auto cell = [&](int column) {
        window.refresh();
        return window.model().index(0, column).data().toString();
    };
    QCOMPARE(cell(DevicesModel::Address).toStdString(), device.local());
    QTRY_COMPARE_WITH_TIMEOUT(cell(DevicesModel::Protocol), QStringLiteral("TCP+TLS"), kWaitMs);

    // Listening again keeps the certificate made the first time.
    QVERIFY(dialog.consoleHost().listen(host::DeviceHost::Tcp, loopbackPortZero(), own).ok());
    QVERIFY(window.statusText().contains(QString::fromStdString(fingerprint)));
}

void TestDevicesTls::certificateThatCannotBeUsedLeavesNothingListening()
{
    QTemporaryDir files;
    const QString broken = files.filePath(QStringLiteral("broken.pem"));
    QVERIFY(fileio::SafeFile::write(QFile::encodeName(broken).toStdString(),
                                    "-----BEGIN CERTIFICATE-----\nnot one\n"
                                    "-----END CERTIFICATE-----\n")
                .ok());
    const auto pair = tls::makeSelfSigned("door", {"127.0.0.1"});
    QVERIFY(pair.ok());
    const QString certificate = files.filePath(QStringLiteral("door.pem"));
    const QString key = files.filePath(QStringLiteral("door.key"));
    QVERIFY(
        fileio::SafeFile::write(QFile::encodeName(certificate).toStdString(), pair->certificatePem)
            .ok());
    QVERIFY(fileio::SafeFile::write(QFile::encodeName(key).toStdString(), pair->keyPem).ok());

    struct Case {
        QString certificate;
        QString key;
        bool listens;
    };
    for (const Case& each : {Case{broken, key, false}, Case{certificate, QString(), false},
                             Case{certificate, key, true}}) {
        ConsoleDialog dialog;
        dialog.showDevicesWindow();
        app::DevicesWindow& window = *dialog.devicesWindow();
        window.tlsBox()->setChecked(true);
        window.certificateEdit()->setText(each.certificate);
        window.keyEdit()->setText(each.key);
        window.listen();
        QCOMPARE(dialog.consoleHost().listening(), each.listens);
        QCOMPARE(window.certificateEdit()->isEnabled(), !each.listens);
        if (each.listens) {
            const std::string fingerprint =
                tls::CertificateInfo::ofPem(pair->certificatePem)->fingerprint;
            QVERIFY2(window.statusText().contains(QString::fromStdString(fingerprint)),
                     qPrintable(window.statusText()));
        } else {
            QVERIFY2(window.statusText().contains(QStringLiteral("with TLS: ")),
                     qPrintable(window.statusText()));
        }
        dialog.consoleHost().stopListening();
    }
    // The window remembers the last choice.
    ConsoleDialog again;
    again.showDevicesWindow();
    QVERIFY(again.devicesWindow()->tlsBox()->isChecked());
    QCOMPARE(again.devicesWindow()->certificateEdit()->text(), certificate);
    QCOMPARE(again.devicesWindow()->keyEdit()->text(), key);
}

QTEST_MAIN(TestDevicesTls)
#include "tst_devicestls.moc"

// The console's own TLS connection: an unknown certificate is shown and
// pinned, a pinned one taken without asking, a changed one refused with both
// fingerprints; Disconnect gives up a handshake or a question; a device that
// speaks no TLS, or UDP, fails with its reason in the Connect tooltip.

#include "consoledriver.h"
#include "consoletestenvironment.h"
#include "dialogcontrols.h"
#include "loopbacktcpserver.h"
#include "loopdevice.h"

#include "app/console/consoledialog.h"
#include "app/console/consoletemplate.h"
#include "app/tls/tlssettings.h"
#include "app/tls/tlswindow.h"
#include "app/tls/trustprompt.h"
#include "app/traffic/trafficmodel.h"
#include "app/traffic/trafficwindow.h"

#include "socket/connectattempt.h"
#include "tls/certificateinfo.h"
#include "tls/knowndevices.h"
#include "tls/selfsigned.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

#include <fstream>

using app::ConsoleDialog;
using app::ConsoleTemplate;
using namespace consoledriver;

namespace
{

app::TrustPrompt* trustPrompt()
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->objectName() == QLatin1String(app::TrustPrompt::kObjectName) &&
            widget->isVisible())
            return static_cast<app::TrustPrompt*>(widget);
    return nullptr;
}

QString promptText(app::TrustPrompt* prompt)
{
    QString text;
    for (const QLabel* label : prompt->findChildren<QLabel*>())
        text += label->text() + QLatin1Char('\n');
    return text;
}

QString connectTip(const ConsoleDialog& dialog)
{
    return dialog.control(ConsoleTemplate::kConnect)->toolTip();
}

} // namespace

class TestConsoleTls : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(environment_.setUp());
        QVERIFY(data_.isValid());
        qputenv("XDG_DATA_HOME", data_.path().toLocal8Bit());
        const auto own = tls::makeSelfSigned("door-7", {"127.0.0.1"});
        QVERIFY(own.ok());
        device_ = std::make_unique<LoopDevice>(*net::Endpoint::fromNumeric("127.0.0.1", 0), *own);
        QVERIFY(device_->listening());
        fingerprint_ = tls::CertificateInfo::ofPem(own->certificatePem)->fingerprint;
    }
    void init()
    {
        ConsoleTestEnvironment::clearSettings();
        std::remove(app::TlsSettings::knownDevicesPath().c_str());
        app::TlsSettings().storeConnectWithTls(true);
    }
    void cleanup() { net::ConnectAttempt::setConnectBoundForTesting(0); }

    void anUnknownCertificateIsShownPinnedAndThenTrusted()
    {
        ConsoleDialog dialog;
        startConnect(dialog, device_->portText());
        QTRY_VERIFY_WITH_TIMEOUT(trustPrompt() != nullptr, kWaitMs);
        const QString shown = promptText(trustPrompt());
        QVERIFY2(shown.contains(QString::fromStdString(fingerprint_)), qPrintable(shown));
        QVERIFY(shown.contains(QStringLiteral("door-7")));
        QTest::mouseClick(trustPrompt()->findChild<QPushButton*>(QStringLiteral("trust")),
                          Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(isConnectedState(dialog), kWaitMs);
        QCOMPARE(viewText(dialog), tcpConnectLine(device_->portText()));
        const QString facts = dialog.tlsWindow()->statusText();
        QVERIFY2(facts.startsWith(QStringLiteral("TLS TLSv1.")) &&
                     facts.contains(QString::fromStdString(fingerprint_)) &&
                     facts.endsWith(QStringLiteral("pinned now by the operator")),
                 qPrintable(facts));

        // Plaintext both ways through the TLS session.
        QLineEdit* freeText = editOf(dialog, ConsoleTemplate::kFreeTextEdit);
        QTest::keyClicks(freeText, QStringLiteral("[CARD=1-]"));
        QTest::keyClick(freeText, Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(viewText(dialog).find("[A1=ENT-OK]") != std::string::npos,
                                 kWaitMs);
        QVERIFY(device_->received().find("[CARD=1-]") != std::string::npos);

        // Pinned, owner-only, for this address and port.
        const std::string path = app::TlsSettings::knownDevicesPath();
        const auto known = tls::KnownDevices::load(path);
        QVERIFY(known.ok());
        QCOMPARE(known->pinned("127.0.0.1:" + device_->portText()).value_or(""), fingerprint_);
        struct stat status {
        };
        QCOMPARE(::stat(path.c_str(), &status), 0);
        QCOMPARE(status.st_mode & 0777, 0600u);

        // The next connect takes the pinned certificate without asking.
        click(dialog, ConsoleTemplate::kDisconnect);
        QVERIFY(isDisconnectedState(dialog));
        startConnect(dialog, device_->portText());
        QTRY_VERIFY_WITH_TIMEOUT(isConnectedState(dialog), kWaitMs);
        QVERIFY(trustPrompt() == nullptr);
        click(dialog, ConsoleTemplate::kDisconnect);
    }

    void aChangedCertificateIsRefusedWithBothFingerprints()
    {
        const std::string pinned = "SHA256:00:11:22:33:44:55:66:77:88:99:AA:BB:CC:DD:EE:FF:"
                                   "00:11:22:33:44:55:66:77:88:99:AA:BB:CC:DD:EE:FF";
        tls::KnownDevices known;
        known.pin("127.0.0.1:" + device_->portText(), pinned);
        QVERIFY(known.save(app::TlsSettings::knownDevicesPath()).ok());

        ConsoleDialog dialog;
        clickConnect(dialog, device_->portText());
        QVERIFY(isDisconnectedState(dialog));
        QVERIFY(trustPrompt() == nullptr);
        const QString tip = connectTip(dialog);
        QVERIFY2(tip.contains(QString::fromStdString(pinned)) &&
                     tip.contains(QString::fromStdString(fingerprint_)),
                 qPrintable(tip));
    }

    void refusingOrDisconnectingWhileAskedLeavesTheConsoleDisconnected_data()
    {
        QTest::addColumn<bool>("byDisconnect");
        QTest::newRow("refused") << false;
        QTest::newRow("disconnect") << true;
    }
    void refusingOrDisconnectingWhileAskedLeavesTheConsoleDisconnected()
    {
        QFETCH(bool, byDisconnect);
        ConsoleDialog dialog;
        startConnect(dialog, device_->portText());
        QTRY_VERIFY_WITH_TIMEOUT(trustPrompt() != nullptr, kWaitMs);
        if (byDisconnect)
            click(dialog, ConsoleTemplate::kDisconnect);
        else
            QTest::mouseClick(trustPrompt()->findChild<QPushButton*>(QStringLiteral("refuse")),
                              Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(isDisconnectedState(dialog) && trustPrompt() == nullptr, kWaitMs);
        QVERIFY(!tls::KnownDevices::load(app::TlsSettings::knownDevicesPath())
                     ->pinned("127.0.0.1:" + device_->portText()));
        QVERIFY2(connectTip(dialog).contains(byDisconnect ? QStringLiteral("ancel")
                                                          : QStringLiteral("refused")),
                 qPrintable(connectTip(dialog)));
        QVERIFY(connectsAgainWithoutTls(dialog));
    }

    void aHandshakeThatStallsIsGivenUpOrEndedByDisconnect()
    {
        LoopbackTcpServer silent;
        ConsoleDialog dialog;
        startConnect(dialog, silent.portText());
        QVERIFY(silent.accept(kWait));
        QVERIFY(dialog.connectPending());
        click(dialog, ConsoleTemplate::kDisconnect);
        QVERIFY(isDisconnectedState(dialog));

        net::ConnectAttempt::setConnectBoundForTesting(300);
        startConnect(dialog, silent.portText());
        QVERIFY(silent.accept(kWait));
        QVERIFY(waitForConnectEnd(dialog));
        QVERIFY(isDisconnectedState(dialog));
        QVERIFY2(connectTip(dialog).contains(QStringLiteral("handshake")),
                 qPrintable(connectTip(dialog)));
    }

    void aDeviceWithoutTlsOrUdpFailsWithItsReason()
    {
        LoopbackTcpServer plain;
        ConsoleDialog dialog;
        startConnect(dialog, plain.portText());
        QVERIFY(plain.accept(kWait));
        QVERIFY(plain.send("[EVT=IN-1]\r\n this is no TLS record\r\n"));
        QVERIFY(waitForConnectEnd(dialog));
        QVERIFY(isDisconnectedState(dialog));
        QVERIFY2(connectTip(dialog).contains(QStringLiteral("TLS")),
                 qPrintable(connectTip(dialog)));

        chooseSocketType(dialog, true);
        clickConnect(dialog, plain.portText());
        QVERIFY(isDisconnectedState(dialog));
        QVERIFY2(connectTip(dialog).contains(QStringLiteral("TCP only")),
                 qPrintable(connectTip(dialog)));
    }

    void aDeviceThatRequiresAClientCertificateGetsTheOneNamed_data()
    {
        QTest::addColumn<bool>("named");
        QTest::newRow("none named") << false;
        QTest::newRow("named") << true;
    }
    void aDeviceThatRequiresAClientCertificateGetsTheOneNamed()
    {
        QFETCH(bool, named);
        const auto own = tls::makeSelfSigned("door-8", {"127.0.0.1"});
        const auto client = tls::makeSelfSigned("console-1", {"127.0.0.1"});
        QVERIFY(own.ok() && client.ok());
        const QString folder = data_.path() + QStringLiteral("/client");
        QVERIFY(QDir().mkpath(folder));
        const auto write = [&](const char* name, const std::string& text) {
            const std::string path =
                (folder + QLatin1Char('/') + QLatin1String(name)).toStdString();
            std::ofstream(path) << text;
            return QString::fromStdString(path);
        };
        const QString certificate = write("console.pem", client->certificatePem);
        const QString key = write("console.key", client->keyPem);
        LoopDevice strict(*net::Endpoint::fromNumeric("127.0.0.1", 0), *own,
                          certificate.toStdString());
        QVERIFY(strict.listening());
        tls::KnownDevices known;
        known.pin("127.0.0.1:" + strict.portText(),
                  tls::CertificateInfo::ofPem(own->certificatePem)->fingerprint);
        QVERIFY(known.save(app::TlsSettings::knownDevicesPath()).ok());
        if (named)
            app::TlsSettings().storeFiles(certificate, key, QString());

        ConsoleDialog dialog;
        startConnect(dialog, strict.portText());
        if (named) {
            QTRY_VERIFY_WITH_TIMEOUT(isConnectedState(dialog), kWaitMs);
            QLineEdit* freeText = editOf(dialog, ConsoleTemplate::kFreeTextEdit);
            QTest::keyClicks(freeText, QStringLiteral("[CARD=2-]"));
            QTest::keyClick(freeText, Qt::Key_Return);
            QTRY_VERIFY_WITH_TIMEOUT(strict.received().find("[CARD=2-]") != std::string::npos,
                                     kWaitMs);
            return;
        }
        // TLS 1.3 tells the refusal after the handshake: the connection ends,
        // and the record says why.
        dialog.showTrafficWindow();
        const app::TrafficModel& records = dialog.trafficWindow()->model();
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                for (int row = 0; row < records.rowCount(); ++row)
                    if (records.record(row).text.find("TLS session ended: ") == 0)
                        return true;
                return false;
            }(),
            kWaitMs);
        QVERIFY(strict.received().empty());
    }

    void aPinnedDeviceOnIpv6IsKnownByItsBracketedAddress()
    {
        const auto own = tls::makeSelfSigned("door-9", {"::1"});
        QVERIFY(own.ok());
        LoopDevice device(*net::Endpoint::fromNumeric("::1", 0), *own);
        if (!device.listening())
            QSKIP("no IPv6 loopback here");
        tls::KnownDevices known;
        known.pin("[::1]:" + device.portText(),
                  tls::CertificateInfo::ofPem(own->certificatePem)->fingerprint);
        QVERIFY(known.save(app::TlsSettings::knownDevicesPath()).ok());
        ConsoleDialog dialog;
        QVERIFY(dialog.connectTo(QStringLiteral("::1"), QString::fromStdString(device.portText())));
        QTRY_VERIFY_WITH_TIMEOUT(isConnectedState(dialog), kWaitMs);
        QVERIFY(trustPrompt() == nullptr);
        QVERIFY2(dialog.tlsWindow()->statusText().contains(QStringLiteral(", pinned")),
                 qPrintable(dialog.tlsWindow()->statusText()));
        click(dialog, ConsoleTemplate::kDisconnect);
    }

private:
    bool connectsAgainWithoutTls(ConsoleDialog& dialog)
    {
        app::TlsSettings().storeConnectWithTls(false);
        return connectsAgain(dialog);
    }

    ConsoleTestEnvironment environment_;
    QTemporaryDir data_;
    std::unique_ptr<LoopDevice> device_;
    std::string fingerprint_;
};

QTEST_MAIN(TestConsoleTls)
#include "tst_consoletls.moc"

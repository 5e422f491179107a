// The console window without a connection: what it shows when it opens, the
// settings it reads and writes, its keys, its tab order and its layout.

#include "consoletestenvironment.h"
#include "dialogcontrols.h"

#include "app/console/consolecontrols.h"
#include "app/console/consoledialog.h"
#include "app/console/consoletemplate.h"
#include "app/console/dialogcombobox.h"
#include "app/console/dialogunits.h"
#include "app/console/ipv4addressedit.h"
#include "app/console/portspin.h"
#include "app/view/messageview.h"
#include "app/view/socketevent.h"

#include "protocol/delimiterset.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <memory>

using app::ConsoleDialog;
using app::ConsoleTemplate;

namespace
{

// The template id of the control that holds the keyboard focus (a field of the
// address control counts as the address control).
int focusedId(const ConsoleDialog& dialog)
{
    QWidget* focus = QApplication::focusWidget();
    for (const ConsoleTemplate::Control& control : ConsoleTemplate::kControls) {
        QWidget* widget = dialog.control(control.id);
        if (widget && focus && (widget == focus || widget->isAncestorOf(focus)))
            return control.id;
    }
    return 0;
}

} // namespace

class TestConsoleDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(environment_.setUp()); }
    void init() { ConsoleTestEnvironment::clearSettings(); }

    void firstStartStoresPortAndShowsDefaults();
    void storedSettingsAreShown_data();
    void storedSettingsAreShown();
    void captionIconAndNoCloseBox();
    void comboListsAreSortedIgnoringCase_data();
    void comboListsAreSortedIgnoringCase();
    void typingStopsAtLengthLimits_data();
    void typingStopsAtLengthLimits();
    void tabVisitsTabStopsInTemplateOrder();
    void radioButtonsTakeAClick();
    void escapeDoesNothing_data();
    void escapeDoesNothing();
    void portIsStoredWhenItsEditLosesFocus();
    void addressIsStoredWhenOperatorChangesAField();
    void modeIsSwitchedAndStoredWhenModeBoxLosesFocus_data();
    void modeIsSwitchedAndStoredWhenModeBoxLosesFocus();
    void settingsWrittenBackAreReadAtNextStart();
    void portSpinStepsPortBackwards();
    void portSteppedWithSpinIsStoredWhenFocusMovesOn();
    void socketEventChangesNothing();
    void closeRequestEndsDialogAsAccepted();
    void layoutFollowsFontInDialogUnits_data();
    void layoutFollowsFontInDialogUnits();
    void groupBoxDoesNotSwallowClicksOnControls();

private:
    ConsoleTestEnvironment environment_;
};

void TestConsoleDialog::firstStartStoresPortAndShowsDefaults()
{
    ConsoleDialog dialog;
    // Stored before the operator does anything.
    QCOMPARE(ConsoleTestEnvironment::value("SocketPort").toString(), QStringLiteral("21210"));
    QVERIFY(!ConsoleTestEnvironment::value("bRelease").isValid());
    QVERIFY(!ConsoleTestEnvironment::value("SocketIp").isValid());

    QCOMPARE(editOf(dialog, ConsoleTemplate::kPortEdit)->text(), QStringLiteral("21210"));
    QCOMPARE(controlOf<app::Ipv4AddressEdit>(dialog, ConsoleTemplate::kServerAddress)->text(),
             ConsoleTestEnvironment::expectedServerAddress(QStringLiteral("192.168.0.1")));
    QVERIFY(controlOf<QRadioButton>(dialog, ConsoleTemplate::kTcpRadio)->isChecked());
    QVERIFY(!controlOf<QRadioButton>(dialog, ConsoleTemplate::kUdpRadio)->isChecked());

    QCOMPARE(comboOf(dialog, ConsoleTemplate::kMode)->currentText(), QStringLiteral("DEMO"));
    QCOMPARE(comboOf(dialog, ConsoleTemplate::kMedia)->currentText(),
             QStringLiteral("B - BARCODE"));
    QCOMPARE(comboOf(dialog, ConsoleTemplate::kDeviceId)->currentText(), QStringLiteral("A1"));
    QCOMPARE(comboOf(dialog, ConsoleTemplate::kCommand)->currentText(),
             QStringLiteral("ENT -  Entrence"));
    QCOMPARE(editOf(dialog, ConsoleTemplate::kData)->text(), QStringLiteral("39123439"));
    QCOMPARE(editOf(dialog, ConsoleTemplate::kMessage)->text(),
             QStringLiteral("Message / Description"));
    QCOMPARE(editOf(dialog, ConsoleTemplate::kStartDisplay)->text(), QStringLiteral("["));
    QCOMPARE(editOf(dialog, ConsoleTemplate::kEqualDisplay)->text(), QStringLiteral("="));
    QCOMPARE(editOf(dialog, ConsoleTemplate::kDashDisplay)->text(), QStringLiteral("-"));
    QCOMPARE(editOf(dialog, ConsoleTemplate::kEndOfDataDisplay)->text(), QStringLiteral("\\r\\n"));
    QCOMPARE(editOf(dialog, ConsoleTemplate::kTerminatorDisplay)->text(), QStringLiteral("0"));
    QVERIFY(editOf(dialog, ConsoleTemplate::kStartDisplay)->isReadOnly());
    QVERIFY(editOf(dialog, ConsoleTemplate::kFreeTextEdit)->text().isEmpty());
    QVERIFY(
        controlOf<app::MessageView>(dialog, ConsoleTemplate::kMessageView)->contentBytes().empty());

    // Disconnected.
    QVERIFY(dialog.control(ConsoleTemplate::kConnect)->isEnabled());
    QVERIFY(!dialog.control(ConsoleTemplate::kDisconnect)->isEnabled());
    QVERIFY(!dialog.control(ConsoleTemplate::kSendMessage)->isEnabled());
    QVERIFY(dialog.control(ConsoleTemplate::kTcpRadio)->isEnabled());
    QVERIFY(dialog.control(ConsoleTemplate::kUdpRadio)->isEnabled());
    QVERIFY(dialog.control(ConsoleTemplate::kSendThisData)->isEnabled());
    QVERIFY(dialog.control(ConsoleTemplate::kClose)->isEnabled());

    QCOMPARE(protocol::DelimiterSet::instance().modeFlag(), 0);
    QCOMPARE(protocol::DelimiterSet::instance().mode(), protocol::DelimiterMode::Demo);

    QVERIFY(ConsoleTestEnvironment::showActive(&dialog));
    QCOMPARE(focusedId(dialog), ConsoleTemplate::kConnect);
}

void TestConsoleDialog::storedSettingsAreShown_data()
{
    QTest::addColumn<QVariant>("storedPort");
    QTest::addColumn<QVariant>("storedAddress");
    QTest::addColumn<QVariant>("storedRelease");
    QTest::addColumn<QString>("shownPort");
    QTest::addColumn<QString>("shownAddress");
    QTest::addColumn<QString>("shownMode");
    QTest::addColumn<int>("modeFlag");

    QTest::newRow("port 0 counts as absent")
        << QVariant(QStringLiteral("0")) << QVariant() << QVariant() << "21210"
        << "192.168.0.1"
        << "DEMO" << 0;
    QTest::newRow("empty port stays empty") << QVariant(QString()) << QVariant() << QVariant() << ""
                                            << "192.168.0.1"
                                            << "DEMO" << 0;
    QTest::newRow("stored port and address")
        << QVariant(QStringLiteral("21215")) << QVariant(QStringLiteral("10.1.2.3")) << QVariant()
        << "21215"
        << "10.1.2.3"
        << "DEMO" << 0;
    QTest::newRow("bRelease 1") << QVariant() << QVariant() << QVariant(1) << "21210"
                                << "192.168.0.1"
                                << "RELEASE" << 1;
    QTest::newRow("any non-zero bRelease is RELEASE, kept as stored")
        << QVariant() << QVariant() << QVariant(5) << "21210"
        << "192.168.0.1"
        << "RELEASE" << 5;
    QTest::newRow("bRelease 0") << QVariant() << QVariant() << QVariant(0) << "21210"
                                << "192.168.0.1"
                                << "DEMO" << 0;
}

void TestConsoleDialog::storedSettingsAreShown()
{
    QFETCH(QVariant, storedPort);
    QFETCH(QVariant, storedAddress);
    QFETCH(QVariant, storedRelease);
    QFETCH(QString, shownPort);
    QFETCH(QString, shownAddress);
    QFETCH(QString, shownMode);
    QFETCH(int, modeFlag);
    if (storedPort.isValid())
        ConsoleTestEnvironment::setValue("SocketPort", storedPort);
    if (storedAddress.isValid())
        ConsoleTestEnvironment::setValue("SocketIp", storedAddress);
    if (storedRelease.isValid())
        ConsoleTestEnvironment::setValue("bRelease", storedRelease);

    ConsoleDialog dialog;
    QCOMPARE(editOf(dialog, ConsoleTemplate::kPortEdit)->text(), shownPort);
    QCOMPARE(ConsoleTestEnvironment::value("SocketPort").toString(), shownPort);
    QCOMPARE(controlOf<app::Ipv4AddressEdit>(dialog, ConsoleTemplate::kServerAddress)->text(),
             ConsoleTestEnvironment::expectedServerAddress(shownAddress));
    QCOMPARE(comboOf(dialog, ConsoleTemplate::kMode)->currentText(), shownMode);
    QCOMPARE(protocol::DelimiterSet::instance().modeFlag(), modeFlag);
    const bool release = modeFlag != 0;
    QCOMPARE(protocol::DelimiterSet::instance().mode(),
             release ? protocol::DelimiterMode::Release : protocol::DelimiterMode::Demo);
    // The read-only displays show the printable delimiters in either mode.
    QCOMPARE(editOf(dialog, ConsoleTemplate::kStartDisplay)->text(), QStringLiteral("["));
}

void TestConsoleDialog::captionIconAndNoCloseBox()
{
    ConsoleDialog dialog;
    QCOMPARE(dialog.windowTitle(),
             QStringLiteral("Tessarin TCP/IP and UDP Client,  Version: 30.03.2014"));
    QVERIFY(!dialog.windowIcon().isNull());
    QVERIFY(!(dialog.windowFlags() & Qt::WindowCloseButtonHint));
    QVERIFY(!(dialog.windowFlags() & Qt::WindowMaximizeButtonHint));
    QCOMPARE(qobject_cast<QPushButton*>(dialog.control(ConsoleTemplate::kConnect))->text(),
             QStringLiteral("Connect\nto Server"));
    QCOMPARE(qobject_cast<QPushButton*>(dialog.control(ConsoleTemplate::kClose))->text(),
             QStringLiteral("Close\nSocket Client"));
    QVERIFY(
        qobject_cast<QPushButton*>(dialog.control(ConsoleTemplate::kSendThisData))->isDefault());
}

void TestConsoleDialog::comboListsAreSortedIgnoringCase_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<QStringList>("entries");
    QTest::newRow("media") << ConsoleTemplate::kMedia
                           << QStringList{"", "B - BARCODE", "L - LEGIC", "M - MIFARE"};
    QTest::newRow("device id") << ConsoleTemplate::kDeviceId
                               << QStringList{"",   "01", "02", "03", "04", "05", "10",
                                              "1Z", "99", "A0", "A1", "B1", "ZZ"};
    QTest::newRow("command") << ConsoleTemplate::kCommand
                             << QStringList{"",
                                            "DEL -  Delete",
                                            "END -  End",
                                            "ENT -  Entrence",
                                            "ERR -  Error",
                                            "EXT -  Exit",
                                            "IGN  -  Ignore",
                                            "TIM  -  Time"};
    QTest::newRow("mode keeps its order")
        << ConsoleTemplate::kMode << QStringList{"DEMO", "RELEASE"};
}

void TestConsoleDialog::comboListsAreSortedIgnoringCase()
{
    QFETCH(int, id);
    QFETCH(QStringList, entries);
    ConsoleDialog dialog;
    app::DialogComboBox* combo = comboOf(dialog, id);
    QStringList shown;
    for (int index = 0; index < combo->count(); ++index)
        shown << combo->itemText(index);
    QCOMPARE(shown, entries);
    QVERIFY(combo->isEditable());
    QCOMPARE(combo->insertPolicy(), QComboBox::NoInsert);
}

void TestConsoleDialog::typingStopsAtLengthLimits_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<int>("limit");
    QTest::newRow("message") << ConsoleTemplate::kMessage << 120;
    QTest::newRow("data") << ConsoleTemplate::kData << 36;
    QTest::newRow("free text fits the send buffer") << ConsoleTemplate::kFreeTextEdit << 2045;
}

void TestConsoleDialog::typingStopsAtLengthLimits()
{
    QFETCH(int, id);
    QFETCH(int, limit);
    ConsoleDialog dialog;
    QLineEdit* edit = editOf(dialog, id);
    edit->clear();
    QTest::keyClicks(edit, QString(limit + 5, QLatin1Char('x')));
    QCOMPARE(edit->text().size(), limit);
}

void TestConsoleDialog::tabVisitsTabStopsInTemplateOrder()
{
    ConsoleDialog dialog;
    QVERIFY(ConsoleTestEnvironment::showActive(&dialog));
    QCOMPARE(focusedId(dialog), ConsoleTemplate::kConnect);
    // Disconnected: Send message and Disconnect are disabled and skipped; the
    // radio buttons and the spin have no tab stop.
    const QList<int> expected = {ConsoleTemplate::kFreeTextEdit,
                                 ConsoleTemplate::kPortEdit,
                                 ConsoleTemplate::kServerAddress,
                                 ConsoleTemplate::kMessageView,
                                 ConsoleTemplate::kClose,
                                 ConsoleTemplate::kMedia,
                                 ConsoleTemplate::kStartDisplay,
                                 ConsoleTemplate::kDeviceId,
                                 ConsoleTemplate::kData,
                                 ConsoleTemplate::kEqualDisplay,
                                 ConsoleTemplate::kCommand,
                                 ConsoleTemplate::kDashDisplay,
                                 ConsoleTemplate::kMessage,
                                 ConsoleTemplate::kEndOfDataDisplay,
                                 ConsoleTemplate::kTerminatorDisplay,
                                 ConsoleTemplate::kSendThisData,
                                 ConsoleTemplate::kMode,
                                 ConsoleTemplate::kConnect};
    QList<int> visited;
    for (int step = 0; step < expected.size(); ++step) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited << focusedId(dialog);
    }
    QCOMPARE(visited, expected);

    QList<int> backwards;
    for (int step = 0; step < 3; ++step) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
        backwards << focusedId(dialog);
    }
    QCOMPARE(backwards, (QList<int>{ConsoleTemplate::kMode, ConsoleTemplate::kSendThisData,
                                    ConsoleTemplate::kTerminatorDisplay}));
}

void TestConsoleDialog::radioButtonsTakeAClick()
{
    ConsoleDialog dialog;
    QVERIFY(ConsoleTestEnvironment::showActive(&dialog));
    auto* udp = controlOf<QRadioButton>(dialog, ConsoleTemplate::kUdpRadio);
    auto* tcp = controlOf<QRadioButton>(dialog, ConsoleTemplate::kTcpRadio);
    QTest::mouseClick(udp, Qt::LeftButton);
    QVERIFY(udp->isChecked());
    QVERIFY(!tcp->isChecked());
    QTest::mouseClick(tcp, Qt::LeftButton);
    QVERIFY(tcp->isChecked());
    QVERIFY(!udp->isChecked());
}

void TestConsoleDialog::escapeDoesNothing_data()
{
    QTest::addColumn<int>("id");
    QTest::newRow("connect button") << ConsoleTemplate::kConnect;
    QTest::newRow("free-text edit") << ConsoleTemplate::kFreeTextEdit;
    QTest::newRow("port edit") << ConsoleTemplate::kPortEdit;
    QTest::newRow("address control") << ConsoleTemplate::kServerAddress;
    QTest::newRow("message view") << ConsoleTemplate::kMessageView;
    QTest::newRow("close button") << ConsoleTemplate::kClose;
    QTest::newRow("media combo") << ConsoleTemplate::kMedia;
    QTest::newRow("message edit") << ConsoleTemplate::kMessage;
    QTest::newRow("mode combo") << ConsoleTemplate::kMode;
}

void TestConsoleDialog::escapeDoesNothing()
{
    QFETCH(int, id);
    ConsoleDialog dialog;
    QVERIFY(ConsoleTestEnvironment::showActive(&dialog));
    dialog.control(id)->setFocus(Qt::TabFocusReason);
    QCOMPARE(focusedId(dialog), id);
    const QString media = comboOf(dialog, ConsoleTemplate::kMedia)->currentText();

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QTest::keyClick(&dialog, Qt::Key_Escape);

    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.result(), 0);
    QCOMPARE(focusedId(dialog), id);
    QCOMPARE(comboOf(dialog, ConsoleTemplate::kMedia)->currentText(), media);
}

void TestConsoleDialog::portIsStoredWhenItsEditLosesFocus()
{
    ConsoleDialog dialog;
    QVERIFY(ConsoleTestEnvironment::showActive(&dialog));
    QLineEdit* port = editOf(dialog, ConsoleTemplate::kPortEdit);
    port->setFocus(Qt::TabFocusReason);
    port->selectAll();
    QTest::keyClicks(port, QStringLiteral("21213"));
    // Not on every keystroke.
    QCOMPARE(ConsoleTestEnvironment::value("SocketPort").toString(), QStringLiteral("21210"));
    QTest::keyClick(port, Qt::Key_Tab);
    QCOMPARE(ConsoleTestEnvironment::value("SocketPort").toString(), QStringLiteral("21213"));

    // Whatever the edit holds, an empty text too.
    port->setFocus(Qt::TabFocusReason);
    port->clear();
    QTest::keyClick(port, Qt::Key_Tab);
    QVERIFY(ConsoleTestEnvironment::value("SocketPort").isValid());
    QCOMPARE(ConsoleTestEnvironment::value("SocketPort").toString(), QString());
}

void TestConsoleDialog::addressIsStoredWhenOperatorChangesAField()
{
    ConsoleDialog dialog;
    QVERIFY(ConsoleTestEnvironment::showActive(&dialog));
    auto* address = controlOf<app::Ipv4AddressEdit>(dialog, ConsoleTemplate::kServerAddress);
    address->setText(QStringLiteral("127.0.0.1"));
    // A text set by the program is no change by the operator.
    QVERIFY(!ConsoleTestEnvironment::value("SocketIp").isValid());

    QLineEdit* last = address->field(3);
    last->setFocus(Qt::MouseFocusReason);
    last->selectAll();
    QTest::keyClicks(last, QStringLiteral("9"));
    QCOMPARE(ConsoleTestEnvironment::value("SocketIp").toString(), QStringLiteral("127.0.0.9"));
    QTest::keyClick(last, Qt::Key_Backspace);
    QCOMPARE(ConsoleTestEnvironment::value("SocketIp").toString(), QStringLiteral("127.0.0."));
    // A field typed with a leading zero is stored as its decimal value.
    QTest::keyClicks(last, QStringLiteral("010"));
    QCOMPARE(ConsoleTestEnvironment::value("SocketIp").toString(), QStringLiteral("127.0.0.10"));
}

void TestConsoleDialog::modeIsSwitchedAndStoredWhenModeBoxLosesFocus_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("flag");
    QTest::addColumn<int>("stored");
    QTest::newRow("RELEASE") << "RELEASE" << 1 << 0;
    QTest::newRow("DEMO") << "DEMO" << 0 << 1;
    QTest::newRow("lower case is not RELEASE") << "release" << 0 << 1;
    QTest::newRow("trailing blank is not RELEASE") << "RELEASE " << 0 << 1;
    QTest::newRow("empty") << "" << 0 << 1;
    QTest::newRow("RELEASE again is stored as 1") << "RELEASE" << 1 << 5;
}

void TestConsoleDialog::modeIsSwitchedAndStoredWhenModeBoxLosesFocus()
{
    QFETCH(QString, typed);
    QFETCH(int, flag);
    QFETCH(int, stored);
    ConsoleTestEnvironment::setValue("bRelease", stored);
    ConsoleDialog dialog;
    QVERIFY(ConsoleTestEnvironment::showActive(&dialog));
    const int before = protocol::DelimiterSet::instance().modeFlag();

    app::DialogComboBox* mode = comboOf(dialog, ConsoleTemplate::kMode);
    mode->setFocus(Qt::TabFocusReason);
    mode->lineEdit()->selectAll();
    QTest::keyClick(mode->lineEdit(), Qt::Key_Delete);
    QTest::keyClicks(mode->lineEdit(), typed);
    // Nothing happens while the box keeps the focus.
    QCOMPARE(protocol::DelimiterSet::instance().modeFlag(), before);
    QCOMPARE(ConsoleTestEnvironment::value("bRelease").toInt(), before);

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QVERIFY(!mode->hasFocus());
    QCOMPARE(protocol::DelimiterSet::instance().modeFlag(), flag);
    QCOMPARE(ConsoleTestEnvironment::value("bRelease").toInt(), flag);
    QCOMPARE(protocol::DelimiterSet::instance().mode(),
             flag != 0 ? protocol::DelimiterMode::Release : protocol::DelimiterMode::Demo);
}

void TestConsoleDialog::settingsWrittenBackAreReadAtNextStart()
{
    {
        ConsoleDialog dialog;
        QVERIFY(ConsoleTestEnvironment::showActive(&dialog));
        QLineEdit* port = editOf(dialog, ConsoleTemplate::kPortEdit);
        port->setFocus(Qt::TabFocusReason);
        port->selectAll();
        QTest::keyClicks(port, QStringLiteral("21217"));
        QTest::keyClick(port, Qt::Key_Tab);

        app::DialogComboBox* mode = comboOf(dialog, ConsoleTemplate::kMode);
        mode->setFocus(Qt::TabFocusReason);
        mode->setCurrentIndex(1);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);

        QTest::mouseClick(dialog.control(ConsoleTemplate::kClose), Qt::LeftButton);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
    }
    ConsoleDialog next;
    QCOMPARE(editOf(next, ConsoleTemplate::kPortEdit)->text(), QStringLiteral("21217"));
    QCOMPARE(comboOf(next, ConsoleTemplate::kMode)->currentText(), QStringLiteral("RELEASE"));
    QCOMPARE(protocol::DelimiterSet::instance().modeFlag(), 1);
}

void TestConsoleDialog::portSpinStepsPortBackwards()
{
    ConsoleDialog dialog;
    QVERIFY(ConsoleTestEnvironment::showActive(&dialog));
    auto* spin = controlOf<app::PortSpin>(dialog, ConsoleTemplate::kPortSpin);
    QLineEdit* port = editOf(dialog, ConsoleTemplate::kPortEdit);
    QCOMPARE(spin->focusPolicy(), Qt::NoFocus);

    QTest::mouseClick(spin->upArrow(), Qt::LeftButton);
    QCOMPARE(port->text(), QStringLiteral("21209"));
    QTest::mouseClick(spin->downArrow(), Qt::LeftButton);
    QTest::mouseClick(spin->downArrow(), Qt::LeftButton);
    QCOMPARE(port->text(), QStringLiteral("21211"));
    // The spin hands the focus to the port edit; the port is stored only when
    // that edit loses it.
    QCOMPARE(focusedId(dialog), ConsoleTemplate::kPortEdit);
    QCOMPARE(ConsoleTestEnvironment::value("SocketPort").toString(), QStringLiteral("21210"));

    port->setFocus(Qt::TabFocusReason);
    QTest::keyClick(port, Qt::Key_Up);
    QCOMPARE(port->text(), QStringLiteral("21210"));
    QTest::keyClick(port, Qt::Key_Down);
    QCOMPARE(port->text(), QStringLiteral("21211"));
}

// Regression: the spin's arrows left the focus where it was, so a port stepped
// with the mouse never went through the port edit's loss of focus and was not
// remembered. Clicks go through the window, as the operator's do.
void TestConsoleDialog::portSteppedWithSpinIsStoredWhenFocusMovesOn()
{
    ConsoleDialog dialog;
    QVERIFY(ConsoleTestEnvironment::showActive(&dialog));
    QCOMPARE(focusedId(dialog), ConsoleTemplate::kConnect);
    auto* spin = controlOf<app::PortSpin>(dialog, ConsoleTemplate::kPortSpin);
    const auto clickOn = [&dialog](QWidget* widget) {
        QTest::mouseClick(dialog.windowHandle(), Qt::LeftButton, {},
                          widget->mapTo(&dialog, widget->rect().center()));
    };

    clickOn(spin->downArrow());
    clickOn(spin->downArrow());
    QCOMPARE(editOf(dialog, ConsoleTemplate::kPortEdit)->text(), QStringLiteral("21212"));
    QCOMPARE(ConsoleTestEnvironment::value("SocketPort").toString(), QStringLiteral("21210"));

    clickOn(dialog.control(ConsoleTemplate::kMessageView));
    QCOMPARE(focusedId(dialog), ConsoleTemplate::kMessageView);
    QCOMPARE(ConsoleTestEnvironment::value("SocketPort").toString(), QStringLiteral("21212"));
}

void TestConsoleDialog::socketEventChangesNothing()
{
    ConsoleDialog dialog;
    QVERIFY(ConsoleTestEnvironment::showActive(&dialog));
    QCoreApplication::postEvent(&dialog, new app::SocketEvent(0x9234, 2, 0));
    QCoreApplication::sendPostedEvents(&dialog);
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.result(), 0);
    QVERIFY(dialog.control(ConsoleTemplate::kConnect)->isEnabled());
    QVERIFY(!dialog.control(ConsoleTemplate::kDisconnect)->isEnabled());
    QVERIFY(
        controlOf<app::MessageView>(dialog, ConsoleTemplate::kMessageView)->contentBytes().empty());
}

void TestConsoleDialog::closeRequestEndsDialogAsAccepted()
{
    ConsoleDialog dialog;
    QVERIFY(ConsoleTestEnvironment::showActive(&dialog));
    QVERIFY(dialog.close());
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
}

void TestConsoleDialog::layoutFollowsFontInDialogUnits_data()
{
    QTest::addColumn<int>("pointSize");
    QTest::newRow("8 pt") << 8;
    QTest::newRow("11 pt") << 11;
    QTest::newRow("16 pt") << 16;
}

void TestConsoleDialog::layoutFollowsFontInDialogUnits()
{
    QFETCH(int, pointSize);
    ConsoleDialog dialog;
    QFont font = dialog.font();
    font.setPointSize(pointSize);
    dialog.setFont(font);
    const app::DialogUnits units(font);

    QCOMPARE(dialog.size(),
             units.toPixels(ConsoleTemplate::kWidthUnits, ConsoleTemplate::kHeightUnits));
    // Every control with an id sits in its template box; a combo box's box
    // holds its field and its dropped-down list, and shows only the field.
    for (const ConsoleTemplate::Control& control : ConsoleTemplate::kControls) {
        if (control.id == ConsoleTemplate::kStatic)
            continue;
        const bool combo = qobject_cast<app::DialogComboBox*>(dialog.control(control.id));
        const int height = combo ? app::ConsoleControls::kComboFieldHeight : control.height;
        QCOMPARE(dialog.control(control.id)->geometry(),
                 units.toPixels(control.x, control.y, control.width, height));
    }

    // No label runs into another control (the frames underneath excepted), and
    // no label is cut.
    const QList<QLabel*> labels = dialog.findChildren<QLabel*>(Qt::FindDirectChildrenOnly);
    QVERIFY(!labels.isEmpty());
    for (QLabel* label : labels) {
        QVERIFY2(label->width() >= label->sizeHint().width(), qPrintable(label->text()));
        for (QWidget* other : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (other == label || qobject_cast<QGroupBox*>(other) ||
                other->metaObject() == &QFrame::staticMetaObject)
                continue;
            QVERIFY2(!label->geometry().intersects(other->geometry()),
                     qPrintable(label->text() + QLatin1String(" overlaps ") + other->objectName()));
        }
    }
}

// Regression: the empty group box lies above "Send this data" in the stacking
// order and took every click meant for the button. A click lands where the
// operator aims it: on every control that takes input, the dialog finds that
// control (or a part of it) under the centre of its box.
void TestConsoleDialog::groupBoxDoesNotSwallowClicksOnControls()
{
    ConsoleDialog dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    for (const ConsoleTemplate::Control& control : ConsoleTemplate::kControls) {
        if (control.id == ConsoleTemplate::kStatic)
            continue;
        QWidget* widget = dialog.control(control.id);
        QVERIFY(widget);
        QWidget* hit = dialog.childAt(widget->geometry().center());
        QVERIFY2(hit == widget || widget->isAncestorOf(hit),
                 qPrintable(widget->objectName() + QLatin1String(" is covered by ") +
                            (hit ? hit->metaObject()->className() : "nothing")));
    }

    // And a click delivered to the window, as the window system delivers it,
    // reaches the button.
    auto* sendThisData = controlOf<QPushButton>(dialog, ConsoleTemplate::kSendThisData);
    QSignalSpy clicked(sendThisData, &QPushButton::clicked);
    QTest::mouseClick(dialog.windowHandle(), Qt::LeftButton, {}, sendThisData->geometry().center());
    QCOMPARE(clicked.count(), 1);
}

QTEST_MAIN(TestConsoleDialog)
#include "tst_consoledialog.moc"

// The IPv4 address control: four fields of 0 to 255, its dotted text, and the
// field-changed signal for the operator's changes only.

#include "app/console/ipv4addressedit.h"

#include <QApplication>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

using app::Ipv4AddressEdit;

namespace
{

// Shows the control holding `start`, enters its first field with its text
// selected, and types `typed` one key at a time into whichever field has the
// focus. False when the control never became active.
bool typeFromFirstField(Ipv4AddressEdit& edit, const QString& start, const QString& typed)
{
    edit.setText(start);
    edit.show();
    if (!QTest::qWaitForWindowActive(&edit))
        return false;
    edit.field(0)->setFocus(Qt::MouseFocusReason);
    edit.field(0)->selectAll();
    for (QChar character : typed)
        QTest::keyClicks(QApplication::focusWidget(), QString(character));
    return true;
}

} // namespace

class TestIpv4AddressEdit : public QObject
{
    Q_OBJECT

private slots:
    void setTextAndText_data();
    void setTextAndText();
    void typingChangesFieldsAndSignals_data();
    void typingChangesFieldsAndSignals();
    void dotAfterThirdDigitDoesNotSkipAField_data();
    void dotAfterThirdDigitDoesNotSkipAField();
    void backspaceAtFieldStartMovesBack();
    void leadingZerosTypedReadAsDecimal_data();
    void leadingZerosTypedReadAsDecimal();
};

void TestIpv4AddressEdit::setTextAndText_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("text");
    QTest::newRow("plain") << "192.168.0.1"
                           << "192.168.0.1";
    QTest::newRow("leading zeros") << "010.001.000.009"
                                   << "10.1.0.9";
    QTest::newRow("above 255 shows 255") << "300.1.2.99999999999"
                                         << "255.1.2.255";
    QTest::newRow("blank field") << "10..0.1"
                                 << "10..0.1";
    QTest::newRow("too few parts") << "10.1"
                                   << "10.1..";
    QTest::newRow("parts after the fourth ignored") << "1.2.3.4.5"
                                                    << "1.2.3.4";
    QTest::newRow("not a number leaves it blank") << "a.2.-3.4"
                                                  << ".2..4";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("host name") << "localhost"
                               << "";
}

void TestIpv4AddressEdit::setTextAndText()
{
    QFETCH(QString, input);
    QFETCH(QString, text);
    Ipv4AddressEdit edit;
    QSignalSpy changed(&edit, &Ipv4AddressEdit::fieldChanged);
    edit.setText(QStringLiteral("9.9.9.9"));
    edit.setText(input);
    QCOMPARE(edit.text(), text);
    QCOMPARE(changed.count(), 0);
}

void TestIpv4AddressEdit::typingChangesFieldsAndSignals_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("signalCount");
    QTest::newRow("dots move on") << "10.1.2.3"
                                  << "10.1.2.3" << 5;
    QTest::newRow("third digit moves on") << "1921680"
                                          << "192.168.0.1" << 7;
    QTest::newRow("above 255 becomes 255") << "300"
                                           << "255.0.0.1" << 3;
    QTest::newRow("blank moves on like a dot") << "7 8"
                                               << "7.8.0.1" << 2;
    QTest::newRow("letters are refused") << "1x2"
                                         << "12.0.0.1" << 2;
}

void TestIpv4AddressEdit::typingChangesFieldsAndSignals()
{
    QFETCH(QString, typed);
    QFETCH(QString, text);
    QFETCH(int, signalCount);
    Ipv4AddressEdit edit;
    QSignalSpy changed(&edit, &Ipv4AddressEdit::fieldChanged);
    // Typing over: each field is selected when entered.
    QVERIFY(typeFromFirstField(edit, QStringLiteral("0.0.0.1"), typed));
    QCOMPARE(edit.text(), text);
    QCOMPARE(changed.count(), signalCount);
    // The last signal names the last field typed in, with its value as shown.
    const QList<QVariant> last = changed.last();
    QCOMPARE(last.at(1).toInt(), edit.fieldValue(last.at(0).toInt()));
}

void TestIpv4AddressEdit::dotAfterThirdDigitDoesNotSkipAField_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("text");
    QTest::newRow("three-digit fields") << "192.168.100.1"
                                        << "192.168.100.1";
    QTest::newRow("three digits, then short fields") << "127.0.0.1"
                                                     << "127.0.0.1";
    QTest::newRow("blanks for dots") << "172 16 254 3"
                                     << "172.16.254.3";
    QTest::newRow("dot in a field just entered") << "1..2"
                                                 << "1.2.9.9";
}

// Regression: a dot typed right after a third digit, which had already moved
// on, moved on once more, so "192.168.0.1" typed as written became an address
// with the second field skipped (192.1.168.01), stored and connected to.
void TestIpv4AddressEdit::dotAfterThirdDigitDoesNotSkipAField()
{
    QFETCH(QString, typed);
    QFETCH(QString, text);
    Ipv4AddressEdit edit;
    QVERIFY(typeFromFirstField(edit, QStringLiteral("9.9.9.9"), typed));
    QCOMPARE(edit.text(), text);
}

void TestIpv4AddressEdit::backspaceAtFieldStartMovesBack()
{
    Ipv4AddressEdit edit;
    edit.setText(QStringLiteral("1.22.3.4"));
    edit.show();
    QVERIFY(QTest::qWaitForWindowActive(&edit));
    edit.field(2)->setFocus(Qt::MouseFocusReason);
    edit.field(2)->setCursorPosition(0);
    QTest::keyClick(edit.field(2), Qt::Key_Backspace);
    QCOMPARE(QApplication::focusWidget(), edit.field(1));
    QTest::keyClick(edit.field(1), Qt::Key_Backspace);
    QCOMPARE(edit.text(), QStringLiteral("1.2.3.4"));
}

void TestIpv4AddressEdit::leadingZerosTypedReadAsDecimal_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("text");
    QTest::newRow("one field with a leading zero") << "192.168.010.1"
                                                   << "192.168.10.1";
    QTest::newRow("every field padded") << "010001000009"
                                        << "10.1.0.9";
    QTest::newRow("zeros only") << "00.000.0.00"
                                << "0.0.0.0";
    QTest::newRow("octal-looking digits") << "017.08.09.1"
                                          << "17.8.9.1";
}

// Regression: the fields went into the text as typed, so 192.168.010.1 reached
// the look-up as "...010", which the dotted-address parser reads as octal
// (192.168.8.1), and the stored SocketIp kept the wrong text.
void TestIpv4AddressEdit::leadingZerosTypedReadAsDecimal()
{
    QFETCH(QString, typed);
    QFETCH(QString, text);
    Ipv4AddressEdit edit;
    QSignalSpy changed(&edit, &Ipv4AddressEdit::fieldChanged);
    QVERIFY(typeFromFirstField(edit, QStringLiteral("9.9.9.9"), typed));
    QCOMPARE(edit.text(), text);
    // Whoever reads the text when a field changes sees no leading zero either.
    QVERIFY(!changed.isEmpty());
    for (int index = 0; index < Ipv4AddressEdit::kFieldCount; ++index)
        QCOMPARE(edit.text().split(QLatin1Char('.')).at(index),
                 QString::number(edit.fieldValue(index)));
}

QTEST_MAIN(TestIpv4AddressEdit)
#include "tst_ipv4addressedit.moc"

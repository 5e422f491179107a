// The port spin: steps the number in its buddy edit, backwards for a range
// given as (21220, 21200), and stops at the bounds.

#include "app/console/portspin.h"

#include <QLineEdit>
#include <QTest>
#include <QToolButton>
#include <QWidget>

class TestPortSpin : public QObject
{
    Q_OBJECT

private slots:
    void stepsBuddyNumber_data();
    void stepsBuddyNumber();
    void arrowKeysInBuddyStep();
};

void TestPortSpin::stepsBuddyNumber_data()
{
    QTest::addColumn<QString>("start");
    // 'u' one click on the up arrow, 'd' on the down arrow.
    QTest::addColumn<QString>("clicks");
    QTest::addColumn<QString>("result");
    QTest::newRow("up lowers") << "21210"
                               << "u"
                               << "21209";
    QTest::newRow("down raises") << "21210"
                                 << "d"
                                 << "21211";
    QTest::newRow("up stops at 21200") << "21201"
                                       << "uuu"
                                       << "21200";
    QTest::newRow("down stops at 21220") << "21219"
                                         << "ddd"
                                         << "21220";
    QTest::newRow("above the range snaps to 21220") << "30000"
                                                    << "u"
                                                    << "21220";
    QTest::newRow("below the range snaps to 21200") << "80"
                                                    << "d"
                                                    << "21200";
    QTest::newRow("blanks around the number") << " 21210 "
                                              << "d"
                                              << "21211";
    QTest::newRow("no number: from the last position") << "abc"
                                                       << "d"
                                                       << "21220";
    QTest::newRow("empty: from the last position") << ""
                                                   << "u"
                                                   << "21219";
}

void TestPortSpin::stepsBuddyNumber()
{
    QFETCH(QString, start);
    QFETCH(QString, clicks);
    QFETCH(QString, result);
    QWidget window;
    auto* edit = new QLineEdit(&window);
    auto* spin = new app::PortSpin(&window);
    spin->setGeometry(100, 0, 20, 28);
    spin->setBuddy(edit);
    spin->setEnds(21220, 21200);
    edit->setText(start);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    int edited = 0;
    connect(edit, &QLineEdit::textEdited, [&edited] { ++edited; });
    for (QChar click : clicks)
        QTest::mouseClick(click == QLatin1Char('u') ? spin->upArrow() : spin->downArrow(),
                          Qt::LeftButton);
    QCOMPARE(edit->text(), result);
    // A step is the program's change, not the operator's edit.
    QCOMPARE(edited, 0);
}

void TestPortSpin::arrowKeysInBuddyStep()
{
    QLineEdit edit;
    app::PortSpin spin;
    spin.setBuddy(&edit);
    spin.setEnds(21220, 21200);
    edit.setText(QStringLiteral("21210"));
    QTest::keyClick(&edit, Qt::Key_Up);
    QCOMPARE(edit.text(), QStringLiteral("21209"));
    QTest::keyClick(&edit, Qt::Key_Down);
    QTest::keyClick(&edit, Qt::Key_Down);
    QCOMPARE(edit.text(), QStringLiteral("21211"));
    // Other keys still reach the edit.
    QTest::keyClick(&edit, Qt::Key_Backspace);
    QCOMPARE(edit.text(), QStringLiteral("2121"));
}

QTEST_MAIN(TestPortSpin)
#include "tst_portspin.moc"

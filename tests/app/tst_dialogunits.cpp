// Dialog units: a quarter of the font's average character width across, an
// eighth of its height down, each value rounded on its own.

#include "app/console/consoletemplate.h"
#include "app/console/dialogunits.h"

#include <QFont>
#include <QFontMetrics>
#include <QTest>

#include <cmath>

using app::DialogUnits;

class TestDialogUnits : public QObject
{
    Q_OBJECT

private slots:
    void unitsToPixels_data();
    void unitsToPixels();
    void baseUnitsComeFromFont_data();
    void baseUnitsComeFromFont();
};

void TestDialogUnits::unitsToPixels_data()
{
    QTest::addColumn<int>("charWidth");
    QTest::addColumn<int>("charHeight");
    QTest::addColumn<int>("units");
    QTest::addColumn<int>("pixelsX");
    QTest::addColumn<int>("pixelsY");
    // A small classic dialog font: 6 x 13 pixels.
    QTest::newRow("dialog width") << 6 << 13 << 524 << 786 << 852;
    QTest::newRow("half rounds up") << 6 << 13 << 2 << 3 << 3;
    QTest::newRow("above half rounds up") << 7 << 13 << 1 << 2 << 2;
    QTest::newRow("below half rounds down") << 5 << 11 << 1 << 1 << 1;
    QTest::newRow("exact") << 8 << 16 << 4 << 8 << 8;
    QTest::newRow("zero") << 7 << 15 << 0 << 0 << 0;
    QTest::newRow("negative rounds away from zero") << 6 << 13 << -2 << -3 << -3;
}

void TestDialogUnits::unitsToPixels()
{
    QFETCH(int, charWidth);
    QFETCH(int, charHeight);
    QFETCH(int, units);
    QFETCH(int, pixelsX);
    QFETCH(int, pixelsY);
    const DialogUnits dialogUnits(charWidth, charHeight);
    QCOMPARE(dialogUnits.toPixelsX(units), pixelsX);
    QCOMPARE(dialogUnits.toPixelsY(units), pixelsY);
}

void TestDialogUnits::baseUnitsComeFromFont_data()
{
    QTest::addColumn<int>("pointSize");
    QTest::newRow("8 pt") << 8;
    QTest::newRow("10 pt") << 10;
    QTest::newRow("20 pt") << 20;
}

void TestDialogUnits::baseUnitsComeFromFont()
{
    QFETCH(int, pointSize);
    QFont font;
    font.setPointSize(pointSize);
    const QFontMetrics metrics(font);
    const DialogUnits units(font);
    const double average = metrics.horizontalAdvance(QStringLiteral(
                               "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) /
                           52.0;
    QVERIFY2(std::abs(units.charWidth() - average) <= 0.5,
             qPrintable(QString::number(units.charWidth()) + " vs " + QString::number(average)));
    QCOMPARE(units.charHeight(), metrics.height());
    // A template box keeps its proportions: a dialog unit is a quarter of the
    // average character width and an eighth of the character height.
    using app::ConsoleTemplate;
    const QRect box =
        units.toPixels(0, 0, ConsoleTemplate::kWidthUnits, ConsoleTemplate::kHeightUnits);
    QVERIFY(std::abs(double(box.width()) / units.charWidth() -
                     double(ConsoleTemplate::kWidthUnits) / DialogUnits::kUnitsPerCharWidth) < 0.5);
    QVERIFY(std::abs(double(box.height()) / units.charHeight() -
                     double(ConsoleTemplate::kHeightUnits) / DialogUnits::kUnitsPerCharHeight) <
            0.5);
}

QTEST_MAIN(TestDialogUnits)
#include "tst_dialogunits.moc"

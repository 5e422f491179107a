// The console's combo boxes: sorted ignoring case, editable, and the data
// exchange that selects the first entry beginning with a text.

#include "app/console/dialogcombobox.h"

#include <QLineEdit>
#include <QTest>

using app::DialogComboBox;

class TestDialogComboBox : public QObject
{
    Q_OBJECT

private slots:
    void sortedBoxSortsIgnoringCase();
    void unsortedBoxKeepsOrder();
    void addingEntriesSelectsNothing();
    void exchangeTextSelectsFirstEntryBeginningWithIt_data();
    void exchangeTextSelectsFirstEntryBeginningWithIt();
    void typedTextIsNotInsertedNorCompleted();
};

namespace
{

const QStringList kDeviceIds = {"",   "01", "02", "03", "04", "05", "10",
                                "99", "A0", "A1", "B1", "1Z", "ZZ"};

QStringList entriesOf(const DialogComboBox& combo)
{
    QStringList entries;
    for (int index = 0; index < combo.count(); ++index)
        entries << combo.itemText(index);
    return entries;
}

} // namespace

void TestDialogComboBox::sortedBoxSortsIgnoringCase()
{
    DialogComboBox combo(DialogComboBox::Order::Sorted);
    for (const QString& entry : kDeviceIds)
        combo.addEntry(entry);
    QCOMPARE(entriesOf(combo), (QStringList{"", "01", "02", "03", "04", "05", "10", "1Z", "99",
                                            "A0", "A1", "B1", "ZZ"}));
    DialogComboBox mixed(DialogComboBox::Order::Sorted);
    for (const char* entry : {"beta", "Alpha", "alpha2", "Beta0", "ALPHA1"})
        mixed.addEntry(QString::fromLatin1(entry));
    QCOMPARE(entriesOf(mixed), (QStringList{"Alpha", "ALPHA1", "alpha2", "beta", "Beta0"}));
}

void TestDialogComboBox::unsortedBoxKeepsOrder()
{
    DialogComboBox combo(DialogComboBox::Order::AsAdded);
    for (const char* entry : {"DEMO", "RELEASE", "A"})
        combo.addEntry(QString::fromLatin1(entry));
    QCOMPARE(entriesOf(combo), (QStringList{"DEMO", "RELEASE", "A"}));
}

void TestDialogComboBox::addingEntriesSelectsNothing()
{
    DialogComboBox combo(DialogComboBox::Order::AsAdded);
    combo.addEntry(QStringLiteral("DEMO"));
    combo.addEntry(QStringLiteral("RELEASE"));
    QCOMPARE(combo.currentIndex(), -1);
    QCOMPARE(combo.exchangeText(), QString());
}

void TestDialogComboBox::exchangeTextSelectsFirstEntryBeginningWithIt_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("index");
    const QStringList media = {"", "B - BARCODE", "L - LEGIC", "M - MIFARE"};
    const QStringList commands = {"",
                                  "ENT -  Entrence",
                                  "EXT -  Exit",
                                  "DEL -  Delete",
                                  "IGN  -  Ignore",
                                  "ERR -  Error",
                                  "END -  End",
                                  "TIM  -  Time"};
    QTest::newRow("media code") << media << "B"
                                << "B - BARCODE" << 1;
    QTest::newRow("ignoring case") << media << "l - l"
                                   << "L - LEGIC" << 2;
    QTest::newRow("whole entry") << media << "M - MIFARE"
                                 << "M - MIFARE" << 3;
    QTest::newRow("no entry begins with it") << media << "X"
                                             << "X" << -1;
    QTest::newRow("longer than any entry") << media << "B - BARCODE!"
                                           << "B - BARCODE!" << -1;
    QTest::newRow("empty selects the first entry") << media << ""
                                                   << "" << 0;
    QTest::newRow("first of several: END before ENT") << commands << "EN"
                                                      << "END -  End" << 2;
    QTest::newRow("command code") << commands << "ENT"
                                  << "ENT -  Entrence" << 3;
    QTest::newRow("device id") << kDeviceIds << "a1"
                               << "A1" << 10;
    QTest::newRow("device id prefix 1") << kDeviceIds << "1"
                                        << "10" << 6;
    QTest::newRow("mode") << QStringList{"DEMO", "RELEASE"} << ""
                          << "DEMO" << 0;
}

void TestDialogComboBox::exchangeTextSelectsFirstEntryBeginningWithIt()
{
    QFETCH(QStringList, entries);
    QFETCH(QString, text);
    QFETCH(QString, shown);
    QFETCH(int, index);
    const bool sorted = entries.size() > 2;
    DialogComboBox combo(sorted ? DialogComboBox::Order::Sorted : DialogComboBox::Order::AsAdded);
    for (const QString& entry : entries)
        combo.addEntry(entry);
    combo.setExchangeText(text);
    QCOMPARE(combo.exchangeText(), shown);
    QCOMPARE(combo.currentIndex(), index);

    // Once more after the operator typed over the field.
    combo.lineEdit()->setText(QStringLiteral("typed"));
    combo.setExchangeText(text);
    QCOMPARE(combo.exchangeText(), shown);
}

void TestDialogComboBox::typedTextIsNotInsertedNorCompleted()
{
    DialogComboBox combo(DialogComboBox::Order::AsAdded);
    combo.addEntry(QStringLiteral("DEMO"));
    combo.addEntry(QStringLiteral("RELEASE"));
    combo.show();
    QVERIFY(QTest::qWaitForWindowActive(&combo));
    combo.setFocus();
    QTest::keyClicks(&combo, QStringLiteral("R"));
    QCOMPARE(combo.exchangeText(), QStringLiteral("R"));
    QTest::keyClicks(&combo, QStringLiteral("ELEASE2"));
    QTest::keyClick(&combo, Qt::Key_Return);
    QCOMPARE(combo.count(), 2);
    QCOMPARE(combo.exchangeText(), QStringLiteral("RELEASE2"));
}

QTEST_MAIN(TestDialogComboBox)
#include "tst_dialogcombobox.moc"

#include "app/view/pendingtext.h"

#include <QTest>

#include <algorithm>
#include <string>

using app::PendingText;

namespace
{

void append(PendingText& pending, const std::string& display)
{
    const std::size_t from = pending.target().size();
    pending.target() += display;
    pending.appended(from, std::count(display.begin(), display.end(), '\n'));
}

} // namespace

class TestPendingText : public QObject
{
    Q_OBJECT

private slots:
    void frontEndsAfterALineBreakWhenOneFits();
    void dropsWholeLinesFromTheFront();
    void keepsCountsAcrossCompaction();
};

void TestPendingText::frontEndsAfterALineBreakWhenOneFits()
{
    PendingText pending;
    append(pending, "one\ntwo\nthree");
    QCOMPARE(pending.front(6), std::string_view("one\n"));
    QCOMPARE(pending.front(8), std::string_view("one\ntwo\n"));
    // No break within: a piece of the line.
    QCOMPARE(pending.front(2), std::string_view("on"));
    QCOMPARE(pending.front(100), std::string_view("one\ntwo\nthree"));
    QCOMPARE(pending.lastLineLength(), std::size_t(5));
}

void TestPendingText::dropsWholeLinesFromTheFront()
{
    PendingText pending;
    append(pending, "a\nbb\nccc");
    QCOMPARE(pending.breaksBefore(4), std::int64_t(1));
    QCOMPARE(pending.dropLines(2), std::size_t(5));
    QCOMPARE(pending.text(), std::string_view("ccc"));
    QCOMPARE(pending.breaks(), std::int64_t(0));
    // Without a break, the open line is all there is.
    QCOMPARE(pending.lastLineLength(), std::size_t(3));
    append(pending, "d\ne");
    QCOMPARE(pending.lastLineLength(), std::size_t(1));
}

void TestPendingText::keepsCountsAcrossCompaction()
{
    // Enough leaves the front that the storage is compacted, more than once.
    PendingText pending;
    const std::string line(99, 'x');
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 5000; ++i)
            append(pending, line + "\n");
        append(pending, "open");
        QCOMPARE(pending.lastLineLength(), std::size_t(4));
        pending.dropLines(4000);
        QCOMPARE(pending.lastLineLength(), std::size_t(4));
        QCOMPARE(pending.breaks(), std::int64_t(1000));
        pending.dropFront(pending.size() - 4);
        QCOMPARE(pending.text(), std::string_view("open"));
        QCOMPARE(pending.breaks(), std::int64_t(0));
        pending.dropFront(4);
        QVERIFY(pending.empty());
    }
}

QTEST_MAIN(TestPendingText)
#include "tst_pendingtext.moc"

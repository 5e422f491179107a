#include "app/view/messageview.h"

#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

using app::MessageView;

Q_DECLARE_METATYPE(std::string)

namespace
{

std::string str(const QByteArray& bytes)
{
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

// Appends `bytes` in pieces of `piece` bytes, as the watcher hands over blocks.
void appendInPieces(MessageView& view, const std::string& bytes, std::size_t piece)
{
    for (std::size_t at = 0; at < bytes.size(); at += piece)
        view.appendBytes(std::string_view(bytes).substr(at, piece));
}

// Cuts `bytes` into texts of 1 to `maxPiece` bytes (a fixed pseudo-random
// sequence), as a device's blocks might come.
std::vector<std::string> cutIntoTexts(const std::string& bytes, std::size_t maxPiece)
{
    std::vector<std::string> texts;
    std::uint32_t state = 12345;
    for (std::size_t at = 0; at < bytes.size();) {
        state = state * 1103515245u + 12345u;
        const std::size_t piece = 1 + (state >> 8) % maxPiece;
        texts.push_back(bytes.substr(at, piece));
        at += piece;
    }
    return texts;
}

// Texts as a drain hands them to the view: back to back, with their lengths.
struct Batch {
    std::string joined;
    std::vector<std::uint32_t> lengths;
};

// The batch of up to `count` texts from `first` on.
Batch batchOf(const std::vector<std::string>& texts, std::size_t first, std::size_t count)
{
    Batch batch;
    for (std::size_t i = first; i < std::min(texts.size(), first + count); ++i) {
        batch.joined += texts[i];
        batch.lengths.push_back(static_cast<std::uint32_t>(texts[i].size()));
    }
    return batch;
}

// The text of the line at the top of the view's viewport.
QString topLine(const MessageView& view)
{
    return view.cursorForPosition(QPoint(1, 1)).block().text();
}

} // namespace

class TestMessageView : public QObject
{
    Q_OBJECT

private slots:
    void everyByteShowsAsItsLatin1Character_data();
    void everyByteShowsAsItsLatin1Character();
    void lineBreaks_data();
    void lineBreaks();
    void replaceText_data();
    void replaceText();
    void keepsTheNewestLinesWithinTheLineLimit();
    void breaksOverlongLinesForDisplay_data();
    void breaksOverlongLinesForDisplay();
    void staysBoundedWithoutLineBreaks();
    void keepsTheNewestLinesWithinTheCharacterLimit();
    void appendLeavesTheOperatorsSelection();
    void viewAtTheEndFollowsAppends();
    void scrolledViewKeepsItsLinesInSight();
    void batchedTextsMatchOneAppendEach_data();
    void batchedTextsMatchOneAppendEach();
    void queuedTextsShownInPiecesMatchOneAppendEach_data();
    void queuedTextsShownInPiecesMatchOneAppendEach();
    void appendShowsWhatIsPendingFirst();
};

void TestMessageView::everyByteShowsAsItsLatin1Character_data()
{
    QTest::addColumn<int>("piece");
    QTest::newRow("one append") << 1000;
    QTest::newRow("byte by byte") << 1;
}

void TestMessageView::everyByteShowsAsItsLatin1Character()
{
    QFETCH(int, piece);
    std::string bytes;
    for (int b = 1; b < 256; ++b)
        bytes += static_cast<char>(b);
    MessageView view;
    appendInPieces(view, bytes, static_cast<std::size_t>(piece));

    std::string expected = bytes;
    expected[12] = '\n'; // the lone CR (13) ends a line like the LF (10) before it
    QCOMPARE(view.contentBytes(), expected);
    // The document holds the very characters, 0xA0 included.
    const QString raw = view.document()->toRawText();
    QCOMPARE(raw.size(), 255);
    QCOMPARE(raw.at(0x9F).unicode(), char16_t(0xA0));
    QCOMPARE(raw.at(254).unicode(), char16_t(0xFF));
}

void TestMessageView::lineBreaks_data()
{
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<QByteArray>("expected");
    using L = QList<QByteArray>;
    QTest::newRow("CR LF") << L{"ab\r\ncd"} << QByteArray("ab\ncd");
    QTest::newRow("lone LF") << L{"ab\ncd"} << QByteArray("ab\ncd");
    QTest::newRow("lone CR") << L{"ab\rcd"} << QByteArray("ab\ncd");
    QTest::newRow("CR | LF split") << L{"ab\r", "\ncd"} << QByteArray("ab\ncd");
    QTest::newRow("CR | empty | LF") << L{"ab\r", "", "\ncd"} << QByteArray("ab\ncd");
    QTest::newRow("CR | text | LF") << L{"a\r", "b", "\n"} << QByteArray("a\nb\n");
    QTest::newRow("CR CR LF") << L{"a\r\r\nb"} << QByteArray("a\n\nb");
    QTest::newRow("CR | CR LF") << L{"a\r", "\r\nb"} << QByteArray("a\n\nb");
    QTest::newRow("LF CR") << L{"a\n\rb"} << QByteArray("a\n\nb");
    QTest::newRow("LF | LF") << L{"a\n", "\nb"} << QByteArray("a\n\nb");
    QTest::newRow("open line goes on") << L{"ab", "cd\r\n", "ef"} << QByteArray("abcd\nef");
    QTest::newRow("NUL ends the text") << L{QByteArray("ab\0cd", 5), "ef"} << QByteArray("abef");
    QTest::newRow("CR before NUL") << L{QByteArray("a\r\0x", 4), "\nb"} << QByteArray("a\nb");
}

void TestMessageView::lineBreaks()
{
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(QByteArray, expected);
    MessageView view;
    for (const QByteArray& piece : pieces)
        view.appendBytes(str(piece));
    QCOMPARE(view.contentBytes(), str(expected));
}

void TestMessageView::replaceText_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("replacement");
    QTest::addColumn<QByteArray>("after");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("connect line replaces traffic")
        << QByteArray("old\r\ntraffic") << QByteArray("Socket created: IP: 0.0.0.0, Port: 0\r\n")
        << QByteArray("x") << QByteArray("Socket created: IP: 0.0.0.0, Port: 0\nx");
    QTest::newRow("old CR forgotten")
        << QByteArray("old\r") << QByteArray("new") << QByteArray("\nz") << QByteArray("new\nz");
    QTest::newRow("new CR pairs with LF")
        << QByteArray("old") << QByteArray("new\r") << QByteArray("\nz") << QByteArray("new\nz");
}

void TestMessageView::replaceText()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, replacement);
    QFETCH(QByteArray, after);
    QFETCH(QByteArray, expected);
    MessageView view;
    view.appendBytes(str(before));
    view.replaceText(str(replacement));
    view.appendBytes(str(after));
    QCOMPARE(view.contentBytes(), str(expected));
    // An undo history would keep every appended text.
    QVERIFY(!view.document()->isUndoRedoEnabled());
}

void TestMessageView::keepsTheNewestLinesWithinTheLineLimit()
{
    constexpr int kLines = 2 * MessageView::kMaxLines;
    std::string bytes;
    for (int i = 0; i < kLines; ++i)
        bytes += "line " + std::to_string(i) + "\r\n";
    MessageView view;
    appendInPieces(view, bytes, 2048);

    // The newest lines, each whole, in order; the open (empty) line after the
    // last CR LF counts as one of them.
    QTextDocument* doc = view.document();
    const int kept = doc->blockCount();
    QVERIFY(kept <= MessageView::kMaxLines);
    QVERIFY(kept >= MessageView::kMaxLines - MessageView::kTrimLines);
    QCOMPARE(doc->firstBlock().text(), QStringLiteral("line %1").arg(kLines - kept + 1));
    QCOMPARE(doc->lastBlock().previous().text(), QStringLiteral("line %1").arg(kLines - 1));
    QVERIFY(doc->lastBlock().text().isEmpty());
}

void TestMessageView::breaksOverlongLinesForDisplay_data()
{
    constexpr int kMax = MessageView::kMaxLineLength;
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("piece");
    QTest::addColumn<QList<int>>("lineLengths");
    QTest::newRow("exactly the limit") << kMax << 2048 << QList<int>{kMax, 0};
    QTest::newRow("one more") << kMax + 1 << 2048 << QList<int>{kMax, 1, 0};
    QTest::newRow("twice and a bit, byte by byte")
        << 2 * kMax + 10 << 1 << QList<int>{kMax, kMax, 10, 0};
}

void TestMessageView::breaksOverlongLinesForDisplay()
{
    QFETCH(int, length);
    QFETCH(int, piece);
    QFETCH(QList<int>, lineLengths);
    std::string bytes;
    for (int i = 0; i < length; ++i)
        bytes += static_cast<char>('a' + i % 26);
    MessageView view;
    appendInPieces(view, bytes + "\r\n", static_cast<std::size_t>(piece));

    QList<int> lengths;
    for (QTextBlock b = view.document()->firstBlock(); b.isValid(); b = b.next())
        lengths << b.length() - 1;
    QCOMPARE(lengths, lineLengths);
    std::string shown = view.contentBytes();
    std::erase(shown, '\n');
    QCOMPARE(shown, bytes);
}

void TestMessageView::staysBoundedWithoutLineBreaks()
{
    constexpr std::size_t kTotal = 10 * 1024 * 1024;
    std::string bytes(kTotal, '\0');
    for (std::size_t i = 0; i < kTotal; ++i)
        bytes[i] = static_cast<char>('0' + i % 43);
    MessageView view;
    appendInPieces(view, bytes, 2048);

    QTextDocument* doc = view.document();
    QVERIFY(doc->characterCount() - 1 <= MessageView::kMaxChars);
    QVERIFY(doc->characterCount() - 1 >= MessageView::kMaxChars - MessageView::kTrimChars - 2048);
    for (QTextBlock b = doc->firstBlock(); b.isValid(); b = b.next())
        QVERIFY(b.length() - 1 <= MessageView::kMaxLineLength);
    // What is left is the newest part of the stream, unchanged.
    std::string shown = view.contentBytes();
    std::erase(shown, '\n');
    QVERIFY(bytes.ends_with(shown));
}

void TestMessageView::keepsTheNewestLinesWithinTheCharacterLimit()
{
    // Long lines reach the character limit long before the line limit.
    const std::string tail(900, 'x');
    std::string bytes;
    int lines = 0;
    while (bytes.size() < static_cast<std::size_t>(MessageView::kMaxChars) * 3 / 2)
        bytes += std::to_string(lines++) + ":" + tail + "\r\n";
    MessageView view;
    appendInPieces(view, bytes, 2048);

    QTextDocument* doc = view.document();
    QVERIFY(doc->characterCount() - 1 <= MessageView::kMaxChars);
    QVERIFY(doc->characterCount() - 1 >= MessageView::kMaxChars - MessageView::kTrimChars - 3100);
    // Whole lines were dropped: the first one left is complete.
    const QString first = doc->firstBlock().text();
    QVERIFY(first.endsWith(QLatin1Char(':') + QString::fromStdString(tail)));
    QCOMPARE(doc->lastBlock().previous().text().section(QLatin1Char(':'), 0, 0).toInt(), lines - 1);
}

void TestMessageView::appendLeavesTheOperatorsSelection()
{
    MessageView view;
    view.appendBytes("first line\r\nsecond");
    QTextCursor selection = view.textCursor();
    selection.setPosition(2);
    selection.setPosition(8, QTextCursor::KeepAnchor);
    view.setTextCursor(selection);

    view.appendBytes(" line\r\nthird\r\n");
    QCOMPARE(view.textCursor().anchor(), 2);
    QCOMPARE(view.textCursor().position(), 8);
    QCOMPARE(view.textCursor().selectedText(), QStringLiteral("rst li"));
}

void TestMessageView::viewAtTheEndFollowsAppends()
{
    MessageView view;
    view.resize(400, 200);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QScrollBar* bar = view.verticalScrollBar();
    for (int i = 0; i < 500; ++i)
        view.appendBytes("line " + std::to_string(i) + "\r\n");
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());
    QVERIFY(topLine(view).startsWith(QStringLiteral("line 4")));

    // Also once the view is full and the oldest lines go.
    std::string more;
    for (int i = 0; i < MessageView::kMaxLines; ++i)
        more += "more " + std::to_string(i) + "\r\n";
    appendInPieces(view, more, 2048);
    QCOMPARE(bar->value(), bar->maximum());
    QVERIFY(topLine(view).startsWith(QStringLiteral("more 999")));
}

void TestMessageView::scrolledViewKeepsItsLinesInSight()
{
    MessageView view;
    view.resize(400, 200);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    std::string bytes;
    for (int i = 0; i < MessageView::kMaxLines; ++i)
        bytes += "line " + std::to_string(i) + "\r\n";
    appendInPieces(view, bytes, 2048);
    QScrollBar* bar = view.verticalScrollBar();
    bar->setValue(bar->maximum() - 1000);
    const QString top = topLine(view);
    QVERIFY(top.startsWith(QStringLiteral("line ")));

    // New lines push old ones out; the operator still sees the same line.
    const int firstBefore = view.document()->firstBlock().text().mid(5).toInt();
    std::string more;
    for (int i = 0; i < 2 * MessageView::kTrimLines; ++i)
        more += "new " + std::to_string(i) + "\r\n";
    appendInPieces(view, more, 2048);
    QVERIFY(view.document()->firstBlock().text().mid(5).toInt() > firstBefore);
    QCOMPARE(topLine(view), top);
    QVERIFY(bar->value() < bar->maximum());
}

void TestMessageView::batchedTextsMatchOneAppendEach_data()
{
    QTest::addColumn<std::string>("bytes");
    QTest::addColumn<int>("maxPiece");
    QTest::addColumn<int>("batch");

    std::string shortLines;
    for (int i = 0; shortLines.size() < 1536u * 1024; ++i)
        shortLines += (i % 7 == 0 ? "\n" : "") + std::to_string(i) + (i % 3 ? "\r\n" : "\r");
    QTest::newRow("short lines past the line limit") << shortLines << 300 << 700;

    const std::string tail(900, 'x');
    std::string longLines;
    for (int i = 0; longLines.size() < static_cast<std::size_t>(MessageView::kMaxChars) * 3 / 2;
         ++i)
        longLines += std::to_string(i) + ":" + tail + "\r\n";
    QTest::newRow("long lines past the character limit") << longLines << 2048 << 150;

    std::string noBreaks(9 * 1024 * 1024, '\0');
    for (std::size_t i = 0; i < noBreaks.size(); ++i)
        noBreaks[i] = static_cast<char>('!' + i % 90);
    QTest::newRow("no line breaks") << noBreaks << 2048 << 128;

    std::string mixed;
    for (int i = 0; i < 300; ++i)
        mixed += std::string("ab\0cd\r", 6) + "\n" + std::string(i % 5, '\0') + "e\r";
    QTest::newRow("NULs, empty texts, CR and LF apart") << mixed << 4 << 3;
}

void TestMessageView::batchedTextsMatchOneAppendEach()
{
    QFETCH(std::string, bytes);
    QFETCH(int, maxPiece);
    QFETCH(int, batch);
    const std::vector<std::string> texts = cutIntoTexts(bytes, static_cast<std::size_t>(maxPiece));

    MessageView oneByOne;
    for (const std::string& text : texts)
        oneByOne.appendBytes(text);

    MessageView batched;
    const auto perBatch = static_cast<std::size_t>(batch);
    for (std::size_t first = 0; first < texts.size(); first += perBatch) {
        const Batch next = batchOf(texts, first, perBatch);
        batched.appendTexts(next.joined, next.lengths);
    }

    QCOMPARE(batched.document()->blockCount(), oneByOne.document()->blockCount());
    QVERIFY(batched.contentBytes() == oneByOne.contentBytes());
    QVERIFY(batched.document()->blockCount() <= MessageView::kMaxLines);
    QVERIFY(batched.document()->characterCount() - 1 <= MessageView::kMaxChars);
}

void TestMessageView::queuedTextsShownInPiecesMatchOneAppendEach_data()
{
    QTest::addColumn<std::string>("bytes");
    QTest::addColumn<int>("maxPiece");
    QTest::addColumn<int>("batch");
    QTest::addColumn<int>("showChars"); // shown after each batch; 0: only at the end
    QTest::addColumn<bool>("dropsPending");

    std::string shortLines;
    for (int i = 0; shortLines.size() < 1536u * 1024; ++i)
        shortLines += (i % 7 == 0 ? "\n" : "") + std::to_string(i) + (i % 3 ? "\r\n" : "\r");
    // More than two views' worth of lines, none shown until they are all in.
    QTest::newRow("short lines, all pending") << shortLines << 300 << 700 << 0 << true;
    // The document fills, then text comes faster than it is shown: the
    // limits drop the document's lines and then pending ones.
    QTest::newRow("short lines, shown slower than they come")
        << shortLines << 300 << 700 << 3000 << true;
    QTest::newRow("short lines, shown as they come")
        << shortLines << 300 << 700 << 1000000 << false;

    const std::string tail(900, 'x');
    std::string longLines;
    for (int i = 0; longLines.size() < static_cast<std::size_t>(MessageView::kMaxChars) * 3 / 2;
         ++i)
        longLines += std::to_string(i) + ":" + tail + "\r\n";
    QTest::newRow("long lines past the character limit, shown slowly")
        << longLines << 2048 << 150 << 40000 << true;

    std::string noBreaks(9 * 1024 * 1024, '\0');
    for (std::size_t i = 0; i < noBreaks.size(); ++i)
        noBreaks[i] = static_cast<char>('!' + i % 90);
    QTest::newRow("no line breaks, all pending") << noBreaks << 2048 << 128 << 0 << true;

    std::string mixed;
    for (int i = 0; i < 300; ++i)
        mixed += std::string("ab\0cd\r", 6) + "\n" + std::string(i % 5, '\0') + "e\r";
    QTest::newRow("NULs, CR and LF apart, a character at a time") << mixed << 4 << 3 << 1 << false;
}

void TestMessageView::queuedTextsShownInPiecesMatchOneAppendEach()
{
    QFETCH(std::string, bytes);
    QFETCH(int, maxPiece);
    QFETCH(int, batch);
    QFETCH(int, showChars);
    QFETCH(bool, dropsPending);
    const std::vector<std::string> texts = cutIntoTexts(bytes, static_cast<std::size_t>(maxPiece));

    MessageView oneByOne;
    for (const std::string& text : texts)
        oneByOne.appendBytes(text);

    MessageView queued;
    const auto perBatch = static_cast<std::size_t>(batch);
    for (std::size_t first = 0; first < texts.size(); first += perBatch) {
        const Batch next = batchOf(texts, first, perBatch);
        queued.queueTexts(next.joined, next.lengths);
        // Never more than the limits, pending text included.
        QVERIFY(queued.document()->blockCount() <= MessageView::kMaxLines);
        QVERIFY(queued.document()->characterCount() - 1 + qint64(queued.pendingChars()) <=
                MessageView::kMaxChars + 2048);
        if (showChars > 0)
            queued.showPending(static_cast<std::size_t>(showChars));
    }
    const std::size_t piece = showChars > 0 ? static_cast<std::size_t>(showChars) : 65536;
    while (queued.pendingChars() > 0)
        QVERIFY(queued.showPending(piece) > 0);

    QCOMPARE(queued.document()->blockCount(), oneByOne.document()->blockCount());
    QVERIFY(queued.contentBytes() == oneByOne.contentBytes());
    QCOMPARE(queued.charsNeverShown() > 0, dropsPending);
    QCOMPARE(oneByOne.charsNeverShown(), std::uint64_t(0));
}

void TestMessageView::appendShowsWhatIsPendingFirst()
{
    MessageView view;
    view.appendBytes("shown\r");
    const std::uint32_t lengths[] = {3, 4};
    view.queueTexts("\nabcdef", lengths);
    QCOMPARE(view.contentBytes(), std::string("shown\n"));
    QCOMPARE(view.pendingChars(), std::size_t(6));

    // The CR that ended the shown text and the LF that started the pending
    // one made one break; the append goes on after the pending text.
    view.appendBytes("gh\r\n");
    QCOMPARE(view.pendingChars(), std::size_t(0));
    QCOMPARE(view.contentBytes(), std::string("shown\nabcdefgh\n"));

    view.queueTexts("pending", std::span<const std::uint32_t>(lengths, 1));
    view.replaceText("Connected\r\n");
    QCOMPARE(view.pendingChars(), std::size_t(0));
    QCOMPARE(view.contentBytes(), std::string("Connected\n"));
}

QTEST_MAIN(TestMessageView)
#include "tst_messageview.moc"

#include "messageview.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <limits>
#include <memory>

namespace app
{

namespace
{

// Cuts a text before its first NUL byte.
std::string_view untilNul(std::string_view bytes)
{
    return bytes.substr(0, bytes.find('\0'));
}

} // namespace

MessageView::MessageView(QWidget* parent) : QPlainTextEdit(parent)
{
    setReadOnly(false);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // No undo history: it would keep every appended text for as long as the
    // console runs. The document's own block limit is left off: it trims on
    // every append that goes beyond it, laying out each dropped line on the way
    // and copying the whole text now and then, which made appends to a full
    // view several times dearer than dropOldestLines() does.
    setUndoRedoEnabled(false);
}

void MessageView::displayBytes(std::string_view bytes, int& lineLength, int& breaks,
                               std::string& out)
{
    out.reserve(out.size() + bytes.size() + bytes.size() / kMaxLineLength + 1);
    for (const char c : bytes) {
        if (c == '\n' && crPending_) {
            crPending_ = false;
            continue;
        }
        crPending_ = c == '\r';
        if (c == '\r' || c == '\n') {
            out += '\n';
            lineLength = 0;
            ++breaks;
            continue;
        }
        if (lineLength >= kMaxLineLength) {
            out += '\n';
            lineLength = 0;
            ++breaks;
        }
        out += c;
        ++lineLength;
    }
}

void MessageView::insertAtEnd(const std::string& display)
{
    // A cursor of our own, so the operator's cursor and selection stay on
    // their text.
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(QString::fromLatin1(display.data(), static_cast<qsizetype>(display.size())));
}

void MessageView::appendBytes(std::string_view bytes)
{
    bytes = untilNul(bytes);
    if (bytes.empty())
        return;
    const auto length = static_cast<std::uint32_t>(
        std::min<std::size_t>(bytes.size(), std::numeric_limits<std::uint32_t>::max()));
    appendTexts(bytes, std::span(&length, 1));
}

void MessageView::appendTexts(std::string_view bytes, std::span<const std::uint32_t> lengths)
{
    QTextDocument* doc = document();
    QScrollBar* bar = verticalScrollBar();
    const int scrollValue = bar->value();
    const bool atEnd = scrollValue >= bar->maximum();
    const int blocksBefore = doc->blockCount();

    // What the document will hold once display_ is inserted: where it goes
    // beyond a limit, one append per text would have trimmed right after that
    // text, so the characters so far go in and the trim runs there too.
    qint64 chars = doc->characterCount() - 1;
    qint64 lines = blocksBefore;
    int lineLength = doc->lastBlock().length() - 1;
    int breaks = 0;
    display_.clear();
    std::size_t at = 0;
    for (const std::uint32_t length : lengths) {
        if (at >= bytes.size())
            break;
        const std::string_view text = untilNul(bytes.substr(at, length));
        at += length;
        const std::size_t before = display_.size();
        int textBreaks = 0;
        displayBytes(text, lineLength, textBreaks, display_);
        if (display_.size() == before)
            continue;
        breaks += textBreaks;
        chars += static_cast<qint64>(display_.size() - before);
        lines += textBreaks;
        if (chars > kMaxChars || lines > kMaxLines) {
            insertAtEnd(display_);
            display_.clear();
            dropOldestLines();
            chars = doc->characterCount() - 1;
            lines = doc->blockCount();
        }
    }
    if (!display_.empty())
        insertAtEnd(display_);
    // Storage for one batch at most is kept between appends.
    if (display_.capacity() > kMaxKeptDisplay)
        std::string().swap(display_);

    const int dropped = blocksBefore + breaks - doc->blockCount();
    if (atEnd)
        bar->setValue(bar->maximum());
    else if (dropped > 0)
        bar->setValue(std::max(0, scrollValue - dropped));
}

void MessageView::replaceText(std::string_view bytes)
{
    crPending_ = false;
    int lineLength = 0;
    int breaks = 0;
    std::string text;
    displayBytes(untilNul(bytes), lineLength, breaks, text);
    setPlainText(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
    dropOldestLines();
}

void MessageView::dropOldestLines()
{
    QTextDocument* doc = document();
    const int chars = doc->characterCount() - 1; // without the separator after the last line
    const int lines = doc->blockCount();
    if (chars <= kMaxChars && lines <= kMaxLines)
        return;
    // Down to a little below both limits, so the next appends need no trimming.
    int firstKept = std::max(0, lines - (kMaxLines - kTrimLines));
    const int excessChars = chars - (kMaxChars - kTrimChars);
    if (excessChars > 0)
        firstKept = std::max(firstKept, doc->findBlock(excessChars - 1).blockNumber() + 1);
    firstKept = std::min(firstKept, lines - 1); // the last line always stays
    if (firstKept <= 0)
        return;
    // setPosition() rather than moving block by block, which would lay out
    // every line on the way.
    QTextCursor cut(doc);
    cut.setPosition(doc->findBlockByNumber(firstKept).position(), QTextCursor::KeepAnchor);
    cut.removeSelectedText();
    // With undo off the document frees the removed text's storage only when
    // told that undo is off; it does so once enough has piled up.
    doc->setUndoRedoEnabled(false);
}

std::string MessageView::contentBytes() const
{
    const QString raw = document()->toRawText();
    std::string bytes(static_cast<std::size_t>(raw.size()), '\0');
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const char16_t c = raw.at(i).unicode();
        char byte = static_cast<char>(c);
        if (c == QChar::ParagraphSeparator || c == QChar::LineSeparator)
            byte = '\n';
        else if (c > 0xFF)
            byte = '?';
        bytes[static_cast<std::size_t>(i)] = byte;
    }
    return bytes;
}

QMenu* MessageView::createContextMenu()
{
    QMenu* menu = createStandardContextMenu();
    menu->addSeparator();
    menu->addAction(tr("Traffic…"), this, &MessageView::trafficRequested);
    return menu;
}

void MessageView::contextMenuEvent(QContextMenuEvent* event)
{
    const std::unique_ptr<QMenu> menu(createContextMenu());
    menu->exec(event->globalPos());
}

} // namespace app

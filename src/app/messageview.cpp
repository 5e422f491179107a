#include "messageview.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
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

std::string MessageView::displayBytes(std::string_view bytes, int lineLength, int& breaks)
{
    std::string out;
    out.reserve(bytes.size() + bytes.size() / kMaxLineLength + 1);
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
    return out;
}

void MessageView::appendBytes(std::string_view bytes)
{
    bytes = untilNul(bytes);
    if (bytes.empty())
        return;

    QTextDocument* doc = document();
    QScrollBar* bar = verticalScrollBar();
    const int scrollValue = bar->value();
    const bool atEnd = scrollValue >= bar->maximum();
    const int blocksBefore = doc->blockCount();

    int breaks = 0;
    const std::string text = displayBytes(bytes, doc->lastBlock().length() - 1, breaks);
    if (!text.empty()) {
        // A cursor of our own, so the operator's cursor and selection stay on
        // their text.
        QTextCursor cursor(doc);
        cursor.movePosition(QTextCursor::End);
        cursor.insertText(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
        dropOldestLines();
    }

    const int dropped = blocksBefore + breaks - doc->blockCount();
    if (atEnd)
        bar->setValue(bar->maximum());
    else if (dropped > 0)
        bar->setValue(std::max(0, scrollValue - dropped));
}

void MessageView::replaceText(std::string_view bytes)
{
    crPending_ = false;
    int breaks = 0;
    const std::string text = displayBytes(untilNul(bytes), 0, breaks);
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

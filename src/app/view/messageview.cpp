#include "messageview.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <bit>
#include <limits>
#include <memory>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace app
{

namespace
{

// Cuts a text before its first NUL byte.
std::string_view untilNul(std::string_view bytes)
{
    return bytes.substr(0, bytes.find('\0'));
}

// The first CR or LF in [at, end), or end. A flood's every byte goes through
// here on the UI thread, so sixteen at a time where the processor allows.
const char* findLineEnd(const char* at, const char* end)
{
#if defined(__SSE2__)
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    while (end - at >= 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        const int found =
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(bytes, cr), _mm_cmpeq_epi8(bytes, lf)));
        if (found != 0)
            return at + std::countr_zero(static_cast<unsigned>(found));
        at += 16;
    }
#endif
    while (at < end && *at != '\r' && *at != '\n')
        ++at;
    return at;
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
    // view several times dearer than trimming a batch of lines at a time.
    setUndoRedoEnabled(false);
}

void MessageView::displayBytes(std::string_view bytes, int& lineLength, int& breaks,
                               std::string& out)
{
    // Grows geometrically: `out` may be the pending text, which takes many
    // small texts one after another.
    const std::size_t needed = out.size() + bytes.size() + bytes.size() / kMaxLineLength + 1;
    if (needed > out.capacity())
        out.reserve(std::max(needed, 2 * out.capacity()));
    const std::size_t size = bytes.size();
    std::size_t at = 0;
    while (at < size) {
        const char c = bytes[at];
        if (c == '\n' && crPending_) {
            crPending_ = false;
            ++at;
            continue;
        }
        if (c == '\r' || c == '\n') {
            crPending_ = c == '\r';
            out += '\n';
            lineLength = 0;
            ++breaks;
            ++at;
            continue;
        }
        crPending_ = false;
        if (lineLength >= kMaxLineLength) {
            out += '\n';
            lineLength = 0;
            ++breaks;
        }
        // The bytes up to the next CR or LF go as they are, as far as the
        // line may go on.
        const std::size_t limit =
            std::min(size, at + static_cast<std::size_t>(kMaxLineLength - lineLength));
        const auto end = static_cast<std::size_t>(
            findLineEnd(bytes.data() + at + 1, bytes.data() + limit) - bytes.data());
        out.append(bytes.data() + at, end - at);
        lineLength += static_cast<int>(end - at);
        at = end;
    }
}

class MessageView::ScrollKeeper
{
public:
    explicit ScrollKeeper(MessageView& view)
        : view_(view), bar_(view.verticalScrollBar()), value_(bar_->value()),
          atEnd_(value_ >= bar_->maximum())
    {
        view_.blocksDropped_ = 0;
    }
    ~ScrollKeeper()
    {
        if (atEnd_)
            bar_->setValue(bar_->maximum());
        else if (view_.blocksDropped_ > 0)
            bar_->setValue(std::max(0, value_ - view_.blocksDropped_));
    }
    ScrollKeeper(const ScrollKeeper&) = delete;
    ScrollKeeper& operator=(const ScrollKeeper&) = delete;

private:
    MessageView& view_;
    QScrollBar* bar_;
    const int value_;
    const bool atEnd_;
};

void MessageView::insertAtEnd(std::string_view display)
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
    if (bytes.empty() && pending_.empty())
        return;
    const auto length = static_cast<std::uint32_t>(
        std::min<std::size_t>(bytes.size(), std::numeric_limits<std::uint32_t>::max()));
    appendTexts(bytes, std::span(&length, 1));
}

void MessageView::appendTexts(std::string_view bytes, std::span<const std::uint32_t> lengths)
{
    const ScrollKeeper keeper(*this);
    take(bytes, lengths);
    // Everything pending is at most one full view, which the limits keep
    // bounded, and only lines that stay in the view are inserted.
    while (!pending_.empty())
        showSome(pending_.size());
}

void MessageView::queueTexts(std::string_view bytes, std::span<const std::uint32_t> lengths)
{
    const ScrollKeeper keeper(*this);
    take(bytes, lengths);
}

std::size_t MessageView::showPending(std::size_t maxChars)
{
    if (pending_.empty())
        return 0;
    const ScrollKeeper keeper(*this);
    return showSome(maxChars);
}

void MessageView::take(std::string_view bytes, std::span<const std::uint32_t> lengths)
{
    // The limits are checked after each text, as one append per text would:
    // where the view goes beyond one, the oldest lines are marked there, and
    // what is marked leaves the document in one edit at the end.
    Drop drop;
    int lineLength = openLineLength(drop);
    qint64 lines = documentLines(drop) + pending_.breaks();
    qint64 chars = documentChars(drop) + static_cast<qint64>(pending_.size());
    std::size_t at = 0;
    for (const std::uint32_t length : lengths) {
        if (at >= bytes.size())
            break;
        const std::string_view text = untilNul(bytes.substr(at, length));
        at += length;
        std::string& target = pending_.target();
        const std::size_t before = target.size();
        int breaks = 0;
        displayBytes(text, lineLength, breaks, target);
        if (target.size() == before)
            continue;
        pending_.appended(before, breaks);
        chars += static_cast<qint64>(target.size() - before);
        lines += breaks;
        if (chars > kMaxChars || lines > kMaxLines) {
            trimToLimits(drop);
            lines = documentLines(drop) + pending_.breaks();
            chars = documentChars(drop) + static_cast<qint64>(pending_.size());
        }
    }
    applyDrop(drop);
}

std::size_t MessageView::showSome(std::size_t maxChars)
{
    const std::string_view piece = pending_.front(std::max<std::size_t>(maxChars, 1));
    insertAtEnd(piece);
    const std::size_t shown = piece.size();
    pending_.dropFront(shown);
    return shown;
}

qint64 MessageView::documentLines(const Drop& drop) const
{
    return drop.wholeDocument ? 1 : document()->blockCount() - drop.blocks;
}

qint64 MessageView::documentChars(const Drop& drop) const
{
    // Without the separator after the last line.
    return drop.wholeDocument ? 0 : document()->characterCount() - 1 - drop.chars;
}

int MessageView::openLineLength(const Drop& drop) const
{
    if (pending_.breaks() > 0)
        return static_cast<int>(pending_.lastLineLength());
    const int documentPart = drop.wholeDocument ? 0 : document()->lastBlock().length() - 1;
    return documentPart + static_cast<int>(pending_.size());
}

qint64 MessageView::lineAt(const Drop& drop, qint64 position) const
{
    const qint64 inDocument = documentChars(drop);
    if (position < inDocument)
        return document()->findBlock(static_cast<int>(position + drop.chars)).blockNumber() -
               drop.blocks;
    // The document's last line goes on into the first pending line.
    return documentLines(drop) - 1 +
           pending_.breaksBefore(static_cast<std::size_t>(position - inDocument));
}

void MessageView::trimToLimits(Drop& drop)
{
    const qint64 documentPart = documentLines(drop);
    const qint64 lines = documentPart + pending_.breaks();
    const qint64 chars = documentChars(drop) + static_cast<qint64>(pending_.size());
    if (chars <= kMaxChars && lines <= kMaxLines)
        return;
    // Down to a little below both limits, so the next appends need no trimming.
    qint64 firstKept = std::max<qint64>(0, lines - (kMaxLines - kTrimLines));
    const qint64 excessChars = chars - (kMaxChars - kTrimChars);
    if (excessChars > 0)
        firstKept = std::max(firstKept, lineAt(drop, excessChars - 1) + 1);
    firstKept = std::min(firstKept, lines - 1); // the last line always stays
    if (firstKept <= 0)
        return;
    if (firstKept < documentPart) {
        drop.blocks += static_cast<int>(firstKept);
        drop.chars = document()->findBlockByNumber(drop.blocks).position();
        return;
    }
    // The whole document goes, and pending lines after it, which are never
    // inserted.
    drop = Drop{0, 0, true};
    neverShown_ += pending_.dropLines(firstKept - (documentPart - 1));
}

void MessageView::applyDrop(const Drop& drop)
{
    QTextDocument* doc = document();
    if (drop.wholeDocument) {
        blocksDropped_ += doc->blockCount();
        // One reset of the document rather than removing its lines: a flood
        // that outruns the view drops whole views at a time.
        setPlainText(QString());
        return;
    }
    if (drop.blocks <= 0)
        return;
    blocksDropped_ += drop.blocks;
    // setPosition() rather than moving block by block, which would lay out
    // every line on the way.
    QTextCursor cut(doc);
    cut.setPosition(static_cast<int>(drop.chars), QTextCursor::KeepAnchor);
    cut.removeSelectedText();
    // With undo off the document frees the removed text's storage only when
    // told that undo is off; it does so once enough has piled up.
    doc->setUndoRedoEnabled(false);
}

void MessageView::replaceText(std::string_view bytes)
{
    crPending_ = false;
    pending_.clear();
    int lineLength = 0;
    int breaks = 0;
    std::string text;
    displayBytes(untilNul(bytes), lineLength, breaks, text);
    setPlainText(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
    Drop drop;
    trimToLimits(drop);
    applyDrop(drop);
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
    menu->addAction(tr("Commands…"), this, &MessageView::commandsRequested);
    menu->addAction(tr("Devices…"), this, &MessageView::devicesRequested);
    menu->addAction(tr("TLS…"), this, &MessageView::tlsRequested);
    return menu;
}

void MessageView::contextMenuEvent(QContextMenuEvent* event)
{
    const std::unique_ptr<QMenu> menu(createContextMenu());
    menu->exec(event->globalPos());
}

} // namespace app

#pragma once

#include "pendingtext.h"

#include <QPlainTextEdit>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace app
{

// The console's message view (control 1008): what the device sent and the
// console's own lines, as text of single bytes. Not read-only, no line
// wrapping, both scroll bars always shown.
//
// Text. Every byte shows as the character with the same code (Latin-1), so no
// byte is lost or changed by decoding. CR LF, a lone LF and a lone CR each end
// a line; a CR that ends one append and an LF that starts the next still make
// one line break. A text ends before its first NUL byte, as a C string does.
//
// Bounds. The view keeps at most kMaxLines lines and kMaxChars characters
// (counting a line break as one). An append that goes beyond either drops the
// oldest whole lines, down to kTrimLines lines and kTrimChars characters below
// the limits, so that trimming runs now and then on a batch of lines rather
// than on every append. A line longer than kMaxLineLength characters goes on
// over further display lines (a line break is shown after every
// kMaxLineLength characters). So memory and the cost of an append stay
// bounded however a device splits its data into lines, also when it never
// sends a line break.
//
// The operator may edit, select and scroll meanwhile: an append leaves the
// cursor and the selection on the same text, keeps the view at its end when it
// was there, and otherwise keeps the same lines in sight until they are dropped.
//
// Pending text. queueTexts() takes texts in without showing them: they wait,
// converted, after the document, and showPending() moves them into it a piece
// at a time. The limits count what is pending as part of the view, so lines
// that the limits drop before they are shown are never inserted at all. Text
// arriving faster than the document takes it thus costs little more than its
// conversion, and once everything pending is shown the view is exactly as
// after one appendBytes() per text. appendBytes() and appendTexts() show
// everything pending, their own text included, before they return.
//
// UI thread only; other threads append through QtViewWindow.
class MessageView : public QPlainTextEdit
{
    Q_OBJECT

public:
    static constexpr int kMaxLines = 100000;
    static constexpr int kMaxChars = 8 * 1024 * 1024;
    static constexpr int kMaxLineLength = 1024;
    static constexpr int kTrimLines = kMaxLines / 32;
    static constexpr int kTrimChars = kMaxChars / 32;

    explicit MessageView(QWidget* parent = nullptr);

    // The context menu: the standard edit menu, then "Traffic…", which emits
    // trafficRequested(), "Commands…", which emits commandsRequested(), and
    // "Devices…", which emits devicesRequested(), and "TLS…", which emits
    // tlsRequested(). The caller owns it.
    QMenu* createContextMenu();

signals:
    void trafficRequested();
    // "Commands…" in the context menu.
    void commandsRequested();
    // "Devices…" in the context menu.
    void devicesRequested();
    // "TLS…" in the context menu.
    void tlsRequested();

public:
    // Appends received bytes (or a line of the console's own) at the end.
    void appendBytes(std::string_view bytes);

    // Appends texts that arrived one after another: `lengths` gives their
    // sizes, in order, and `bytes` holds them back to back. The view ends up
    // exactly as after one appendBytes() per text (each cut at its own first
    // NUL, trimmed at the same points), but the document is edited once, or
    // once more for each trim that falls among the texts, and scrolled once.
    void appendTexts(std::string_view bytes, std::span<const std::uint32_t> lengths);

    // As appendTexts(), but nothing is shown yet: the texts are pending after
    // what is pending already. Lines of the document that the limits drop go
    // now, in one edit.
    void queueTexts(std::string_view bytes, std::span<const std::uint32_t> lengths);

    // Shows about `maxChars` characters of what is pending (at least one;
    // ending after a line break when one falls within them), in one edit.
    // Returns the characters shown.
    std::size_t showPending(std::size_t maxChars);

    // What is pending, in characters.
    std::size_t pendingChars() const { return pending_.size(); }

    // The characters that the limits dropped while they were pending, since
    // the view was made: taken in, never shown.
    std::uint64_t charsNeverShown() const { return neverShown_; }

    // Replaces the whole content by `bytes` (the connect line) and forgets a CR
    // that ended the old content and anything pending. The cursor goes to the
    // start.
    void replaceText(std::string_view bytes);

    // The document's content as bytes (not what is pending): every character
    // back to its byte and every line break as '\n' (unlike toPlainText(),
    // which turns 0xA0 into a blank). A character the operator typed beyond
    // Latin-1 reads as '?'.
    std::string contentBytes() const;

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    // The oldest lines to drop, gathered over one call: the first `blocks`
    // blocks of the document (`chars` characters with their breaks), or all of
    // it, and then pending lines.
    struct Drop {
        int blocks = 0;
        qint64 chars = 0;
        bool wholeDocument = false;
    };

    // Adds to `out` the characters to insert for `bytes`: line breaks as '\n',
    // a break after every kMaxLineLength characters of a line, which has
    // `lineLength` characters already (updated to the open line's length).
    // Counts the breaks into `breaks`.
    void displayBytes(std::string_view bytes, int& lineLength, int& breaks, std::string& out);
    // Converts texts into pending text, marking and then dropping the oldest
    // lines where the limits say so.
    void take(std::string_view bytes, std::span<const std::uint32_t> lengths);
    // Moves about `maxChars` pending characters into the document.
    std::size_t showSome(std::size_t maxChars);
    // The document's lines and characters as the limits count them, less what
    // `drop` marks (pending text comes on top).
    qint64 documentLines(const Drop& drop) const;
    qint64 documentChars(const Drop& drop) const;
    // The length of the view's last line (where the next text goes on).
    int openLineLength(const Drop& drop) const;
    // Once the view exceeds kMaxLines or kMaxChars, marks the oldest whole
    // lines for dropping, down to kTrimLines / kTrimChars below the limits
    // (the last line always stays); pending lines among them go at once.
    void trimToLimits(Drop& drop);
    // The line of the view that holds character `position`.
    qint64 lineAt(const Drop& drop, qint64 position) const;
    // Drops from the document what `drop` marks, in one edit.
    void applyDrop(const Drop& drop);
    // Inserts display characters at the end with a cursor of its own.
    void insertAtEnd(std::string_view display);

    // Keeps the view at its end when it was there, or the same lines in sight
    // while lines above them go, over one edit of the document.
    class ScrollKeeper;

    // The last byte taken was a CR: an LF at the start of the next append
    // belongs to it.
    bool crPending_ = false;
    PendingText pending_;
    // Blocks dropped from the front of the document during the current edit.
    int blocksDropped_ = 0;
    std::uint64_t neverShown_ = 0;
};

} // namespace app

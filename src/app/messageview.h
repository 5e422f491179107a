#pragma once

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
    // trafficRequested(). The caller owns it.
    QMenu* createContextMenu();

signals:
    void trafficRequested();

public:
    // Appends received bytes (or a line of the console's own) at the end.
    void appendBytes(std::string_view bytes);

    // Appends texts that arrived one after another: `lengths` gives their
    // sizes, in order, and `bytes` holds them back to back. The view ends up
    // exactly as after one appendBytes() per text (each cut at its own first
    // NUL, trimmed at the same points), but the document is edited once, or
    // once more for each trim that falls among the texts, and scrolled once.
    void appendTexts(std::string_view bytes, std::span<const std::uint32_t> lengths);

    // Replaces the whole content by `bytes` (the connect line) and forgets a CR
    // that ended the old content. The cursor goes to the start.
    void replaceText(std::string_view bytes);

    // The content as bytes: every character back to its byte and every line
    // break as '\n' (unlike toPlainText(), which turns 0xA0 into a blank). A
    // character the operator typed beyond Latin-1 reads as '?'.
    std::string contentBytes() const;

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    // Adds to `out` the characters to insert for `bytes`: line breaks as '\n',
    // a break after every kMaxLineLength characters of a line, which has
    // `lineLength` characters already (updated to the open line's length).
    // Counts the breaks into `breaks`.
    void displayBytes(std::string_view bytes, int& lineLength, int& breaks, std::string& out);
    // Inserts display characters at the end with a cursor of its own.
    void insertAtEnd(const std::string& display);
    // Once the text exceeds kMaxLines or kMaxChars, drops the oldest whole
    // lines down to kTrimLines / kTrimChars below the limits (the last line
    // always stays).
    void dropOldestLines();

    // The last byte taken was a CR: an LF at the start of the next append
    // belongs to it.
    bool crPending_ = false;
    // The characters of the append being made; its storage is kept for the
    // next append up to kMaxKeptDisplay bytes.
    static constexpr std::size_t kMaxKeptDisplay = 1024 * 1024;
    std::string display_;
};

} // namespace app

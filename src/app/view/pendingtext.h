#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace app
{

// Display text that belongs at the end of the message view but is not in its
// document yet: characters of single bytes, '\n' between lines. Its first
// line continues the document's last line.
//
// Lines leave it at the front: shown (moved into the document) or dropped
// (trimmed before they were ever shown). Both cost in proportion to what
// leaves; the storage is compacted now and then, so memory stays about the
// size of what is pending.
//
// Plain data; one thread at a time.
class PendingText
{
public:
    bool empty() const { return size() == 0; }
    std::size_t size() const { return text_.size() - head_; }
    std::int64_t breaks() const { return breaks_; }
    std::string_view text() const { return std::string_view(text_).substr(head_); }

    // Characters after the last '\n'; all of them when there is none.
    std::size_t lastLineLength() const;

    // Display characters are appended to target(); then appended() is told
    // where they began and how many '\n' they hold.
    std::string& target() { return text_; }
    void appended(std::size_t from, std::int64_t breaks);

    // The '\n' among the first `chars` characters.
    std::int64_t breaksBefore(std::size_t chars) const;

    // The first `count` lines, each through its '\n'; count <= breaks().
    // Returns the characters that left.
    std::size_t dropLines(std::int64_t count);

    // Up to `chars` characters from the front, ending after a '\n' when one
    // falls within them (so a shown piece ends with a whole line).
    std::string_view front(std::size_t chars) const;
    // Takes the first `chars` characters away (as front() gave them).
    void dropFront(std::size_t chars);

    void clear();

private:
    // The first `chars` characters, holding `breaks` '\n', leave.
    void leave(std::size_t chars, std::int64_t breaks);
    void compact();

    std::string text_;
    std::size_t head_ = 0; // text_ before head_ has left
    std::int64_t breaks_ = 0;
    // Offset in text_ of the last '\n', or npos.
    std::size_t lastBreak_ = std::string::npos;
};

} // namespace app

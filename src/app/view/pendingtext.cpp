#include "pendingtext.h"

#include <algorithm>
#include <cstring>

namespace app
{

namespace
{

// Storage that has left is given back once it is this large and at least
// half of the whole: one move of what is pending per that much that left.
constexpr std::size_t kCompactAt = 256 * 1024;

std::int64_t countBreaks(std::string_view text)
{
    return static_cast<std::int64_t>(std::count(text.begin(), text.end(), '\n'));
}

} // namespace

std::size_t PendingText::lastLineLength() const
{
    return lastBreak_ == std::string::npos ? size() : text_.size() - lastBreak_ - 1;
}

void PendingText::appended(std::size_t from, std::int64_t breaks)
{
    breaks_ += breaks;
    if (breaks == 0)
        return;
    const void* last = ::memrchr(text_.data() + from, '\n', text_.size() - from);
    lastBreak_ = static_cast<std::size_t>(static_cast<const char*>(last) - text_.data());
}

std::int64_t PendingText::breaksBefore(std::size_t chars) const
{
    return countBreaks(text().substr(0, chars));
}

std::size_t PendingText::dropLines(std::int64_t count)
{
    const char* const begin = text_.data() + head_;
    const char* const end = text_.data() + text_.size();
    const char* at = begin;
    for (std::int64_t i = 0; i < count && at < end; ++i) {
        const void* next = std::memchr(at, '\n', static_cast<std::size_t>(end - at));
        at = next ? static_cast<const char*>(next) + 1 : end;
    }
    const auto chars = static_cast<std::size_t>(at - begin);
    // The breaks in what goes are known: no second pass to count them.
    leave(chars, std::min(count, breaks_));
    return chars;
}

std::string_view PendingText::front(std::size_t chars) const
{
    const std::string_view all = text();
    if (chars >= all.size())
        return all;
    const std::size_t lastBreak = all.substr(0, chars).rfind('\n');
    return all.substr(0, lastBreak == std::string_view::npos ? chars : lastBreak + 1);
}

void PendingText::dropFront(std::size_t chars)
{
    chars = std::min(chars, size());
    leave(chars, countBreaks(text().substr(0, chars)));
}

void PendingText::leave(std::size_t chars, std::int64_t breaks)
{
    breaks_ -= breaks;
    head_ += chars;
    if (breaks_ == 0)
        lastBreak_ = std::string::npos;
    if (head_ == text_.size())
        clear();
    else if (head_ >= kCompactAt && head_ >= text_.size() / 2)
        compact();
}

void PendingText::clear()
{
    text_.clear();
    head_ = 0;
    breaks_ = 0;
    lastBreak_ = std::string::npos;
    // A flood may have left megabytes of storage; keep only a little.
    if (text_.capacity() > kCompactAt)
        std::string().swap(text_);
}

void PendingText::compact()
{
    text_.erase(0, head_);
    if (lastBreak_ != std::string::npos)
        lastBreak_ -= head_;
    head_ = 0;
}

} // namespace app

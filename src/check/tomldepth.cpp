#include "tomldepth.h"

#include "checkfile.h"

namespace check
{

namespace
{

// Walks the text byte by byte, keeping the line and the column (in
// characters: UTF-8 continuation bytes do not count, as the parser counts).
class Cursor
{
public:
    explicit Cursor(std::string_view text) : text_(text) {}

    bool atEnd() const { return at_ >= text_.size(); }
    char peek(std::size_t ahead = 0) const
    {
        return at_ + ahead < text_.size() ? text_[at_ + ahead] : '\0';
    }
    bool startsWith(std::string_view part) const { return text_.substr(at_).starts_with(part); }
    void next()
    {
        const char c = text_[at_++];
        if (c == '\n') {
            ++line_;
            column_ = 1;
        } else if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) {
            ++column_;
        }
    }
    void skip(std::size_t count)
    {
        for (std::size_t i = 0; i < count && !atEnd(); ++i) {
            next();
        }
    }
    int line() const { return line_; }
    int column() const { return column_; }

    // Skips a string that starts here (basic or literal, one line or many),
    // to just after its end or to the end of its line when it has none.
    void skipString()
    {
        const char quote = peek();
        const bool basic = quote == '"';
        if (startsWith(basic ? "\"\"\"" : "'''")) {
            const std::string_view close = basic ? "\"\"\"" : "'''";
            skip(3);
            while (!atEnd() && !startsWith(close)) {
                skip(basic && peek() == '\\' ? 2 : 1);
            }
            skip(3);
            return;
        }
        next();
        while (!atEnd() && peek() != quote && peek() != '\n') {
            skip(basic && peek() == '\\' ? 2 : 1);
        }
        if (peek() == quote) {
            next();
        }
    }

private:
    std::string_view text_;
    std::size_t at_ = 0;
    int line_ = 1;
    int column_ = 1;
};

} // namespace

base::Error TomlDepth::check(std::string_view text, std::string_view fileName, int firstLine)
{
    Cursor cursor(text);
    std::size_t nesting = 0;
    std::size_t parts = 1; // of the dotted run at hand
    while (!cursor.atEnd()) {
        const char c = cursor.peek();
        switch (c) {
        case '"':
        case '\'':
            cursor.skipString();
            continue;
        case '#':
            while (!cursor.atEnd() && cursor.peek() != '\n') {
                cursor.next();
            }
            continue;
        case '.':
            if (++parts > kMaxKeyParts) {
                return checkFileMistake(fileName, cursor.line() + firstLine - 1, cursor.column(),
                                        "a key with more than " + std::to_string(kMaxKeyParts) +
                                            " dotted parts");
            }
            break;
        case '[':
        case '{':
            parts = 1;
            if (++nesting > kMaxNesting) {
                return checkFileMistake(fileName, cursor.line() + firstLine - 1, cursor.column(),
                                        "tables and arrays nested more than " +
                                            std::to_string(kMaxNesting) + " deep");
            }
            break;
        case ']':
        case '}':
            parts = 1;
            nesting -= nesting > 0 ? 1 : 0;
            break;
        case '=':
        case ',':
        case '\n':
            parts = 1;
            break;
        default:
            break;
        }
        cursor.next();
    }
    return {};
}

} // namespace check

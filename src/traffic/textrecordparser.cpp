#include "textrecordparser.h"

#include "recordline.h"

namespace traffic
{

void TextRecordParser::feed(std::string_view piece)
{
    while (!piece.empty()) {
        const std::size_t end = piece.find('\n');
        const std::string_view part = piece.substr(0, end);
        if (skipping_) {
            skipping_ = end == std::string_view::npos;
        } else if (pending_.size() + part.size() > kMaxLineBytes) {
            pending_.clear();
            pending_.shrink_to_fit();
            ++damaged_;
            skipping_ = end == std::string_view::npos;
        } else if (end != std::string_view::npos && pending_.empty()) {
            // The common case reads the line where it lies, without a copy.
            line(part);
        } else {
            pending_.append(part);
            if (end != std::string_view::npos) {
                line(pending_);
                pending_.clear();
            }
        }
        if (end == std::string_view::npos) {
            return;
        }
        piece.remove_prefix(end + 1);
    }
}

void TextRecordParser::finish()
{
    if (!pending_.empty()) {
        line(pending_);
        pending_.clear();
    }
    skipping_ = false;
}

void TextRecordParser::line(std::string_view text)
{
    if (!text.empty() && text.back() == '\r') {
        text.remove_suffix(1);
    }
    if (text.empty() || text.front() == '#') {
        return; // the header and other comments
    }
    if (std::optional<Record> record = recordFromLine(text)) {
        tail_.add(std::move(*record));
    } else {
        ++damaged_;
    }
}

} // namespace traffic

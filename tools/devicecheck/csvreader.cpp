#include "csvreader.h"

namespace devicetools
{

namespace
{

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

base::Error mistakeAt(std::string_view name, int line, std::string what)
{
    return base::Error::input(base::Fault::BadInput, std::string(name) + ':' + std::to_string(line),
                              std::move(what));
}

} // namespace

base::Error CsvReader::read(std::string_view text, std::string_view name, const RowHandler& each)
{
    if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
        text.remove_prefix(kByteOrderMark.size());
    }
    int line = 1;
    std::size_t at = 0;
    while (at < text.size()) {
        CsvRow row;
        row.line = line;
        std::string field;
        bool rowEnded = false;
        while (!rowEnded) {
            field.clear();
            if (at < text.size() && text[at] == '"') {
                const int opened = line;
                ++at;
                for (;;) {
                    if (at >= text.size()) {
                        return mistakeAt(name, opened, "a quote is never closed");
                    }
                    const char c = text[at++];
                    if (c == '"') {
                        if (at < text.size() && text[at] == '"') {
                            field += '"';
                            ++at;
                            continue;
                        }
                        break;
                    }
                    if (c == '\n') {
                        ++line;
                    }
                    field += c;
                }
                if (at < text.size() && text[at] == '\r') {
                    ++at;
                }
                if (at < text.size() && text[at] != ',' && text[at] != '\n') {
                    return mistakeAt(name, line, "text after a closing quote");
                }
            } else {
                while (at < text.size() && text[at] != ',' && text[at] != '\n') {
                    field += text[at++];
                }
                if (!field.empty() && field.back() == '\r') {
                    field.pop_back();
                }
            }
            row.fields.push_back(field);
            if (at >= text.size() || text[at] == '\n') {
                rowEnded = true;
                if (at < text.size()) {
                    ++line;
                }
            }
            ++at;
        }
        // A line with nothing on it is no record (a spreadsheet's last line).
        if (row.fields.size() != 1 || !row.fields.front().empty()) {
            if (base::Error stopped = each(row); !stopped.ok()) {
                return stopped;
            }
        }
    }
    return {};
}

} // namespace devicetools

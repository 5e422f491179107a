#include "commandsdocument.h"

namespace app
{

std::string CommandsDocument::showSaved()
{
    opened_.clear();
    list_ = CommandList{};
    return saved_.load(list_).text();
}

base::Error CommandsDocument::open(const std::string& path)
{
    CommandList opened;
    if (base::Error error = opened.load(path); !error.ok())
        return error;
    // The saved commands were written at their last change: their file stays
    // as it is, and this file is shown (and changed) instead.
    list_ = std::move(opened);
    opened_ = path;
    return {};
}

base::Result<std::string> CommandsDocument::save()
{
    if (showsSaved())
        return saved_.save(list_);
    if (base::Error error = list_.save(opened_); !error.ok())
        return error;
    return std::string();
}

std::vector<std::string> CommandsDocument::rowTexts(int keys) const
{
    std::vector<std::string> rows;
    int given = 0;
    for (std::size_t i = 0; i < list_.size(); ++i) {
        const std::string line = CommandList::summary(list_.at(i));
        if (list_.sendAt(i) && given < keys)
            rows.push_back("Ctrl+" + std::to_string(++given) + "  " + line);
        else
            rows.push_back("        " + line);
    }
    return rows;
}

} // namespace app

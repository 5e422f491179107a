#pragma once

#include "commandlist.h"

#include <string>
#include <string_view>

namespace app
{

// The saved commands' own file: read at start (a missing file is an empty
// list) and written back after every change. A file that could not be read
// at start is the user's own text, so the first write moves it aside (the
// name plus kBrokenSuffix) rather than writing over it. UI thread only.
class CommandsFile
{
public:
    static constexpr std::string_view kBrokenSuffix = ".broken";

    explicit CommandsFile(std::string path) : path_(std::move(path)) {}
    const std::string& path() const { return path_; }

    // Reads the file into `list`; empty when it was read or is missing, else
    // the reader's "file:line:column: what" (the list stays empty).
    std::string load(CommandList& list);
    // Writes `list`; empty when there is nothing to tell the user, else what
    // failed or where the unreadable file was kept.
    std::string save(const CommandList& list);

private:
    std::string path_;
    bool keepAside_ = false;
};

} // namespace app

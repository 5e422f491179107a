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

    // Reads the file into `list`; no failure when it was read or is missing,
    // else the reader's "file:line:column: what" (the list stays empty).
    [[nodiscard]] base::Error load(CommandList& list);
    // Writes `list`: what to tell the user (empty: nothing; else where the
    // unreadable file was kept), or what failed.
    [[nodiscard]] base::Result<std::string> save(const CommandList& list);

private:
    std::string path_;
    bool keepAside_ = false;
};

} // namespace app

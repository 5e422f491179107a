#pragma once

#include "commandlist.h"
#include "commandsfile.h"

#include <string>
#include <vector>

namespace app
{

// The list the Commands window shows and where its changes go: the saved
// commands (their own CommandsFile), or a check file opened instead, which
// then takes the changes while the saved commands' file stays as it was.
// UI thread only.
class CommandsDocument
{
public:
    explicit CommandsDocument(std::string savedPath) : saved_(std::move(savedPath)) {}

    // Shows the saved commands (again), read from their file: the status to
    // show (empty when read or missing, else the reader's mistake).
    std::string showSaved();
    // Shows the check file at `path` instead; nothing changes when it cannot
    // be read.
    [[nodiscard]] base::Error open(const std::string& path);
    // Writes the list where it is kept: what to tell the user (empty:
    // nothing), or what failed.
    [[nodiscard]] base::Result<std::string> save();

    bool showsSaved() const { return opened_.empty(); }
    // The file shown: the saved commands' own, or the one opened.
    const std::string& path() const { return showsSaved() ? saved_.path() : opened_; }
    // What a run of the list is named after: the opened file, or "saved
    // commands".
    std::string runName() const { return showsSaved() ? "saved commands" : opened_; }
    CommandList& list() { return list_; }
    const CommandList& list() const { return list_; }

    // The list's rows as shown: the first `keys` sendable rows lead with
    // their shortcut ("Ctrl+N  "), so Ctrl+N is the Nth of them; the others
    // are indented alike.
    std::vector<std::string> rowTexts(int keys) const;

private:
    CommandsFile saved_;
    CommandList list_;
    std::string opened_; // empty: the saved commands are shown
};

} // namespace app

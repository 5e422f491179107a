#pragma once

#include "base/error.h"
#include "check/checkfile.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace app
{

// The saved commands: a check file whose steps are the commands in order
// (each a `send` step: a command frame by its fields or a free text, with a
// name), kept with the rest of the file (its defaults, other steps, its
// `[[answer]]` rules) so that saving writes back what was read.
//
// The texts follow check files: `{name}` is a placeholder and `{{` stands for
// one '{'; a saved command has no device values, so a placeholder other than
// `{{` keeps it from being sent. literalText()/fileText() convert.
//
// Reading takes the whole file or nothing: a file with a mistake leaves the
// list as it was and gives the reader's "file:line:column: what". Writing is
// atomic: a temporary file in the same folder (created 0600), written and
// flushed to disk, then renamed over the old one; the folder is made 0700
// when missing. Plain C++; one thread at a time.
class CommandList
{
public:
    const check::CheckFile& file() const { return file_; }
    std::size_t size() const { return file_.steps.size(); }
    const check::Step& at(std::size_t index) const { return file_.steps.at(index); }
    // The send step at `index`, or nullptr (out of range, or an expect/wait
    // step of an opened check file).
    const check::SendStep* sendAt(std::size_t index) const;

    void add(std::string name, check::SendStep send);
    void rename(std::size_t index, std::string name);
    void replace(std::size_t index, check::SendStep send);
    void remove(std::size_t index);
    void setAnswers(std::vector<check::AnswerRule> answers) { file_.answers = std::move(answers); }
    // Moves the step at `from` so that it stands at `to` (indices of the list
    // after the move); false when either is out of range.
    bool move(std::size_t from, std::size_t to);
    // Puts the steps in the order `order` gives (order[i]: the index of the
    // step that becomes step i); false, changing nothing, unless `order` is a
    // permutation of 0..size()-1.
    bool reorder(const std::vector<std::size_t>& order);

    // Replaces the whole list with the file at `path`; when it cannot be
    // read, why ("file:line:column: what") and nothing changes.
    [[nodiscard]] base::Error load(const std::string& path);
    // Writes the list to `path` atomically; what failed, or no failure.
    [[nodiscard]] base::Error save(const std::string& path) const;

    // A text as it goes into a file ('{' doubled), and back.
    static std::string fileText(std::string_view literal);
    static std::string literalText(std::string_view fileText);
    // The console's frame fields as a send step when they make a frame that
    // can be saved as it would go out (media, id and command cut to their
    // widths, as the console sends them), else its free text; nothing when
    // neither will do, and why. Texts in file form (fileText()).
    static base::Result<check::SendStep> fromConsole(protocol::FrameFields fields,
                                                     const std::string& freeText);
    // One line for a list row: "name: frame fields" or "name: free text".
    static std::string summary(const check::Step& step);

private:
    check::CheckFile file_;
};

} // namespace app

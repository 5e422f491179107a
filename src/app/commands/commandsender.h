#pragma once

#include "commandlist.h"
#include "commandrepeat.h"
#include "consolelink.h"
#include "placeholdervalues.h"

#include <string>

namespace app
{

// How the Commands window's sends and runs get their placeholder values and
// go out: each through ConsoleLink::sendStep() with a note naming the
// command, its values from PlaceholderValues (the file's, the console's, or
// asked for). UI thread only; the console outlives it.
class CommandSender
{
public:
    CommandSender(ConsoleLink& console, PlaceholderValues::Ask ask);
    void setAsk(PlaceholderValues::Ask ask) { values_.setAsk(std::move(ask)); }

    // The row of the `number`th (0-based) step of `list` that can be sent,
    // or -1.
    static int shortcutRow(const CommandList& list, int number);

    // Sends the send step in `row`: what the status line says ("Sent x",
    // with what waits in the send queue; "x not sent: why"), and whether it
    // went to the send queue.
    struct Outcome {
        bool sent = false;
        std::string status;
    };
    Outcome send(const CommandList& list, int row);
    // One send of `row`'s step for a repeat, with the values of now (copied:
    // the list may change while the repeat runs); nothing when `row` holds no
    // send step.
    CommandRepeat::SendOnce repeatSend(const CommandList& list, int row);
    // The device a run of `file` goes against, with every value its steps
    // need, or why it cannot run ("no value for {zone}").
    base::Result<check::Target> runTarget(const check::CheckFile& file);

private:
    PlaceholderValues::Resolved valuesFor(const check::CheckFile& file, const check::Step& step);

    ConsoleLink& console_;
    PlaceholderValues values_;
};

} // namespace app

#include "commandsender.h"

namespace app
{

CommandSender::CommandSender(ConsoleLink& console, PlaceholderValues::Ask ask)
    : console_(console), values_(std::move(ask))
{
}

int CommandSender::shortcutRow(const CommandList& list, int number)
{
    int seen = 0;
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (list.sendAt(i) && seen++ == number)
            return static_cast<int>(i);
    }
    return -1;
}

PlaceholderValues::Resolved CommandSender::valuesFor(const check::CheckFile& file,
                                                     const check::Step& step)
{
    check::CheckFile one;
    one.steps.push_back(step);
    return values_.resolve(file, console_.device().values, check::stepPlaceholders(one));
}

CommandSender::Outcome CommandSender::send(const CommandList& list, int row)
{
    const check::SendStep* step = list.sendAt(static_cast<std::size_t>(row));
    if (row < 0 || !step)
        return {false, "No saved command " + std::to_string(row + 1)};
    const check::Step& whole = list.at(static_cast<std::size_t>(row));
    // Nothing is asked while a send could not go out anyway.
    const PlaceholderValues::Resolved values =
        console_.connected() ? valuesFor(list.file(), whole) : PlaceholderValues::Resolved{};
    const base::Result<net::SendQueue::Counts> sent =
        console_.sendStep(*step, values.values, "saved command \"" + whole.name + "\"");
    if (!sent)
        return {false, whole.name + " not sent: " + sent.error().text()};
    // As the repeat's line does: what waits in the send queue shows.
    std::string status = "Sent " + whole.name;
    if (sent->waitingMessages > 0)
        status += " (" + std::to_string(sent->waitingMessages) + " waiting to go out)";
    return {true, status};
}

CommandRepeat::SendOnce CommandSender::repeatSend(const CommandList& list, int row)
{
    const check::SendStep* step = list.sendAt(static_cast<std::size_t>(row));
    if (row < 0 || !step)
        return {};
    const check::Step& whole = list.at(static_cast<std::size_t>(row));
    const std::string note = "saved command \"" + whole.name + "\" (repeat)";
    return [this, step = *step, note, values = valuesFor(list.file(), whole).values] {
        const auto sent = console_.sendStep(step, values, note);
        return sent ? base::Error() : sent.error();
    };
}

base::Result<check::Target> CommandSender::runTarget(const check::CheckFile& file)
{
    const PlaceholderValues::Resolved values =
        values_.resolve(file, console_.device().values, check::stepPlaceholders(file));
    if (!values.missing.empty())
        return base::Error::input(base::Fault::BadInput, {},
                                  "no value for {" + values.missing + "}");
    if (base::Error unfit = check::checkDeviceValues(file, values.values); !unfit.ok())
        return unfit;
    check::Target device = console_.device();
    device.values = values.values;
    return device;
}

} // namespace app

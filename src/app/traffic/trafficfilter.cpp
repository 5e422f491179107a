#include "trafficfilter.h"

#include "trafficmodel.h"

#include "traffic/bytetext.h"
#include "traffic/recordline.h"
#include "traffic/writeoutcome.h"

#include <algorithm>
#include <string_view>

namespace app
{

namespace
{

char asciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// True when `text` holds `lowerNeedle`, ASCII letters in any case. Works on
// the texts as the core gives them, with no QString made per record: the
// filter runs over every record of every batch.
// The direction box's entries, in order; the first shows every direction.
struct DirectionChoice {
    const char* label;
    std::optional<traffic::Direction> direction;
    bool failedWrites = false;
};
const DirectionChoice kDirectionChoices[] = {
    {"All directions", std::nullopt},
    {"Sent", traffic::Direction::Sent},
    {"Received", traffic::Direction::Received},
    {"Events", traffic::Direction::Event},
    // Writes that failed or went out in part.
    {"Failed writes", traffic::Direction::Sent, true},
};

bool holds(std::string_view text, const std::string& lowerNeedle)
{
    return std::search(text.begin(), text.end(), lowerNeedle.begin(), lowerNeedle.end(),
                       [](char a, char b) { return asciiLower(a) == b; }) != text.end();
}

} // namespace

TrafficFilter::TrafficFilter(TrafficModel* model, QObject* parent)
    : QSortFilterProxyModel(parent), model_(model)
{
    setSourceModel(model);
}

void TrafficFilter::setDirection(std::optional<traffic::Direction> direction)
{
    if (direction == direction_)
        return;
    direction_ = direction;
    invalidateRowsFilter();
}

void TrafficFilter::setFailedWritesOnly(bool only)
{
    if (only == failedWritesOnly_)
        return;
    failedWritesOnly_ = only;
    invalidateRowsFilter();
}

void TrafficFilter::setText(const QString& text)
{
    if (text == text_)
        return;
    text_ = text;
    needle_ = text.toUtf8().toStdString();
    for (char& c : needle_)
        c = asciiLower(c);
    invalidateRowsFilter();
}

bool TrafficFilter::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const
{
    if (sourceParent.isValid())
        return false;
    const traffic::Record& record = model_->record(sourceRow);
    if (direction_ && traffic::directionOf(record.kind) != *direction_)
        return false;
    if (failedWritesOnly_) {
        const traffic::WriteOutcome outcome = traffic::writeOutcome(record);
        if (outcome != traffic::WriteOutcome::Failed && outcome != traffic::WriteOutcome::Partial)
            return false;
    }
    if (needle_.empty())
        return true;
    // The dearer texts only when the cheaper ones do not match.
    return holds(record.text, needle_) || holds(traffic::kindName(record.kind), needle_) ||
           holds(model_->frames(sourceRow), needle_) ||
           holds(traffic::visibleText(record.bytes), needle_) ||
           holds(traffic::hexText(record.bytes), needle_);
}

QStringList TrafficFilter::directionChoices()
{
    QStringList labels;
    for (const DirectionChoice& choice : kDirectionChoices)
        labels << tr(choice.label);
    return labels;
}

void TrafficFilter::chooseDirection(int index)
{
    if (index < 0 || index >= static_cast<int>(std::size(kDirectionChoices)))
        return;
    setDirection(kDirectionChoices[index].direction);
    setFailedWritesOnly(kDirectionChoices[index].failedWrites);
}

} // namespace app

#include "trafficfilter.h"

#include "trafficformat.h"
#include "trafficmodel.h"

#include "traffic/bytetext.h"
#include "traffic/recordline.h"

namespace app
{

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

void TrafficFilter::setText(const QString& text)
{
    if (text == text_)
        return;
    text_ = text;
    invalidateRowsFilter();
}

bool TrafficFilter::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const
{
    if (sourceParent.isValid())
        return false;
    const traffic::Record& record = model_->record(sourceRow);
    if (direction_ && traffic::directionOf(record.kind) != *direction_)
        return false;
    if (text_.isEmpty())
        return true;
    // The dearer texts only when the cheaper ones do not match.
    const auto found = [this](const QString& in) {
        return in.contains(text_, Qt::CaseInsensitive);
    };
    return found(trafficformat::text(record.text)) ||
           found(trafficformat::text(traffic::kindName(record.kind))) ||
           found(trafficformat::text(traffic::visibleText(record.bytes))) ||
           found(trafficformat::text(traffic::hexText(record.bytes)));
}

} // namespace app

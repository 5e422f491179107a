#pragma once

#include "traffic/trafficrecord.h"

#include <QSortFilterProxyModel>
#include <QStringList>

#include <optional>
#include <string>

namespace app
{

class TrafficModel;

// The rows of a TrafficModel that the Traffic window shows: those of one
// direction (or all), and those that contain a text (or all). The text is
// looked for (ASCII letters in either case) in a record's bytes as visible
// text and as hex, in what the record is, in its description and in its
// frames, so "0d 0a", "\r\n", "refused", "connect-failed" and "command=ENT"
// all find what the table shows them in.
// With failedWritesOnly set, only the writes that failed or went out in part
// (traffic::writeOutcome) are shown, whatever the direction.
// Rows keep the model's order. UI thread only.
class TrafficFilter : public QSortFilterProxyModel
{
    Q_OBJECT
public:
    explicit TrafficFilter(TrafficModel* model, QObject* parent = nullptr);

    // No value: every direction.
    void setDirection(std::optional<traffic::Direction> direction);
    void setText(const QString& text);
    void setFailedWritesOnly(bool only);

    // The Traffic window's direction box: its entries' labels, in order (the
    // first shows every direction, the last the writes that failed or went
    // out in part), and the filter for one of them (an index out of range
    // changes nothing).
    static QStringList directionChoices();
    void chooseDirection(int index);

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    TrafficModel* model_;
    std::optional<traffic::Direction> direction_;
    bool failedWritesOnly_ = false;
    QString text_;
    std::string needle_; // text_ in UTF-8, ASCII letters in lower case
};

} // namespace app

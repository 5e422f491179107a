#include "devicesmodel.h"

#include <QDateTime>

namespace app
{

namespace
{

QString sinceText(std::chrono::system_clock::time_point since)
{
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(since.time_since_epoch()).count();
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

} // namespace

QString DevicesModel::consoleStateText(const ConsoleConnection& console)
{
    using State = ConsoleConnection::State;
    switch (console.state) {
    case State::None:
        return {};
    case State::Connecting:
        return tr("console: connecting");
    case State::Refused:
        return tr("console: refused (%1)").arg(QString::fromStdString(console.why));
    case State::Connected:
        return tr("console: connected");
    case State::ClosedByDevice:
        return tr("console: closed by the device");
    case State::Dropped:
        return tr("console: dropped (%1)").arg(QString::fromStdString(console.why));
    case State::ClosedHere:
        return tr("console: closed here");
    }
    return {};
}

DevicesModel::Row DevicesModel::consoleRow(const ConsoleConnection& console)
{
    Row row;
    row.cells[Protocol] = console.udp ? QStringLiteral("UDP") : QStringLiteral("TCP");
    row.cells[Address] = QString::fromStdString(console.target);
    row.cells[Since] = sinceText(console.since);
    row.cells[BytesIn] = QString::number(console.bytesIn);
    row.cells[BytesOut] = QString::number(console.bytesOut);
    row.cells[LastFrame] = QString::fromStdString(console.lastFrame);
    row.cells[State] = consoleStateText(console);
    return row;
}

DevicesModel::Row DevicesModel::deviceRow(const host::DeviceRow& device)
{
    Row row;
    row.id = device.id;
    row.served = device.state == host::DeviceState::Connected;
    row.cells[Protocol] = QString::fromStdString(host::transportText(device.transport)) +
                          (device.tls.on() ? QStringLiteral("+TLS") : QString());
    row.cells[Address] = QString::fromStdString(device.peer.text());
    row.cells[Since] = sinceText(device.since);
    row.cells[BytesIn] = QString::number(device.bytesIn);
    row.cells[BytesOut] = QString::number(device.bytesOut);
    row.cells[LastFrame] = QString::fromStdString(device.lastFrame);
    QString state = QString::fromStdString(host::stateText(device.state));
    if (!device.why.empty())
        state += QStringLiteral(" (") + QString::fromStdString(device.why) + ')';
    row.cells[State] = state;
    return row;
}

void DevicesModel::update(const ConsoleConnection& console, const host::HostSnapshot& snapshot)
{
    std::vector<Row> next;
    next.reserve(snapshot.rows.size() + 1);
    if (console.state != ConsoleConnection::State::None)
        next.push_back(consoleRow(console));
    for (const host::DeviceRow& device : snapshot.rows) {
        if (device.state != host::DeviceState::WithConsole)
            next.push_back(deviceRow(device));
        else if (device.tls.on() && !next.empty() && next.front().id == 0 &&
                 console.target == device.peer.text())
            // The console's device called in with TLS: the host knows it.
            next.front().cells[Protocol] += QStringLiteral("+TLS");
    }

    const bool sameDevices = next.size() == rows_.size() &&
                             std::equal(next.begin(), next.end(), rows_.begin(),
                                        [](const Row& a, const Row& b) { return a.id == b.id; });
    if (!sameDevices) {
        beginResetModel();
        rows_ = std::move(next);
        endResetModel();
        return;
    }
    for (std::size_t i = 0; i < next.size(); ++i) {
        if (next[i] == rows_[i])
            continue;
        rows_[i] = std::move(next[i]);
        const int row = static_cast<int>(i);
        emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
    }
}

std::uint64_t DevicesModel::deviceId(int row) const
{
    return row >= 0 && row < rowCount() ? rows_[static_cast<std::size_t>(row)].id : 0;
}

int DevicesModel::rowOf(std::uint64_t id) const
{
    for (std::size_t i = 0; i < rows_.size(); ++i)
        if (rows_[i].id == id && id != 0)
            return static_cast<int>(i);
    return -1;
}

bool DevicesModel::servedByHost(int row) const
{
    return row >= 0 && row < rowCount() && rows_[static_cast<std::size_t>(row)].served;
}

int DevicesModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int DevicesModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant DevicesModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount() || role != Qt::DisplayRole)
        return {};
    return rows_[static_cast<std::size_t>(index.row())]
        .cells[static_cast<std::size_t>(index.column())];
}

QVariant DevicesModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case Protocol:
        return tr("Protocol");
    case Address:
        return tr("Address and port");
    case Since:
        return tr("Connected since");
    case BytesIn:
        return tr("Bytes in");
    case BytesOut:
        return tr("Bytes out");
    case LastFrame:
        return tr("Last frame");
    case State:
        return tr("State");
    }
    return {};
}

} // namespace app

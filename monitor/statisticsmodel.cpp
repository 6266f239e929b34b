#include "monitor/statisticsmodel.h"

#include "bus/poller.h"
#include "monitor/linkmonitor.h"

#include <cmath>

namespace monitor {

namespace {
constexpr std::array<const char *, StatisticsModel::ColumnCount> columnNames{
    QT_TRANSLATE_NOOP("monitor::StatisticsModel", "Sent"),
    QT_TRANSLATE_NOOP("monitor::StatisticsModel", "Answered"),
    QT_TRANSLATE_NOOP("monitor::StatisticsModel", "No reply"),
    QT_TRANSLATE_NOOP("monitor::StatisticsModel", "Latency min (ms)"),
    QT_TRANSLATE_NOOP("monitor::StatisticsModel", "Latency median (ms)"),
    QT_TRANSLATE_NOOP("monitor::StatisticsModel", "Latency max (ms)"),
};

QVariant milliseconds(double ms)
{
    return std::isnan(ms) ? QVariant(QString()) : QVariant(QString::number(ms, 'f', 1));
}
} // namespace

StatisticsModel::StatisticsModel(const LinkMonitor *link, QObject *parent)
    : QAbstractTableModel(parent), m_link(link)
{
}

int StatisticsModel::rowCount(const QModelIndex &parent) const
{
    if (parent.isValid())
        return 0;
    return int(protocol::requestKinds.size()) + (m_bus ? int(m_bus->modules().size()) : 0);
}

QVariant StatisticsModel::busData(int module, Column column) const
{
    const bus::ModuleStatus &status = m_bus->modules().at(std::size_t(module));
    switch (column) {
    case Sent:
        return status.sent;
    case Answered:
        return status.answered;
    case NoReply:
        return status.sent - status.answered;
    case LatencyMin:
        return milliseconds(status.minLatencyMs());
    case LatencyMedian:
        return milliseconds(status.medianLatencyMs());
    case LatencyMax:
        return milliseconds(status.maxLatencyMs());
    case ColumnCount:
        break;
    }
    return {};
}

int StatisticsModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant StatisticsModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return {};
    if (role == Qt::TextAlignmentRole)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole)
        return {};
    const int kinds = int(protocol::requestKinds.size());
    if (index.row() >= kinds)
        return busData(index.row() - kinds, Column(index.column()));
    const RequestCounts &counts =
        m_link->statistics()[protocol::allRequestKinds[std::size_t(index.row())]];
    switch (Column(index.column())) {
    case Sent:
        return counts.sent;
    case Answered:
        return counts.answered;
    case NoReply:
        return counts.noReply;
    case LatencyMin:
        return milliseconds(counts.latency.min());
    case LatencyMedian:
        return milliseconds(counts.latency.median());
    case LatencyMax:
        return milliseconds(counts.latency.max());
    case ColumnCount:
        break;
    }
    return {};
}

QVariant StatisticsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || section < 0)
        return {};
    if (orientation == Qt::Horizontal)
        return section < ColumnCount ? tr(columnNames[std::size_t(section)]) : QVariant();
    const int kinds = int(protocol::requestKinds.size());
    if (section >= kinds && m_bus && section - kinds < int(m_bus->modules().size()))
        return tr("Module %1").arg(int(m_bus->modules().at(std::size_t(section - kinds)).address));
    return section < kinds ? tr(protocol::requestKinds[std::size_t(section)].label) : QVariant();
}

void StatisticsModel::refresh()
{
    // A new set of modules on the bus adds or removes rows.
    if (rowCount() != m_rows) {
        beginResetModel();
        m_rows = rowCount();
        endResetModel();
    }
    emit dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1), {Qt::DisplayRole});
}

} // namespace monitor

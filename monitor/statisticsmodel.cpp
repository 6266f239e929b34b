#include "monitor/statisticsmodel.h"

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
    return parent.isValid() ? 0 : int(protocol::requestKinds.size());
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
    return section < int(protocol::requestKinds.size())
               ? tr(protocol::requestKinds[std::size_t(section)].label)
               : QVariant();
}

void StatisticsModel::refresh()
{
    emit dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1), {Qt::DisplayRole});
}

} // namespace monitor

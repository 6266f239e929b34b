#include "busview/bustablemodel.h"

#include "samples/csv.h"

#include <QApplication>
#include <QBrush>
#include <QColor>
#include <QDateTime>
#include <QStyle>

#include <algorithm>
#include <array>
#include <cmath>

namespace busview {

namespace {

constexpr std::array<const char *, BusTableModel::ColumnCount> columnNames{
    QT_TRANSLATE_NOOP("busview::BusTableModel", "Address"),
    QT_TRANSLATE_NOOP("busview::BusTableModel", "Type"),
    QT_TRANSLATE_NOOP("busview::BusTableModel", "Serial number"),
    QT_TRANSLATE_NOOP("busview::BusTableModel", "Temperature (°C)"),
    QT_TRANSLATE_NOOP("busview::BusTableModel", "Humidity (%RH)"),
    QT_TRANSLATE_NOOP("busview::BusTableModel", "Dew point (°C)"),
    QT_TRANSLATE_NOOP("busview::BusTableModel", "Wet bulb (°C)"),
    QT_TRANSLATE_NOOP("busview::BusTableModel", "Last reply"),
    QT_TRANSLATE_NOOP("busview::BusTableModel", "Sent"),
    QT_TRANSLATE_NOOP("busview::BusTableModel", "Answered"),
    QT_TRANSLATE_NOOP("busview::BusTableModel", "Median latency (ms)"),
    QT_TRANSLATE_NOOP("busview::BusTableModel", "State"),
};

// Model numbers from firstModelNumber on, as the main window's type box names them.
constexpr std::array<const char *, 2> typeNames{"SHT2X", "SHT3X"};
constexpr int firstModelNumber = 8132;

QString tenthsText(int tenths)
{
    return QString::fromLatin1(samples::csv::tenths(tenths));
}

double threshold(samples::Threshold t)
{
    return samples::thresholdTable[std::size_t(t)].value;
}

bool outside(double value, samples::Threshold low, samples::Threshold high)
{
    return value < threshold(low) || value > threshold(high);
}

bool hasValues(const bus::ModuleStatus &module)
{
    return module.state() == bus::Backoff::State::Online && module.latest.msecsSinceEpoch > 0 &&
           !module.latest.isGap();
}

} // namespace

std::optional<double> median(std::vector<double> values)
{
    if (values.empty())
        return std::nullopt;
    const auto middle = values.begin() + std::ptrdiff_t(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    if (values.size() % 2 == 1)
        return *middle;
    return (*std::max_element(values.begin(), middle) + *middle) / 2;
}

BusTableModel::BusTableModel(const bus::Poller *poller, QObject *parent)
    : QAbstractTableModel(parent), m_poller(poller)
{
}

void BusTableModel::setTolerances(double temperature, double humidity)
{
    m_temperatureTolerance = temperature;
    m_humidityTolerance = humidity;
    refresh();
}

int BusTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_poller->modules().size());
}

int BusTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

std::optional<double> BusTableModel::valueOf(const bus::ModuleStatus &module, Column column) const
{
    if (!hasValues(module))
        return std::nullopt;
    switch (column) {
    case Temperature:
        return module.latest.temperature / 10.0;
    case Humidity:
        return module.latest.humidity / 10.0;
    default:
        return std::nullopt;
    }
}

std::optional<double> BusTableModel::deviation(int row, Column column) const
{
    const std::optional<double> &centre =
        column == Temperature ? m_temperatureMedian : m_humidityMedian;
    const std::optional<double> value = valueOf(m_poller->modules().at(std::size_t(row)), column);
    if (!centre || !value)
        return std::nullopt;
    return *value - *centre;
}

bool BusTableModel::isMarked(int row, Column column) const
{
    if (column != Temperature && column != Humidity)
        return false;
    const std::optional<double> off = deviation(row, column);
    const double tolerance = column == Temperature ? m_temperatureTolerance : m_humidityTolerance;
    // Tenths in binary: a difference equal to the tolerance must not be marked by rounding.
    return off && std::abs(*off) > tolerance + 1e-6;
}

samples::PlausibilityFlags BusTableModel::flagsOf(int row, Column column) const
{
    using samples::PlausibilityFlag;
    using samples::Threshold;
    const bus::ModuleStatus &module = m_poller->modules().at(std::size_t(row));
    const auto found = m_flags.find(module.address);
    if (found == m_flags.end() || module.latest.msecsSinceEpoch == 0)
        return {};
    const samples::PlausibilityFlags flags = found->second;
    samples::PlausibilityFlags concern;
    switch (column) {
    case Temperature:
    case Humidity: {
        const bool temperature = column == Temperature;
        const double value =
            temperature ? module.latest.temperature / 10.0 : module.latest.humidity / 10.0;
        // The range flag names no value: each cell checks its own.
        const bool out = temperature
                             ? outside(value, Threshold::TemperatureMin, Threshold::TemperatureMax)
                             : outside(value, Threshold::HumidityMin, Threshold::HumidityMax);
        if (out && flags.testFlag(PlausibilityFlag::Range))
            concern |= PlausibilityFlag::Range;
        concern |= flags & (PlausibilityFlag::Step | PlausibilityFlag::Flat);
        break;
    }
    case DewPoint:
        concern = flags & PlausibilityFlag::DewPoint;
        break;
    default:
        break;
    }
    return concern;
}

void BusTableModel::setFlags(quint8 address, samples::PlausibilityFlags flags)
{
    m_flags[address] = flags;
    const auto &modules = m_poller->modules();
    for (std::size_t row = 0; row < modules.size(); ++row) {
        if (modules[row].address == address)
            emit dataChanged(index(int(row), Temperature), index(int(row), DewPoint));
    }
}

QString BusTableModel::medianTip(int row, Column column) const
{
    const double off = *deviation(row, column);
    const double centre = column == Temperature ? *m_temperatureMedian : *m_humidityMedian;
    const QString unit = column == Temperature ? tr("°C") : tr("%RH");
    return tr("%1 %2 %3 the median of the online modules (%4 %2)")
        .arg(QString::number(std::abs(off), 'f', 1), unit, off > 0 ? tr("above") : tr("below"),
             QString::number(centre, 'f', 1));
}

QString BusTableModel::flagsTip(samples::PlausibilityFlags flags) const
{
    using samples::PlausibilityFlag;
    using samples::Threshold;
    const auto number = [](Threshold t) { return QString::number(threshold(t), 'f', 1); };
    QStringList lines;
    const QStringList names = samples::flagNames(flags);
    // In the order of flagNames().
    if (flags.testFlag(PlausibilityFlag::Range))
        lines << tr("outside what the sensor measures (%1 to %2 °C, %3 to %4 %RH)")
                     .arg(number(Threshold::TemperatureMin), number(Threshold::TemperatureMax),
                          number(Threshold::HumidityMin), number(Threshold::HumidityMax));
    if (flags.testFlag(PlausibilityFlag::DewPoint))
        lines << tr("the dew point is above the temperature by more than %1 °C")
                     .arg(number(Threshold::DewPointMargin));
    if (flags.testFlag(PlausibilityFlag::Step))
        lines << tr("a change of more than %1 °C or %2 %RH within %3 s")
                     .arg(number(Threshold::StepTemperature), number(Threshold::StepHumidity),
                          QString::number(threshold(Threshold::StepInterval)));
    if (flags.testFlag(PlausibilityFlag::Flat))
        lines << tr("temperature and humidity unchanged for %n minute(s)", nullptr,
                    int(threshold(Threshold::FlatDuration) / 60));
    for (int i = 0; i < lines.size(); ++i)
        lines[i] = names.at(i) + QLatin1String(": ") + lines[i];
    return tr("Implausible:") + QLatin1Char('\n') + lines.join(QLatin1Char('\n'));
}

QVariant BusTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return {};
    const bus::ModuleStatus &module = m_poller->modules().at(std::size_t(index.row()));
    const Column column = Column(index.column());
    const samples::Sample &latest = module.latest;
    const bool values = latest.msecsSinceEpoch > 0;

    if (role == Qt::BackgroundRole)
        return isMarked(index.row(), column) ? QBrush(QColor(255, 200, 200)) : QVariant();
    if (role == Qt::DecorationRole) {
        // A sign rather than a colour: the background already tells the chamber check.
        return flagsOf(index.row(), column)
                   ? QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning)
                   : QVariant();
    }
    if (role == Qt::ToolTipRole) {
        if (column == Type || column == SerialNumber)
            return module.identityNote.isEmpty() ? QVariant() : module.identityNote;
        QStringList tips;
        if (isMarked(index.row(), column))
            tips << medianTip(index.row(), column);
        if (const samples::PlausibilityFlags flags = flagsOf(index.row(), column))
            tips << flagsTip(flags);
        return tips.isEmpty() ? QVariant() : tips.join(QStringLiteral("\n\n"));
    }
    if (role == Qt::TextAlignmentRole)
        return int((column == State || column == Type ? Qt::AlignLeft : Qt::AlignRight) |
                   Qt::AlignVCenter);
    if (role != Qt::DisplayRole)
        return {};

    switch (column) {
    case Address:
        return int(module.address);
    case Type: {
        const int index = module.model - firstModelNumber;
        if (module.model == 0)
            return module.identityNote.isEmpty() ? QString() : tr("(not read)");
        return index >= 0 && index < int(typeNames.size())
                   ? QString::fromLatin1(typeNames[std::size_t(index)])
                   : QString::number(module.model);
    }
    case SerialNumber:
        return module.serialNumber;
    case Temperature:
        return values ? tenthsText(latest.temperature) : QString();
    case Humidity:
        return values ? tenthsText(latest.humidity) : QString();
    case DewPoint:
        return values ? tenthsText(latest.dewPoint) : QString();
    case WetBulb:
        return values && latest.hasWetBulb ? tenthsText(latest.wetBulb) : QString();
    case LastReply:
        return module.lastReplyMsecs > 0 ? QDateTime::fromMSecsSinceEpoch(module.lastReplyMsecs)
                                               .toString(QStringLiteral("hh:mm:ss"))
                                         : QString();
    case Sent:
        return module.sent;
    case Answered:
        return module.answered;
    case MedianLatency: {
        const double ms = module.medianLatencyMs();
        return std::isnan(ms) ? QString() : QString::number(ms, 'f', 1);
    }
    case State:
        switch (module.state()) {
        case bus::Backoff::State::Unknown:
            return tr("not asked yet");
        case bus::Backoff::State::Online:
            return tr("online");
        case bus::Backoff::State::NoReply:
            return tr("no reply");
        case bus::Backoff::State::Offline:
            return tr("offline until %1")
                .arg(QDateTime::fromMSecsSinceEpoch(module.offlineUntilMsecs)
                         .toString(QStringLiteral("hh:mm:ss")));
        }
        break;
    case ColumnCount:
        break;
    }
    return {};
}

QVariant BusTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 ||
        section >= ColumnCount)
        return {};
    return tr(columnNames[std::size_t(section)]);
}

void BusTableModel::reset()
{
    beginResetModel();
    m_flags.clear();
    endResetModel();
    refresh();
}

void BusTableModel::refreshModule(int row)
{
    const std::optional<double> temperatureMedian = m_temperatureMedian;
    const std::optional<double> humidityMedian = m_humidityMedian;
    updateMedians();
    if (m_temperatureMedian != temperatureMedian || m_humidityMedian != humidityMedian) {
        emit dataChanged(index(0, Temperature), index(rowCount() - 1, Humidity));
    }
    emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
}

void BusTableModel::refresh()
{
    updateMedians();
    if (rowCount() > 0)
        emit dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1));
}

void BusTableModel::updateMedians()
{
    std::vector<double> temperatures;
    std::vector<double> humidities;
    for (const bus::ModuleStatus &module : m_poller->modules()) {
        if (const auto t = valueOf(module, Temperature))
            temperatures.push_back(*t);
        if (const auto h = valueOf(module, Humidity))
            humidities.push_back(*h);
    }
    m_temperatureMedian = median(temperatures);
    m_humidityMedian = median(humidities);
}

} // namespace busview

#include "monitor/trendview.h"

#include "monitor/busseries.h"
#include "monitor/sampleseries.h"
#include "samples/csv.h"

#include <QDateTime>
#include <QToolTip>
#include <QVBoxLayout>

#include <qcustomplot.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace monitor {

namespace {

struct Trace
{
    SampleSeries::Value value;
    const char *name;
    const char *unit; // not translated
    QRgb colour;
    bool rightAxis;
};

// In the order of the legend.
constexpr std::array<Trace, 4> traces{{
    {SampleSeries::Temperature, QT_TRANSLATE_NOOP("monitor::TrendView", "Temperature"), "°C",
     0xd62728, false},
    {SampleSeries::DewPoint, QT_TRANSLATE_NOOP("monitor::TrendView", "Dew point"), "°C", 0x1f77b4,
     false},
    {SampleSeries::WetBulb, QT_TRANSLATE_NOOP("monitor::TrendView", "Wet bulb"), "°C", 0x2ca02c,
     false},
    {SampleSeries::Humidity, QT_TRANSLATE_NOOP("monitor::TrendView", "Humidity"), "%RH", 0x9467bd,
     true},
}};

// Points drawn per pixel column of the plot over the data kept ready: the visible time and as
// much again on either side, so that dragging does not run out of data.
constexpr std::size_t pointsPerColumn = 3;
// Room right of the clock while following, as a share of the span.
constexpr double followMargin = 0.02;
constexpr double shortestAll = 60.0; // seconds shown by "All" for a run that just began
constexpr double markerSize = 8.0;   // pixels

QString tenths(int value)
{
    return QString::fromLatin1(samples::csv::tenths(value));
}

// The lines of a bus in the colours of a common palette; past its ten colours, dashed and then
// dotted, so that thirty modules still have a line of their own.
constexpr std::array<QRgb, 10> busColours{0x1f77b4, 0xff7f0e, 0x2ca02c, 0xd62728, 0x9467bd,
                                          0x8c564b, 0xe377c2, 0x7f7f7f, 0xbcbd22, 0x17becf};

QPen busPen(int colour)
{
    constexpr std::array<Qt::PenStyle, 3> styles{Qt::SolidLine, Qt::DashLine, Qt::DotLine};
    const auto index = std::size_t(std::max(colour, 0));
    QPen pen(QColor::fromRgb(busColours[index % busColours.size()]), 1);
    pen.setStyle(styles[index / busColours.size() % styles.size()]);
    return pen;
}

const Trace &traceOf(SampleSeries::Value value)
{
    return *std::find_if(traces.begin(), traces.end(),
                         [value](const Trace &t) { return t.value == value; });
}

template <typename Extent> void fitAxis(QCPAxis *axis, const Extent &extent)
{
    if (extent.isEmpty())
        return;
    const double size = std::max(extent.high - extent.low, 1.0);
    axis->setRange(extent.low - 0.1 * size, extent.high + 0.1 * size);
}

} // namespace

TrendView::TrendView(QWidget *parent) : QWidget(parent), m_plot(new QCustomPlot(this))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_plot);

    m_plot->setPlottingHint(QCP::phFastPolylines, true);
    m_plot->setNoAntialiasingOnDrag(true);
    m_plot->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    m_plot->axisRect()->setRangeDrag(Qt::Horizontal);
    m_plot->axisRect()->setRangeZoom(Qt::Horizontal);

    auto ticker = QSharedPointer<QCPAxisTickerDateTime>::create();
    ticker->setDateTimeSpec(Qt::LocalTime);
    m_plot->xAxis->setTicker(ticker);
    m_plot->xAxis->setLabel(tr("Local time"));
    m_plot->yAxis->setLabel(QStringLiteral("°C"));
    m_plot->yAxis2->setLabel(QStringLiteral("%RH"));
    m_plot->yAxis2->setVisible(true);
    m_plot->yAxis->setRange(0, 40);
    m_plot->yAxis2->setRange(0, 100);

    for (std::size_t i = 0; i < traces.size(); ++i) {
        const Trace &trace = traces[i];
        QCPGraph *graph =
            m_plot->addGraph(m_plot->xAxis, trace.rightAxis ? m_plot->yAxis2 : m_plot->yAxis);
        graph->setName(tr(trace.name) + QLatin1String(" (") + QString::fromUtf8(trace.unit) +
                       QLatin1Char(')'));
        // A one-pixel pen keeps the painter on its fast path for long polylines.
        graph->setPen(QPen(QColor(trace.colour), 1));
        m_graphs[i] = graph;
    }
    // The legend in a row of its own above the plot, where it hides no data.
    m_plot->legend->setVisible(true);
    m_plot->plotLayout()->insertRow(0);
    m_plot->plotLayout()->addElement(0, 0, m_plot->legend);
    m_plot->plotLayout()->setRowStretchFactor(0, 0.001);
    m_plot->legend->setFillOrder(QCPLayoutGrid::foColumnsFirst);
    m_plot->legend->setBorderPen(Qt::NoPen);
    m_plot->legend->setMargins(QMargins(0, 0, 0, 0));

    connect(m_plot->xAxis, QOverload<const QCPRange &>::of(&QCPAxis::rangeChanged), this,
            &TrendView::onTimeRangeChanged);
    connect(m_plot, &QCustomPlot::legendClick, this,
            [this](QCPLegend *, QCPAbstractLegendItem *item, QMouseEvent *) {
                if (auto *entry = qobject_cast<QCPPlottableLegendItem *>(item))
                    toggleTrace(qobject_cast<QCPGraph *>(entry->plottable()));
            });
    connect(m_plot, &QCustomPlot::mouseMove, this, &TrendView::showNearest);
    placeAtNow();
}

void TrendView::setSeries(const SampleSeries *series)
{
    m_series = series;
    m_stale = true;
}

void TrendView::setBus(const BusSeries *bus)
{
    if (bus == m_bus)
        return;
    m_bus = bus;
    m_stale = true;
    // One value axis in bus mode, in the unit of the quantity shown.
    m_plot->yAxis2->setVisible(!bus);
    for (QCPGraph *graph : m_graphs) {
        if (bus) {
            graph->removeFromLegend();
            graph->data()->clear();
        } else {
            graph->addToLegend();
        }
    }
    if (!bus) {
        for (const auto &entry : m_busLines) {
            m_plot->removeGraph(entry.second.line);
            m_plot->removeGraph(entry.second.markers);
        }
        m_busLines.clear();
        // The unit changes back; the range of the bus's quantity would mean nothing until the
        // main window's module is polled again.
        m_plot->yAxis->setLabel(QStringLiteral("°C"));
        m_plot->yAxis->setRange(0, 40);
    }
    refresh();
}

void TrendView::setBusQuantity(SampleSeries::Value quantity)
{
    m_busQuantity = quantity;
    m_stale = true;
    refresh();
}

void TrendView::setSpan(int seconds)
{
    m_spanSeconds = seconds;
    follow();
}

void TrendView::follow()
{
    setFollowing(true);
    m_stale = true;
    refresh();
}

void TrendView::refresh()
{
    if ((!m_series && !m_bus) || !isVisible() || window()->isMinimized())
        return;
    const std::size_t count = m_bus ? m_bus->sampleCount() : m_series->size();
    const bool grown = count != m_drawnSamples;
    // While following, the axis moves with the clock; a move of less than a pixel shows nothing.
    const double msecsPerColumn =
        m_plot->xAxis->range().size() * 1000.0 / std::max(m_plot->axisRect()->width(), 1);
    const bool clockMoved = m_following && double(QDateTime::currentMSecsSinceEpoch() -
                                                  m_placedAtMsecs) >= msecsPerColumn;
    if (!grown && !m_stale && !clockMoved)
        return;
    if (grown && !m_bus && !m_following && !m_stale && m_drawnSamples < count) {
        // New samples beyond the time the operator is looking at change nothing on screen.
        const double newest = double(m_series->samples().back().msecsSinceEpoch) / 1000.0;
        const double firstNew =
            double(m_series->samples()[m_drawnSamples].msecsSinceEpoch) / 1000.0;
        const QCPRange shown = m_plot->xAxis->range();
        if (firstNew > shown.upper || newest < shown.lower) {
            m_drawnSamples = count;
            return;
        }
    }
    m_drawnSamples = count;
    m_stale = false;
    if (m_following)
        placeAtNow();
    rebuild();
    m_plot->replot();
}

void TrendView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    m_stale = true; // the number of points drawn follows the width
}

void TrendView::setFollowingHandler(std::function<void(bool)> handler)
{
    m_followingHandler = std::move(handler);
}

void TrendView::setFollowing(bool following)
{
    if (m_following == following)
        return;
    m_following = following;
    if (m_followingHandler)
        m_followingHandler(following);
}

void TrendView::placeAtNow()
{
    m_placedAtMsecs = QDateTime::currentMSecsSinceEpoch();
    const bool empty = m_bus ? m_bus->empty() : !m_series || m_series->empty();
    const qint64 firstMsecs = empty   ? 0
                              : m_bus ? m_bus->firstMsecs()
                                      : m_series->samples().front().msecsSinceEpoch;
    const qint64 lastMsecs = empty   ? 0
                             : m_bus ? m_bus->lastMsecs()
                                     : m_series->samples().back().msecsSinceEpoch;
    // A sample stamped after the clock (the clock was set back) stays in view.
    const double newest = std::max(m_placedAtMsecs, lastMsecs) / 1000.0;
    double lower = 0;
    double upper = 0;
    if (m_spanSeconds > 0) {
        upper = newest + followMargin * m_spanSeconds;
        lower = upper - m_spanSeconds;
    } else {
        const double first = empty ? newest : double(firstMsecs) / 1000.0;
        upper = newest + followMargin * std::max(newest - first, shortestAll);
        lower = std::min(first, upper - shortestAll);
    }
    const double span = upper - lower;
    auto ticker = m_plot->xAxis->ticker().dynamicCast<QCPAxisTickerDateTime>();
    ticker->setDateTimeFormat(span <= 3600        ? QStringLiteral("hh:mm:ss")
                              : span <= 24 * 3600 ? QStringLiteral("hh:mm")
                                                  : QStringLiteral("MM-dd hh:mm"));
    m_placingRange = true;
    m_plot->xAxis->setRange(lower, upper);
    m_placingRange = false;
}

void TrendView::rebuild()
{
    Extent left;
    Extent right;
    if (m_bus) {
        placeBusLines();
        const Trace &shown = traceOf(m_busQuantity);
        m_plot->yAxis->setLabel(QString::fromUtf8(shown.unit));
        for (const auto &[address, lines] : m_busLines) {
            drawLines(m_bus->modules().at(address).series, {{m_busQuantity, lines.line, false}},
                      left, right);
            drawMarkers(*m_bus, address, lines, left);
        }
    } else if (m_series) {
        std::vector<Line> lines;
        for (std::size_t i = 0; i < traces.size(); ++i)
            lines.push_back({traces[i].value, m_graphs[i], traces[i].rightAxis});
        drawLines(*m_series, lines, left, right);
    }
    fitAxis(m_plot->yAxis, left);
    fitAxis(m_plot->yAxis2, right);
}

std::pair<std::size_t, std::size_t> TrendView::drawnRange(const SampleSeries &series) const
{
    const QCPRange shown = m_plot->xAxis->range();
    const double width = shown.size();
    // One sample past each end, so that the lines run on to the edges of the plot.
    std::size_t first = series.lowerBound(qint64((shown.lower - width) * 1000));
    first = first > 0 ? first - 1 : 0;
    const std::size_t last =
        std::min(series.lowerBound(qint64((shown.upper + width) * 1000)) + 1, series.size());
    return {first, last};
}

void TrendView::drawLines(const SampleSeries &series, const std::vector<Line> &lines, Extent &left,
                          Extent &right)
{
    const QCPRange shown = m_plot->xAxis->range();
    const double width = shown.size();
    const auto columns = std::size_t(std::max(m_plot->axisRect()->width(), 1));
    const auto [first, last] = drawnRange(series);
    const std::vector<SampleSeries::Point> points =
        series.points(first, last, pointsPerColumn * columns);

    constexpr double gap = std::numeric_limits<double>::quiet_NaN();
    // A point joined to neither neighbour is a dash a column either side: the chart library
    // draws nothing for a lone point, and a lone reply between gaps is still a reading.
    const double dash = width / double(columns);
    std::vector<QVector<QCPGraphData>> data(lines.size());
    std::vector<double> lastKey(lines.size(), -std::numeric_limits<double>::infinity());
    for (std::size_t k = 0; k < points.size(); ++k) {
        const SampleSeries::Point &p = points[k];
        const double key = double(p.msecsSinceEpoch) / 1000.0;
        const bool onScreen = shown.contains(key);
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const SampleSeries::Value v = lines[i].value;
            // Keys must not go back, even if the wall clock did.
            const auto put = [&, i](double at, double value) {
                lastKey[i] = std::max(lastKey[i], at);
                data[i].append(QCPGraphData(lastKey[i], value));
            };
            // NaN is where the chart library breaks a line.
            if (p.breakBefore || !p.has(v))
                put(key, gap);
            if (!p.has(v))
                continue;
            const bool joinedBefore = k > 0 && !p.breakBefore && points[k - 1].has(v);
            const double low = p.low[v] / 10.0;
            const double high = p.high[v] / 10.0;
            const bool joinedAfter =
                k + 1 < points.size() && !points[k + 1].breakBefore && points[k + 1].has(v);
            if (high == low && !joinedBefore && !joinedAfter) {
                put(key - dash, low);
                put(key + dash, low);
            } else {
                put(key, low);
                if (high != low)
                    put(key, high);
            }
            if (onScreen && lines[i].graph->visible()) {
                Extent &extent = lines[i].rightAxis ? right : left;
                extent.add(low);
                extent.add(high);
            }
        }
    }
    for (std::size_t i = 0; i < lines.size(); ++i)
        lines[i].graph->data()->set(data[i], true);
}

void TrendView::placeBusLines()
{
    for (const auto &[address, module] : m_bus->modules()) {
        const auto found = m_busLines.find(address);
        if (module.colour < 0) {
            if (found != m_busLines.end()) {
                m_plot->removeGraph(found->second.line);
                m_plot->removeGraph(found->second.markers);
                m_busLines.erase(found);
            }
            continue;
        }
        BusLine lines = found != m_busLines.end() ? found->second : BusLine{};
        if (!lines.line) {
            lines.line = m_plot->addGraph(m_plot->xAxis, m_plot->yAxis);
            lines.line->setName(tr("Module %1").arg(address));
            lines.markers = m_plot->addGraph(m_plot->xAxis, m_plot->yAxis);
            lines.markers->removeFromLegend();
            lines.markers->setLineStyle(QCPGraph::lsNone);
            m_busLines[address] = lines;
        }
        const QPen pen = busPen(module.colour);
        lines.line->setPen(pen);
        // Hollow, so that the reading under it stays visible; in the colour of its line.
        lines.markers->setScatterStyle(QCPScatterStyle(
            QCPScatterStyle::ssTriangle, QPen(pen.color(), 1.5), Qt::white, markerSize));
        lines.markers->setVisible(lines.line->visible());
    }
}

void TrendView::drawMarkers(const BusSeries &bus, quint8 address, const BusLine &lines,
                            Extent &extent)
{
    const BusSeries::Module &module = bus.modules().at(address);
    const auto [first, last] = drawnRange(module.series);
    const QCPRange shown = m_plot->xAxis->range();
    // Markers apart by their size at least: a frozen sensor is flagged at every reading, and a
    // run of them must still read as markers on a line rather than a band.
    const double spacing = markerSize * shown.size() / std::max(m_plot->axisRect()->width(), 1);
    QVector<QCPGraphData> data;
    double lastKey = -std::numeric_limits<double>::infinity();
    auto flagged =
        std::lower_bound(module.flagged.begin(), module.flagged.end(), first,
                         [](const auto &f, std::size_t index) { return f.first < index; });
    for (; flagged != module.flagged.end() && flagged->first < last; ++flagged) {
        const samples::Sample &sample = module.series.samples()[flagged->first];
        const SampleSeries::Point point = SampleSeries::pointOf(sample);
        const double key = double(sample.msecsSinceEpoch) / 1000.0;
        if (!point.has(m_busQuantity) || std::abs(key - lastKey) < spacing)
            continue;
        lastKey = key;
        const double value = point.low[m_busQuantity] / 10.0;
        data.append(QCPGraphData(key, value));
        if (shown.contains(key) && lines.line->visible())
            extent.add(value);
    }
    lines.markers->data()->set(data, false);
}

void TrendView::onTimeRangeChanged()
{
    if (m_placingRange)
        return;
    // The operator dragged or zoomed: stay where they are. The chart library redraws after.
    setFollowing(false);
    rebuild();
}

void TrendView::toggleTrace(QCPGraph *graph)
{
    if (!graph)
        return;
    graph->setVisible(!graph->visible());
    if (QCPPlottableLegendItem *entry = m_plot->legend->itemWithPlottable(graph))
        entry->setTextColor(graph->visible() ? Qt::black : Qt::gray);
    rebuild(); // the value axes fit what is shown
    m_plot->replot();
}

void TrendView::showNearest(QMouseEvent *event)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    const QPoint at = event->position().toPoint();
#else
    const QPoint at = event->pos();
#endif
    const bool empty = m_bus ? m_bus->empty() : !m_series || m_series->empty();
    if (empty || !m_plot->axisRect()->rect().contains(at)) {
        QToolTip::hideText();
        return;
    }
    const double key = m_plot->xAxis->pixelToCoord(at.x());
    if (m_bus) {
        QToolTip::showText(m_plot->mapToGlobal(at), busReadingsAt(qint64(key * 1000)), m_plot);
        return;
    }
    const samples::Sample &s = m_series->samples()[m_series->nearest(qint64(key * 1000))];
    QString text = QDateTime::fromMSecsSinceEpoch(s.msecsSinceEpoch)
                       .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    if (s.isGap())
        text += QLatin1Char('\n') + tr("No reply");
    const SampleSeries::Point values = SampleSeries::pointOf(s);
    for (const Trace &trace : traces) {
        if (values.has(trace.value))
            text += QLatin1Char('\n') + tr(trace.name) + QLatin1String(": ") +
                    tenths(values.low[trace.value]) + QLatin1Char(' ') +
                    QString::fromUtf8(trace.unit);
    }
    QToolTip::showText(m_plot->mapToGlobal(at), text, m_plot);
}

QString TrendView::busReadingsAt(qint64 msecs) const
{
    const Trace &trace = traceOf(m_busQuantity);
    QString text = QDateTime::fromMSecsSinceEpoch(msecs).toString(QStringLiteral("hh:mm:ss"));
    for (const auto &[address, lines] : m_busLines) {
        const BusSeries::Module &module = m_bus->modules().at(address);
        if (!lines.line->visible() || module.series.empty())
            continue;
        const std::size_t index = module.series.nearest(msecs);
        const SampleSeries::Point values = SampleSeries::pointOf(module.series.samples()[index]);
        text += QLatin1Char('\n') + lines.line->name() + QLatin1String(": ") +
                (values.has(m_busQuantity) ? tenths(values.low[m_busQuantity]) + QLatin1Char(' ') +
                                                 QString::fromUtf8(trace.unit)
                                           : tr("No reply"));
        const auto flagged =
            std::lower_bound(module.flagged.begin(), module.flagged.end(), index,
                             [](const auto &f, std::size_t i) { return f.first < i; });
        if (flagged != module.flagged.end() && flagged->first == index)
            text += QLatin1String(" (") +
                    samples::flagNames(flagged->second).join(QLatin1String(", ")) +
                    QLatin1Char(')');
    }
    return text;
}

} // namespace monitor

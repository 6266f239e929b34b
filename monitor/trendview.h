#pragma once

#include "monitor/trendchart.h"

#include <QWidget>

#include <algorithm>
#include <array>
#include <cstddef>
#include <limits>
#include <map>
#include <utility>
#include <vector>

class QCustomPlot;
class QCPGraph;
class QMouseEvent;

namespace monitor {

// The trend chart: temperature, dew point and wet bulb on the left axis in °C, humidity on the
// right in %RH, local time below; while a bus is polled, one of them for every polled module. It
// follows the clock until the operator drags or zooms the time axis, so that a module gone silent
// shows as an empty stretch at the right. Drawing is left to refresh(), which the window calls from
// a timer, so a reply never waits for the chart. The chart library stays behind this class, which
// the chart plugin alone builds.
class TrendView : public QWidget, public TrendChart
{
    Q_OBJECT

public:
    explicit TrendView(QWidget *parent = nullptr);

    QWidget *widget() override { return this; }
    void setSeries(const SampleSeries *series) override;
    void setBus(const BusSeries *bus) override;
    void setBusQuantity(SampleSeries::Value quantity) override;
    void setSpan(int seconds) override;
    void follow() override;
    void refresh() override;
    void setFollowingHandler(std::function<void(bool)> handler) override;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    // A value of a series and the graph that draws it.
    struct Line
    {
        SampleSeries::Value value;
        QCPGraph *graph;
        bool rightAxis;
    };
    // The values a value axis must show.
    struct Extent
    {
        double low = std::numeric_limits<double>::infinity();
        double high = -std::numeric_limits<double>::infinity();
        void add(double value)
        {
            low = std::min(low, value);
            high = std::max(high, value);
        }
        bool isEmpty() const { return low > high; }
    };
    struct BusLine
    {
        QCPGraph *line;
        QCPGraph *markers; // at the flagged readings
    };

    void setFollowing(bool following);
    void placeAtNow();
    void rebuild();
    // The samples [first, last) drawn of the series: the time shown and as much on either side.
    std::pair<std::size_t, std::size_t> drawnRange(const SampleSeries &series) const;
    void drawLines(const SampleSeries &series, const std::vector<Line> &lines, Extent &left,
                   Extent &right);
    // A line a polled module, in its colour; none for the others.
    void placeBusLines();
    void drawMarkers(const BusSeries &bus, quint8 address, const BusLine &lines, Extent &extent);
    void onTimeRangeChanged();
    void toggleTrace(QCPGraph *graph);
    // Each shown module's reading nearest the time, with its flags.
    QString busReadingsAt(qint64 msecs) const;
    void showNearest(QMouseEvent *event);

    QCustomPlot *m_plot = nullptr;
    std::array<QCPGraph *, 4> m_graphs{};
    const SampleSeries *m_series = nullptr;
    const BusSeries *m_bus = nullptr;
    SampleSeries::Value m_busQuantity = SampleSeries::Temperature;
    std::map<quint8, BusLine> m_busLines; // by address
    int m_spanSeconds = 600;
    bool m_following = true;
    bool m_stale = true;         // redraw at the next refresh even if no sample came
    bool m_placingRange = false; // the range is being set by this class, not by the operator
    std::size_t m_drawnSamples = 0;
    qint64 m_placedAtMsecs = 0; // the clock when the time axis was last placed
    std::function<void(bool)> m_followingHandler;
};

} // namespace monitor

#pragma once

#include "monitor/trendchart.h"

#include <QWidget>

#include <array>
#include <cstddef>

class QCustomPlot;
class QCPGraph;
class QMouseEvent;

namespace monitor {

class SampleSeries;

// The trend chart: temperature, dew point and wet bulb on the left axis in °C, humidity on the
// right in %RH, local time below. It follows the clock until the operator drags or zooms the
// time axis, so that a module gone silent shows as an empty stretch at the right. Drawing is
// left to refresh(), which the window calls from a timer, so a reply never waits for the chart.
// The chart library stays behind this class, which the chart plugin alone builds.
class TrendView : public QWidget, public TrendChart
{
    Q_OBJECT

public:
    explicit TrendView(QWidget *parent = nullptr);

    QWidget *widget() override { return this; }
    void setSeries(const SampleSeries *series) override;
    void setSpan(int seconds) override;
    void follow() override;
    void refresh() override;
    void setFollowingHandler(std::function<void(bool)> handler) override;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void setFollowing(bool following);
    void placeAtNow();
    void rebuild();
    void onTimeRangeChanged();
    void toggleTrace(QCPGraph *graph);
    void showNearest(QMouseEvent *event);

    QCustomPlot *m_plot = nullptr;
    std::array<QCPGraph *, 4> m_graphs{};
    const SampleSeries *m_series = nullptr;
    int m_spanSeconds = 600;
    bool m_following = true;
    bool m_stale = true;         // redraw at the next refresh even if no sample came
    bool m_placingRange = false; // the range is being set by this class, not by the operator
    std::size_t m_drawnSamples = 0;
    qint64 m_placedAtMsecs = 0; // the clock when the time axis was last placed
    std::function<void(bool)> m_followingHandler;
};

} // namespace monitor

#pragma once

#include <QWidget>

#include <array>
#include <cstddef>

class QCustomPlot;
class QCPGraph;
class QMouseEvent;

namespace monitor {

class SampleSeries;

// The trend chart: temperature, dew point and wet bulb on the left axis in °C, humidity on the
// right in %RH, local time below. It follows the newest sample until the operator drags or
// zooms the time axis. Drawing is left to refresh(), which the window calls from a timer, so a
// reply never waits for the chart. The chart library stays behind this class.
class TrendView : public QWidget
{
    Q_OBJECT

public:
    explicit TrendView(QWidget *parent = nullptr);

    void setSeries(const SampleSeries *series);
    // The time shown, in seconds; 0 shows the whole run. Follows the newest sample again.
    void setSpan(int seconds);
    bool isFollowing() const { return m_following; }
    void follow();
    // Redraws when samples came or the view changed since the last call.
    void refresh();

signals:
    void followingChanged(bool following);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void setFollowing(bool following);
    void placeAtNewest();
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
};

} // namespace monitor

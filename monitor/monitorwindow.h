#pragma once

#include "monitor/busseries.h"
#include "samples/logfile.h"

#include <QFileDialog>
#include <QTimer>
#include <QWidget>

QT_BEGIN_NAMESPACE
namespace Ui {
class MonitorWindow;
}
QT_END_NAMESPACE

namespace samples {
struct Sample;
}

namespace busview {
class BusPanel;
}

namespace monitor {

class LinkMonitor;
class StatisticsModel;
class TrendChart;
class TrendChartPlugin;

// The monitor window: the trend chart and the link statistics of what a LinkMonitor recorded
// since the start of the run, and the measurement file (Save CSV, Log to file). Closing it
// only hides it, so that a log goes on. Without the chart plugin (null), the trend tab says so
// and the rest works.
class MonitorWindow : public QWidget
{
    Q_OBJECT

public:
    MonitorWindow(LinkMonitor *link, TrendChartPlugin *charts, QWidget *parent = nullptr);
    ~MonitorWindow() override;

    busview::BusPanel *busPanel() const { return m_bus; }
    const BusSeries &busSamples() const { return m_busSamples; }

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void placeTrend(TrendChartPlugin *charts);
    void refresh();
    void showStatistics();
    // While the bus polls, the trend shows its modules.
    void onBusPolling(bool polling);
    void saveCsv();
    void toggleLog();
    void logSample(const samples::Sample &sample);
    void showLogState();
    void showError(const QString &text);
    QString askForFile(const QString &caption, QFileDialog::Options options = {});

    Ui::MonitorWindow *ui;
    LinkMonitor *m_link;
    StatisticsModel *m_statistics;
    busview::BusPanel *m_bus;
    TrendChart *m_trend = nullptr; // owned by its widget
    BusSeries m_busSamples;
    QTimer m_redraw;
    samples::LogFile m_log;
    QString m_logPath;  // the last log, also once it stopped
    QString m_logError; // why the last log stopped, when it failed
    qint64 m_loggedRows = 0;
    QString m_directory; // of the last file chosen
};

} // namespace monitor

// bench_monitor: the monitor's figures for scripts/bench, each printed as key=value.
//
//   bench_monitor redraw [--redraws N]
//       The trend chart, 1200 x 500, showing the whole run of 604,800 samples (a week at 1 Hz)
//       and of 1,000: one redraw after a new sample came, painted.
//   bench_monitor memory [--samples N]
//       Resident memory a sample: N polls and their replies through the recorder; then what
//       opening the monitor window on their chart adds to a shown main window.
//   bench_monitor log [--rows N] [--dir DIR]
//       One row appended to the measurement log with its data sync, on the disk of DIR.
//   bench_monitor poll --port PATH [--seconds S]
//       1 Hz polling against quorvel-modsim on PATH with the monitor window open on the trend:
//       processor time of this process.
//   bench_monitor bus --port PATH [--seconds S]
//       The Bus tab polling the 32 modules of quorvel-modsim on PATH at 9600 bit/s, the monitor
//       window on the trend: processor time and resident memory of this process.
#include "monitor/monitor.h"
#include "app/widget.h"
#include "busview/buspanel.h"
#include "measure.h"
#include "modalwatcher.h"
#include "monitor/chartplugin.h"
#include "monitor/linkmonitor.h"
#include "monitor/monitorwindow.h"
#include "monitor/sampleseries.h"
#include "monitor/trendchart.h"
#include "protocol/frames.h"
#include "samples/csv.h"
#include "samples/logfile.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QtTest>

#include <qcustomplot.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <random>
#include <vector>

namespace {

using testsupport::cpuSeconds;
using testsupport::percentile;
using testsupport::residentKb;
using testsupport::runEventLoop;

constexpr std::size_t weekAt1Hz = 604800;
constexpr int linkTimeoutMs = 10000;

void print(const char *key, double value)
{
    std::printf("%s=%.4f\n", key, value);
    std::fflush(stdout);
}

[[noreturn]] void fail(const QString &why)
{
    std::fprintf(stderr, "bench_monitor: %s\n", qPrintable(why));
    std::exit(1);
}

QString option(const QStringList &args, const QString &name, const QString &fallback = {})
{
    const int at = int(args.indexOf(name));
    return at >= 0 && at + 1 < args.size() ? args.at(at + 1) : fallback;
}

// A module settling slowly, with the odd poll unanswered (1 %).
class SyntheticRun
{
public:
    explicit SyntheticRun(qint64 firstMsecs) : m_next(firstMsecs) {}
    samples::Sample next()
    {
        samples::Sample s;
        s.msecsSinceEpoch = m_next;
        m_next += 1000;
        s.address = 1;
        ++m_count;
        if (m_random() % 100 == 0) {
            s.status = samples::Sample::Status::NoReply;
            return s;
        }
        const double slow = std::sin(double(m_count) / 5000.0);
        const auto noise = [&] { return int(m_random() % 5) - 2; };
        s.temperature = qint16(235 + 40 * slow + noise());
        s.humidity = quint16(550 - 80 * slow + noise());
        s.dewPoint = qint16(140 + 20 * slow + noise());
        s.wetBulb = qint16(170 + 25 * slow + noise());
        s.hasWetBulb = true;
        return s;
    }

private:
    qint64 m_next;
    std::size_t m_count = 0;
    std::mt19937 m_random{1};
};

std::vector<double> timeRedraws(std::size_t samples, int redraws)
{
    constexpr int warmUp = 20;
    SyntheticRun run(QDateTime::currentMSecsSinceEpoch() - qint64(samples) * 1000);
    monitor::SampleSeries series;
    for (std::size_t i = 0; i < samples; ++i)
        series.append(run.next());
    monitor::TrendChartPlugin *charts = monitor::trendCharts();
    if (!charts)
        fail(QStringLiteral("the chart plugin did not load"));
    monitor::TrendChart *chart = charts->createChart(nullptr);
    const std::unique_ptr<QWidget> view(chart->widget());
    view->resize(1200, 500);
    chart->setSeries(&series);
    chart->setSpan(0); // the whole run
    view->show();
    if (!QTest::qWaitForWindowExposed(view.get()))
        fail(QStringLiteral("the chart was not shown"));
    auto *plot = view->findChild<QCustomPlot *>();
    std::vector<double> ms;
    for (int i = 0; i < warmUp + redraws; ++i) {
        series.append(run.next());
        QElapsedTimer clock;
        clock.start();
        chart->refresh();
        plot->repaint();
        if (i >= warmUp)
            ms.push_back(double(clock.nsecsElapsed()) / 1e6);
        QCoreApplication::processEvents();
    }
    return ms;
}

int redraw(const QStringList &args)
{
    const int redraws = option(args, QStringLiteral("--redraws"), QStringLiteral("300")).toInt();
    const std::vector<double> week = timeRedraws(weekAt1Hz, redraws);
    const std::vector<double> small = timeRedraws(1000, redraws);
    print("redraw_week_p50_ms", percentile(week, 0.5));
    print("redraw_week_p99_ms", percentile(week, 0.99));
    print("redraw_1000_p50_ms", percentile(small, 0.5));
    print("redraw_1000_p99_ms", percentile(small, 0.99));
    print("redraw_p99_ratio", percentile(week, 0.99) / percentile(small, 0.99));
    return 0;
}

int memory(const QStringList &args)
{
    const auto samples =
        option(args, QStringLiteral("--samples"), QString::number(weekAt1Hz)).toLongLong();
    const long before = residentKb();
    monitor::LinkMonitor link;
    const QByteArray poll = frames::measurementRequest(1);
    protocol::Reply reply;
    reply.kind = protocol::ReplyKind::MeasurementWithWetBulb;
    for (qint64 i = 0; i < samples; ++i) {
        link.onRequestSent(protocol::RequestKind::Measurement, poll);
        reply.temperature = qint16(200 + i % 100);
        reply.humidity = quint16(500 + i % 77);
        link.onReplyRecognised(reply);
    }
    const long recorded = residentKb();
    print("samples", double(link.series().size()));
    print("bytes_per_sample", double(recorded - before) * 1024.0 / double(samples));

    // The main window first, so that what the display and the fonts cost is not counted.
    Widget mainWindow;
    mainWindow.show();
    if (!QTest::qWaitForWindowExposed(&mainWindow))
        fail(QStringLiteral("the main window was not shown"));
    runEventLoop(1500);
    const long shown = residentKb();
    monitor::MonitorWindow window(&link, monitor::trendCharts());
    window.resize(1280, 800);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        fail(QStringLiteral("the monitor window was not shown"));
    runEventLoop(1500);
    print("window_open_kb", double(residentKb() - shown));
    return 0;
}

int log(const QStringList &args)
{
    const int rows = option(args, QStringLiteral("--rows"), QStringLiteral("2000")).toInt();
    const QDir dir(option(args, QStringLiteral("--dir"), QDir::currentPath()));
    const QString path = dir.filePath(QStringLiteral("bench-monitor-log.csv"));
    QFile::remove(path);
    samples::LogFile log;
    if (log.open(path) != samples::LogFile::OpenResult::Opened)
        fail(QStringLiteral("cannot log to %1: %2").arg(path, log.errorString()));
    SyntheticRun run(QDateTime::currentMSecsSinceEpoch());
    std::vector<double> ms;
    QElapsedTimer all;
    all.start();
    for (int i = 0; i < rows; ++i) {
        const QByteArray row = samples::csv::row(run.next());
        QElapsedTimer clock;
        clock.start();
        if (!log.append(row))
            fail(QStringLiteral("writing %1 failed: %2").arg(path, log.errorString()));
        ms.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    log.close();
    QFile::remove(path);
    double sum = 0;
    for (double v : ms)
        sum += v;
    print("log_row_mean_ms", sum / double(rows));
    print("log_row_p50_ms", percentile(ms, 0.5));
    print("log_row_p99_ms", percentile(ms, 0.99));
    return 0;
}

int poll(const QStringList &args)
{
    const QString port = option(args, QStringLiteral("--port"));
    const int seconds = option(args, QStringLiteral("--seconds"), QStringLiteral("60")).toInt();
    if (port.isEmpty() || seconds <= 0)
        fail(QStringLiteral("poll needs --port PATH and a positive --seconds"));
    Widget window;
    auto *attached = new monitor::Monitor(&window);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        fail(QStringLiteral("the window was not shown"));
    const auto child = [&](const char *name) {
        auto *found = window.findChild<QWidget *>(QString::fromLatin1(name));
        if (!found)
            fail(QStringLiteral("no control %1").arg(QLatin1String(name)));
        return found;
    };
    {
        // The watcher's own timer would count as the tool's processor time.
        testsupport::ModalWatcher watcher;
        watcher.setDialogHandler(testsupport::acceptLinkDialog(port, QStringLiteral("9600")));
        QTest::mouseClick(child("pushButtonLink"), Qt::LeftButton);
        auto *address = static_cast<QLineEdit *>(child("lineEditAddress"));
        if (!QTest::qWaitFor([&] { return !address->text().isEmpty(); }, linkTimeoutMs))
            fail(QStringLiteral("the link to %1 did not read the module's address").arg(port));
    }
    QTest::mouseClick(child("pushButtonRead"), Qt::LeftButton);
    QTest::mouseClick(child("pushButtonMonitor"), Qt::LeftButton);
    runEventLoop(3000); // the window built and the first polls drawn before the meter starts

    const std::size_t samplesBefore = attached->link()->series().size();
    QElapsedTimer wall;
    wall.start();
    const double cpuStart = cpuSeconds();
    runEventLoop(seconds * 1000);
    const double cpu = cpuSeconds() - cpuStart;
    print("seconds", double(wall.elapsed()) / 1000.0);
    print("samples", double(attached->link()->series().size() - samplesBefore));
    print("cpu_percent", 100.0 * cpu / (double(wall.elapsed()) / 1000.0));
    return 0;
}

int busPoll(const QStringList &args)
{
    const QString port = option(args, QStringLiteral("--port"));
    const int seconds = option(args, QStringLiteral("--seconds"), QStringLiteral("60")).toInt();
    if (port.isEmpty() || seconds <= 0)
        fail(QStringLiteral("bus needs --port PATH and a positive --seconds"));
    Widget window;
    auto *attached = new monitor::Monitor(&window);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        fail(QStringLiteral("the window was not shown"));
    {
        // The bus is polled on the main window's port, at its speed.
        testsupport::ModalWatcher watcher;
        watcher.setDialogHandler(testsupport::acceptLinkDialog(port, QStringLiteral("9600")));
        QSignalSpy opened(&window, &Widget::portOpened);
        QTest::mouseClick(window.findChild<QWidget *>(QStringLiteral("pushButtonLink")),
                          Qt::LeftButton);
        if (!QTest::qWaitFor([&] { return !opened.isEmpty(); }, linkTimeoutMs))
            fail(QStringLiteral("the link to %1 did not open").arg(port));
    }
    attached->showWindow();
    busview::BusPanel *panel = nullptr;
    for (QWidget *top : QApplication::topLevelWidgets()) {
        if (!panel)
            panel = top->findChild<busview::BusPanel *>();
    }
    if (!panel)
        fail(QStringLiteral("no Bus tab"));
    panel->findChild<QLineEdit *>(QStringLiteral("lineEditBusAddresses"))
        ->setText(QStringLiteral("1-32"));
    // The take-over question, answered from the event loop its box runs.
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [] {
        for (QWidget *top : QApplication::topLevelWidgets()) {
            auto *box = qobject_cast<QMessageBox *>(top);
            if (box && box->isVisible() && box->button(QMessageBox::Yes))
                box->button(QMessageBox::Yes)->click();
        }
    });
    answer.start(10);
    QTest::mouseClick(panel->findChild<QWidget *>(QStringLiteral("pushButtonBusPoll")),
                      Qt::LeftButton);
    answer.stop();
    QWidget *monitorWindow = panel->window();
    auto *tabs = monitorWindow->findChild<QTabWidget *>(QStringLiteral("tabWidget"));
    QWidget *trend = monitorWindow->findChild<QWidget *>(QStringLiteral("tabTrend"));
    if (!tabs || !trend)
        fail(QStringLiteral("no Trend tab"));
    tabs->setCurrentWidget(trend);
    runEventLoop(5000); // the first cycles drawn before the meter starts

    const auto answered = [&] {
        qint64 sum = 0;
        for (const bus::ModuleStatus &m : panel->poller().modules())
            sum += m.answered;
        return sum;
    };
    const qint64 answeredBefore = answered();
    const long rssBefore = residentKb();
    QElapsedTimer wall;
    wall.start();
    const double cpuStart = cpuSeconds();
    runEventLoop(seconds * 1000);
    const double cpu = cpuSeconds() - cpuStart;
    print("seconds", double(wall.elapsed()) / 1000.0);
    print("polls_answered", double(answered() - answeredBefore));
    print("cpu_percent", 100.0 * cpu / (double(wall.elapsed()) / 1000.0));
    print("rss_start_kb", double(rssBefore));
    print("rss_end_kb", double(residentKb()));
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // The build tree's chart plugin, where the program beside it would find it by itself.
    QCoreApplication::addLibraryPath(QStringLiteral(QUORVEL_TREND_PLUGIN_DIR));
    const QStringList args = app.arguments();
    const QString mode = args.value(1);
    if (mode == QLatin1String("redraw"))
        return redraw(args);
    if (mode == QLatin1String("memory"))
        return memory(args);
    if (mode == QLatin1String("log"))
        return log(args);
    if (mode == QLatin1String("poll"))
        return poll(args);
    if (mode == QLatin1String("bus"))
        return busPoll(args);
    std::fputs("usage: bench_monitor redraw|memory|log|poll|bus [options]; see the source's head\n",
               stderr);
    return 2;
}

// bench_session: Quorvel's main window in a measured process, linked through its real Link
// button and settings dialog, for the figures scripts/bench prints.
//
//   bench_session reply-latency [--polls N] [--full-pane] [--tcp]
//       In-process simulated module: time from the module writing the last byte of a
//       measurement reply to the window having shown it (labels set, and label painted).
//       --tcp: the module behind a simulated serial device server on the loopback.
//   bench_session poll --port PATH [--seconds S] [--sample-seconds S] [--csv FILE] [--full-pane]
//       1 Hz polling against the quorvel-modsim program on PATH: CPU time of this process, and
//       its resident memory every sample period.
//   bench_session log-memory [--lines N] [--max-seconds S]
//       Resident memory while N exchange-log lines are written (one poll request each), or as
//       many as S seconds allow.
//
// With --full-pane the message pane starts with as many lines as it keeps, as after hours of
// polling, when every new line pushes the oldest out.
//
// Every figure is printed as key=value on a line of its own.
#include "app/widget.h"
#include "linkedwindow.h"
#include "measure.h"
#include "modalwatcher.h"
#include "protocol/exchangelog.h"
#include "simulatedmodule.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include <sys/resource.h>

namespace {

using testsupport::cpuSeconds;
using testsupport::percentile;
using testsupport::residentKb;
using testsupport::runEventLoop;

constexpr int linkTimeoutMs = 10000;
// A poll whose reply has not been shown by then counts as lost (none should be).
constexpr int replyTimeoutMs = 1000;

void print(const char *key, double value)
{
    std::printf("%s=%.3f\n", key, value);
    std::fflush(stdout);
}

void fail(const QString &why)
{
    std::fprintf(stderr, "bench_session: %s\n", qPrintable(why));
    std::exit(1);
}

template <class T> T *child(QWidget *window, const char *name)
{
    auto *found = window->findChild<T *>(QString::fromLatin1(name));
    if (!found)
        fail(QStringLiteral("no control %1").arg(QLatin1String(name)));
    return found;
}

// Presses Link, fills the real dialog with `port` at 9600 bit/s, and waits for the module's
// address, which the link reads by itself.
void linkThroughButton(Widget *window, testsupport::ModalWatcher *watcher, const QString &port)
{
    auto *address = child<QLineEdit>(window, "lineEditAddress");
    address->clear();
    watcher->setDialogHandler(testsupport::acceptLinkDialog(port, QStringLiteral("9600")));
    QTest::mouseClick(child<QPushButton>(window, "pushButtonLink"), Qt::LeftButton);
    watcher->setDialogHandler({});
    if (!QTest::qWaitFor([&] { return !address->text().isEmpty(); }, linkTimeoutMs))
        fail(QStringLiteral("the link to %1 did not read the module's address").arg(port));
}

// The state after some hours of polling: the message pane holds all the lines it keeps, and
// every new line pushes the oldest out.
void fillPane(QTextBrowser *log)
{
    const QString line = protocol::exchangeLogLine(QDateTime::currentDateTime(),
                                                   QStringLiteral("01030000000305cb"), false);
    while (log->document()->blockCount() < Widget::exchangeLogMaxLines)
        log->append(line);
    runEventLoop(500);
}

QString option(const QStringList &args, const QString &name, const QString &fallback = {})
{
    const int at = int(args.indexOf(name));
    return at >= 0 && at + 1 < args.size() ? args.at(at + 1) : fallback;
}

QString temperatureText(qint16 tenths)
{
    return QStringLiteral("Temperature:") + QString::number(tenths / 10.0, 'f', 1) + QChar(0x2103);
}

int replyLatency(const QStringList &args)
{
    const int polls = option(args, QStringLiteral("--polls"), QStringLiteral("300")).toInt();
    constexpr int warmUp = 20;

    testsupport::LinkedWindow fixture(args.contains(QStringLiteral("--tcp")));
    if (!fixture.isReady() || !fixture.link())
        fail(QStringLiteral("the window did not link to the simulated module"));
    Widget *window = fixture.widget();
    modsim::SimulatedModule *sim = fixture.sim();
    auto *label = child<QLabel>(window, "labelTemperature");
    auto *log = child<QTextBrowser>(window, "textBrowser");
    if (args.contains(QStringLiteral("--full-pane")))
        fillPane(log);
    QTest::mouseClick(child<QPushButton>(window, "pushButtonRead"), Qt::LeftButton);

    QElapsedTimer clock;
    clock.start();
    qint64 sentAt = -1;
    QString expected;
    std::vector<double> shownMs;
    std::vector<double> paintedMs;
    bool awaitShown = false;
    bool awaitPaint = false;
    QEventLoop pollDone;

    QObject::connect(sim, &modsim::SimulatedModule::replySent, [&](const QByteArray &) {
        sentAt = clock.nsecsElapsed();
        awaitShown = true;
    });
    // The exchange-log line is written right after the labels, in the same slot.
    QObject::connect(log->document(), &QTextDocument::contentsChange, [&](int, int, int) {
        if (awaitShown && label->text() == expected) {
            shownMs.push_back(double(clock.nsecsElapsed() - sentAt) / 1e6);
            awaitShown = false;
            awaitPaint = true;
        }
    });
    struct PaintWatch : QObject
    {
        std::function<void()> onPaint;
        bool eventFilter(QObject *, QEvent *event) override
        {
            if (event->type() == QEvent::Paint)
                onPaint();
            return false;
        }
    } paintWatch;
    paintWatch.onPaint = [&] {
        if (awaitPaint && label->text() == expected) {
            paintedMs.push_back(double(clock.nsecsElapsed() - sentAt) / 1e6);
            awaitPaint = false;
            pollDone.quit();
        }
    };
    label->installEventFilter(&paintWatch);

    sim->module().setFrozen(true);
    int lost = 0;
    for (int i = 0; i < polls + warmUp; ++i) {
        // A new value every poll, so that each reply changes the label.
        const auto tenths = qint16(-200 + (i * 37) % 1400);
        sim->module().setTemperature(tenths);
        expected = temperatureText(tenths);
        if (i == warmUp) {
            shownMs.clear();
            paintedMs.clear();
        }
        awaitShown = awaitPaint = false;
        sentAt = -1;
        const int before = int(paintedMs.size());
        QMetaObject::invokeMethod(window, "ReadHumitureOrder");
        runEventLoop(replyTimeoutMs, &pollDone);
        if (int(paintedMs.size()) == before)
            ++lost;
        runEventLoop(5);
    }
    print("polls", double(polls));
    print("lost", double(lost));
    print("shown_p50_ms", percentile(shownMs, 0.50));
    print("shown_p99_ms", percentile(shownMs, 0.99));
    print("shown_max_ms", percentile(shownMs, 1.0));
    print("painted_p50_ms", percentile(paintedMs, 0.50));
    print("painted_p99_ms", percentile(paintedMs, 0.99));
    return lost == 0 ? 0 : 1;
}

int poll(const QStringList &args)
{
    const QString port = option(args, QStringLiteral("--port"));
    const int seconds = option(args, QStringLiteral("--seconds"), QStringLiteral("60")).toInt();
    const int sampleSeconds =
        option(args, QStringLiteral("--sample-seconds"), QString::number(seconds)).toInt();
    const QString csvPath = option(args, QStringLiteral("--csv"));
    const bool prefill = args.contains(QStringLiteral("--full-pane"));
    if (port.isEmpty() || seconds <= 0 || sampleSeconds <= 0)
        fail(QStringLiteral("poll needs --port PATH and positive durations"));

    Widget window;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        fail(QStringLiteral("the window was not shown"));
    auto watcher = std::make_unique<testsupport::ModalWatcher>();
    linkThroughButton(&window, watcher.get(), port);
    // The watcher's own timer would be counted as the tool's CPU time.
    watcher.reset();
    auto *log = child<QTextBrowser>(&window, "textBrowser");
    if (prefill)
        fillPane(log);
    QTest::mouseClick(child<QPushButton>(&window, "pushButtonRead"), Qt::LeftButton);
    // Let the first poll go out before the meter starts.
    runEventLoop(1500);

    QFile csv(csvPath);
    if (!csvPath.isEmpty()) {
        if (!csv.open(QIODevice::WriteOnly | QIODevice::Truncate))
            fail(QStringLiteral("cannot write %1").arg(csvPath));
        csv.write("elapsed_s,rss_kb,cpu_s,log_lines\n");
    }
    std::vector<double> times;
    std::vector<double> rss;
    QElapsedTimer wall;
    wall.start();
    const double cpuStart = cpuSeconds();
    for (int elapsed = 0;; elapsed += sampleSeconds) {
        const double at = double(wall.elapsed()) / 1000.0;
        times.push_back(at);
        rss.push_back(double(residentKb()));
        if (csv.isOpen()) {
            csv.write(QStringLiteral("%1,%2,%3,%4\n")
                          .arg(at, 0, 'f', 1)
                          .arg(rss.back(), 0, 'f', 0)
                          .arg(cpuSeconds() - cpuStart, 0, 'f', 3)
                          .arg(log->document()->blockCount())
                          .toUtf8());
            csv.flush();
        }
        if (elapsed >= seconds)
            break;
        runEventLoop(sampleSeconds * 1000);
    }
    const double cpu = cpuSeconds() - cpuStart;
    const double wallSeconds = double(wall.elapsed()) / 1000.0;

    int received = 0;
    for (QTextBlock b = log->document()->begin(); b.isValid(); b = b.next())
        received += b.text().contains(QLatin1String("->RX")) ? 1 : 0;

    // Least-squares slope of the resident memory over time.
    double slope = 0;
    if (times.size() >= 2) {
        const double n = double(times.size());
        double st = 0, sr = 0, stt = 0, str = 0;
        for (std::size_t i = 0; i < times.size(); ++i) {
            st += times[i];
            sr += rss[i];
            stt += times[i] * times[i];
            str += times[i] * rss[i];
        }
        slope = (n * str - st * sr) / (n * stt - st * st);
    }
    print("seconds", wallSeconds);
    print("cpu_s", cpu);
    print("cpu_percent", 100.0 * cpu / wallSeconds);
    print("replies_logged", received);
    print("rss_start_kb", rss.front());
    print("rss_end_kb", rss.back());
    print("rss_slope_kb_per_hour", slope * 3600.0);
    return 0;
}

int logMemory(const QStringList &args)
{
    constexpr int checkpoints = 4;
    const int lines = option(args, QStringLiteral("--lines"), QStringLiteral("1000000")).toInt();
    const int maxSeconds =
        option(args, QStringLiteral("--max-seconds"), QStringLiteral("900")).toInt();
    if (lines < checkpoints || maxSeconds <= 0)
        fail(QStringLiteral("--lines takes at least %1, --max-seconds a positive number")
                 .arg(checkpoints));
    // The port's write buffer and the module's reader are drained this often.
    constexpr int drainEvery = 200;

    testsupport::LinkedWindow fixture;
    if (!fixture.isReady() || !fixture.link())
        fail(QStringLiteral("the window did not link to the simulated module"));
    Widget *window = fixture.widget();
    modsim::SimulatedModule *sim = fixture.sim();
    QTextDocument *pane = child<QTextBrowser>(window, "textBrowser")->document();
    // Every poll becomes one TX line and nothing else.
    sim->faults().silent = true;
    QTest::mouseClick(child<QPushButton>(window, "pushButtonRead"), Qt::LeftButton);
    runEventLoop(200);
    sim->clearLog();

    QElapsedTimer clock;
    clock.start();
    const long start = residentKb();
    print("rss_kb_at_0", double(start));
    long atFirstCheckpoint = 0;
    long last = start;
    // The cost of a line once the pane holds as many as it keeps, when each line drops one.
    qint64 fullSinceNs = -1;
    int fullSinceLine = 0;
    int written = 0;
    for (int i = 1; i <= lines; ++i) {
        QMetaObject::invokeMethod(window, "ReadHumitureOrder");
        written = i;
        if (fullSinceNs < 0 && pane->blockCount() >= Widget::exchangeLogMaxLines) {
            fullSinceNs = clock.nsecsElapsed();
            fullSinceLine = i;
        }
        if (i % drainEvery == 0) {
            QCoreApplication::processEvents();
            sim->clearLog(); // the module's request log is not the tool's memory
            if (clock.elapsed() > maxSeconds * 1000LL)
                break;
        }
        if (i % (lines / checkpoints) == 0) {
            QCoreApplication::processEvents();
            last = residentKb();
            if (atFirstCheckpoint == 0)
                atFirstCheckpoint = last;
            const QByteArray key = "rss_kb_at_" + QByteArray::number(i);
            print(key.constData(), double(last));
        }
    }
    QCoreApplication::processEvents();
    const long end = residentKb();
    const double seconds = double(clock.elapsed()) / 1000.0;
    print("lines", written);
    print("completed", written == lines ? 1 : 0);
    print("seconds", seconds);
    print("rss_kb_at_end", double(end));
    print("growth_mb", double(end - start) / 1024.0);
    if (atFirstCheckpoint > 0)
        print("growth_after_first_checkpoint_mb", double(last - atFirstCheckpoint) / 1024.0);
    if (fullSinceNs >= 0 && written > fullSinceLine)
        print("us_per_line_pane_full",
              double(clock.nsecsElapsed() - fullSinceNs) / 1e3 / (written - fullSinceLine));
    print("us_per_line", seconds * 1e6 / written);
    print("pane_lines", pane->blockCount());
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString mode = args.value(1);
    if (mode == QLatin1String("reply-latency"))
        return replyLatency(args);
    if (mode == QLatin1String("poll"))
        return poll(args);
    if (mode == QLatin1String("log-memory"))
        return logMemory(args);
    std::fputs("usage: bench_session reply-latency|poll|log-memory [options]\n", stderr);
    return 2;
}

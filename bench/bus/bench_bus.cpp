// The bus engine polling 32 simulated modules at 9600 bit/s once a second, as key=value lines:
//   bench_bus cycle [--seconds S]    every module answers: each cycle's duration against
//                                    1.1 x the line time of its frames + 2 ms a module
//   bench_bus silent [--seconds S]   every fourth module silent: once they are offline, the
//                                    longest gap between two readings of a module that answers
// The simulator runs as a program of its own (with --realistic-timing, so a reply is held for
// its time on the wire), so that nothing in this process delays it. The cycle times include
// the requests' time on the wire, which the pseudo-terminal does not spend.
#include "bus/linetiming.h"
#include "bus/link.h"
#include "bus/poller.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

using namespace std::chrono;

constexpr int modules = 32;
constexpr int speed = 9600;
constexpr int silentEvery = 4; // 8 of the 32, spread over the cycle
constexpr double lineShare = 1.1;
constexpr double msPerModule = 2.0;
constexpr auto startBound = 10s;

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "bench_bus: %s\n", what);
    std::exit(1);
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    const auto middle = values.begin() + std::ptrdiff_t(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

bool isSilent(int address, bool someSilent)
{
    return someSilent && address % silentEvery == 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    const QString mode = args.value(0);
    const bool someSilent = mode == QLatin1String("silent");
    if (!someSilent && mode != QLatin1String("cycle"))
        fail("usage: bench_bus cycle|silent [--seconds S]");
    const int seconds = args.value(args.indexOf(QStringLiteral("--seconds")) + 1).toInt();
    if (args.contains(QStringLiteral("--seconds")) && seconds < 5)
        fail("--seconds takes a whole number, at least 5");
    const qint64 runMs = 1000 * qint64(seconds > 0 ? seconds : 60);

    QTemporaryDir dir;
    if (!dir.isValid())
        fail("no temporary directory");
    const QString tty = dir.filePath(QStringLiteral("tty"));
    QStringList simArgs{"--quiet", "--realistic-timing", "--baud", QString::number(speed), "--link",
                        tty};
    QList<int> addresses;
    for (int a = 1; a <= modules; ++a) {
        simArgs
            << "--module"
            << QStringLiteral("address=%1%2").arg(a).arg(isSilent(a, someSilent) ? ",silent" : "");
        addresses << a;
    }
    QProcess sim;
    sim.start(QStringLiteral(QUORVEL_MODSIM_PROGRAM), simArgs);
    QElapsedTimer waited;
    waited.start();
    while (!QFileInfo::exists(tty) && waited.elapsed() < milliseconds(startBound).count())
        QThread::msleep(10);
    if (!QFileInfo::exists(tty))
        fail("quorvel-modsim did not start");

    bus::Link link(bus::defaultMargin);
    if (!link.open(tty, speed))
        fail("the simulator's port did not open");
    bus::Poller poller(link);
    poller.setAddresses(addresses);

    // The frames of the cycle under way, as the line carries them.
    qint64 lineBytes = 0, requestBytes = 0;
    int polledInCycle = 0;
    QObject::connect(&link, &bus::Link::requestWritten,
                     [&](protocol::RequestKind, const QByteArray &frame) {
                         lineBytes += frame.size();
                         requestBytes += frame.size();
                         ++polledInCycle;
                     });
    QObject::connect(&link, &bus::Link::replyRecognised,
                     [&](const protocol::Reply &reply) { lineBytes += reply.frame.size(); });

    QElapsedTimer clock;
    std::vector<double> took, budget, starts;
    double worstRatio = 0, fullCycleLineMs = 0;
    QObject::connect(&poller, &bus::Poller::cycleFinished, [&](qint64, qint64 tookUs) {
        const double lineMs = double(bus::wireTime(int(lineBytes), speed).count()) / 1000.0;
        const double allowed = lineShare * lineMs + msPerModule * polledInCycle;
        // A pseudo-terminal hands the request over at once, where a line spends its bits: the
        // cycle is judged with them added, as a real line would take it.
        took.push_back(double(tookUs) / 1000.0 +
                       double(bus::wireTime(int(requestBytes), speed).count()) / 1000.0);
        budget.push_back(allowed);
        worstRatio = std::max(worstRatio, took.back() / allowed);
        if (polledInCycle == modules)
            fullCycleLineMs = lineMs;
        lineBytes = 0;
        requestBytes = 0;
        polledInCycle = 0;
    });

    // The gaps between two readings of each module; in the silent run only those that end after
    // every silent module went offline, and the ones before kept apart.
    std::vector<qint64> lastReading(modules, -1);
    qint64 worstGap = 0, worstGapBefore = 0, allOfflineMs = -1, answered = 0;
    int worstGapAddress = 0;
    std::vector<double> gaps;
    QObject::connect(&poller, &bus::Poller::polled, [&](int index, const samples::Sample &s) {
        const qint64 now = clock.elapsed();
        if (index == 0) // module 1 answers first in every cycle: the cycles' rhythm
            starts.push_back(double(now));
        if (someSilent && allOfflineMs < 0) {
            const auto &all = poller.modules();
            if (std::all_of(all.begin(), all.end(), [&](const bus::ModuleStatus &m) {
                    return !isSilent(m.address, true) || m.state() == bus::Backoff::State::Offline;
                }))
                allOfflineMs = now;
        }
        if (s.isGap())
            return;
        ++answered;
        qint64 &last = lastReading[std::size_t(index)];
        if (last >= 0) {
            const qint64 gap = now - last;
            if (!someSilent || allOfflineMs >= 0) {
                gaps.push_back(double(gap));
                if (gap > worstGap)
                    worstGapAddress = index + 1;
                worstGap = std::max(worstGap, gap);
            } else {
                worstGapBefore = std::max(worstGapBefore, gap);
            }
        }
        last = now;
    });

    QEventLoop loop;
    QObject::connect(&poller, &bus::Poller::stopped, &loop, &QEventLoop::quit);
    QTimer::singleShot(runMs, &poller, &bus::Poller::stop);
    clock.start();
    poller.start();
    loop.exec();
    sim.terminate();
    sim.waitForFinished();

    qint64 sent = 0, retries = 0;
    for (const bus::ModuleStatus &m : poller.modules()) {
        if (isSilent(m.address, someSilent))
            retries += m.sent;
        else
            sent += m.sent;
    }
    std::vector<double> periods;
    for (std::size_t i = 1; i < starts.size(); ++i)
        periods.push_back(starts[i] - starts[i - 1]);
    int over = 0;
    for (std::size_t i = 0; i < took.size(); ++i)
        over += took[i] > budget[i];
    std::printf("cycles=%d\nsent=%lld\nanswered=%lld\ncycle_p50_ms=%.1f\ncycle_max_ms=%.1f\n"
                "line_ms=%.1f\nbudget_ms=%.1f\nworst_ratio=%.3f\ncycles_over_budget=%d\n"
                "period_p50_ms=%.1f\nperiod_max_ms=%.1f\ngap_p50_ms=%.0f\ngap_max_ms=%lld\n"
                "gap_max_address=%d\n",
                int(took.size()), sent, answered, median(took),
                took.empty() ? 0.0 : *std::max_element(took.begin(), took.end()), fullCycleLineMs,
                lineShare * fullCycleLineMs + msPerModule * modules, worstRatio, over,
                median(periods),
                periods.empty() ? 0.0 : *std::max_element(periods.begin(), periods.end()),
                median(gaps), worstGap, worstGapAddress);
    if (someSilent)
        std::printf("all_offline_after_ms=%lld\ngap_max_before_offline_ms=%lld\n"
                    "silent_polls=%lld\n",
                    allOfflineMs, worstGapBefore, retries);
    return link.isLost() ? 1 : 0;
}

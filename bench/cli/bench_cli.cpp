// One timed run of quorvel-cli against quorvel-modsim with wire timing, as key=value lines:
//   bench_cli probe SPEED    wall_ms; window_ms, what the window's probe takes (300 ms a speed)
//   bench_cli scan           wall_ms of 247 addresses at 9600 bit/s; limit_ms, 247 requests and
//                            their waits; requests_ms, the requests' bits alone; found
//   bench_cli first-reading  first_ms, process start to the first reading on standard output;
//                            line_ms, request and reply on the wire
// The simulator runs as a program of its own, so that nothing in this process delays it.
#include "bus/linetiming.h"
#include "protocol/tables.h"

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

namespace {

using namespace std::chrono;

constexpr int scanSpeed = 9600;
constexpr int scanAddresses = 247;
constexpr int measurementRequestBytes = 8;
constexpr int measurementReplyBytes = 11;
constexpr auto windowProbeStep = 300ms;
constexpr auto startBound = 10s;
constexpr auto runBound = 180s;

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "bench_cli: %s\n", what);
    std::exit(1);
}

double ms(microseconds us)
{
    return double(us.count()) / 1000.0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    const QString what = args.value(0);
    QTemporaryDir dir;
    if (!dir.isValid())
        fail("no temporary directory");
    const QString link = dir.filePath(QStringLiteral("tty"));

    QStringList simArgs{"--quiet", "--realistic-timing", "--link", link};
    QStringList cliArgs{"-p", link};
    int speed = scanSpeed;
    if (what == QLatin1String("probe")) {
        speed = args.value(1).toInt();
        if (!protocol::baudCodeOfSpeed(speed))
            fail("probe takes a speed: 1200 ... 115200");
        simArgs << "--baud" << QString::number(speed);
        cliArgs << "probe";
    } else if (what == QLatin1String("scan")) {
        // Three modules on the bus, at both ends of the range and in the middle.
        simArgs << "--module"
                << "address=1"
                << "--module"
                << "address=100"
                << "--module"
                << "address=247";
        cliArgs << "-b" << QString::number(scanSpeed) << "scan";
    } else if (what == QLatin1String("first-reading")) {
        cliArgs << "-b" << QString::number(scanSpeed) << "-a"
                << "1"
                << "read";
    } else {
        fail("usage: bench_cli probe SPEED | scan | first-reading");
    }

    QProcess sim;
    sim.start(QStringLiteral(QUORVEL_MODSIM_PROGRAM), simArgs);
    QElapsedTimer waited;
    waited.start();
    while (!QFileInfo::exists(link) && waited.elapsed() < milliseconds(startBound).count())
        QThread::msleep(10);
    if (!QFileInfo::exists(link))
        fail("quorvel-modsim did not start");

    QProcess cli;
    QEventLoop loop;
    QElapsedTimer clock;
    qint64 firstNs = -1;
    QByteArray out;
    QObject::connect(&cli, &QProcess::readyReadStandardOutput, [&] {
        if (firstNs < 0)
            firstNs = clock.nsecsElapsed();
        out += cli.readAllStandardOutput();
    });
    QObject::connect(&cli, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), &loop,
                     &QEventLoop::quit);
    QTimer::singleShot(runBound, &loop, &QEventLoop::quit);
    clock.start();
    cli.start(QStringLiteral(QUORVEL_CLI_PROGRAM), cliArgs);
    loop.exec();
    const qint64 wallNs = clock.nsecsElapsed();
    out += cli.readAllStandardOutput();
    sim.terminate();
    sim.waitForFinished();
    if (cli.state() != QProcess::NotRunning || cli.exitCode() != 0) {
        std::fprintf(stderr, "%s", cli.readAllStandardError().constData());
        fail("quorvel-cli did not succeed");
    }

    const double wallMs = double(wallNs) / 1e6;
    if (what == QLatin1String("probe")) {
        const auto step =
            std::find(protocol::probeSpeeds.begin(), protocol::probeSpeeds.end(), speed) -
            protocol::probeSpeeds.begin() + 1;
        std::printf("wall_ms=%.1f\nwindow_ms=%lld\n", wallMs,
                    qint64(step * windowProbeStep.count()));
    } else if (what == QLatin1String("scan")) {
        const auto limit = scanAddresses * bus::silentAddressWait(scanSpeed, bus::defaultMargin);
        const auto requests = scanAddresses * bus::wireTime(measurementRequestBytes, scanSpeed);
        std::printf("wall_ms=%.1f\nlimit_ms=%.1f\nrequests_ms=%.1f\nfound=%d\n", wallMs, ms(limit),
                    ms(requests), int(out.count('\n')));
    } else {
        const auto line = bus::wireTime(measurementRequestBytes, scanSpeed) +
                          bus::frameGap(scanSpeed) +
                          bus::wireTime(measurementReplyBytes, scanSpeed);
        std::printf("first_ms=%.1f\nline_ms=%.1f\nwall_ms=%.1f\n", double(firstNs) / 1e6, ms(line),
                    wallMs);
    }
    return 0;
}

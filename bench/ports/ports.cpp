// The port watcher's cheap check runs every half second while the settings dialog is open or a
// lost port is awaited; the full enumeration runs only when the check sees a change. Both on
// this machine's ttys, with one extra path (a pseudo-terminal's link) as the dialog has after a
// link to the simulated module.
#include "link/portwatcher.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QFile>
#include <QSerialPortInfo>
#include <QTemporaryDir>

#include <cstdlib>
#include <pty.h>
#include <unistd.h>

namespace {

QStringList extraPaths;

void availablePorts(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(QSerialPortInfo::availablePorts());
}
BENCHMARK(availablePorts)->Unit(benchmark::kMillisecond);

void fullScan(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(PortWatcher::scan(extraPaths));
}
BENCHMARK(fullScan)->Unit(benchmark::kMillisecond);

void cheapCheck(benchmark::State &state)
{
    PortWatcher watcher;
    watcher.setExtraPaths(extraPaths);
    for (auto _ : state)
        benchmark::DoNotOptimize(watcher.fingerprint());
}
BENCHMARK(cheapCheck)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int master = -1, slave = -1;
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("ttyBench"));
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) == 0 &&
        QFile::link(QString::fromLocal8Bit(::ttyname(slave)), link))
        extraPaths << link;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    ::close(slave);
    ::close(master);
    return EXIT_SUCCESS;
}

#pragma once

// Meters shared by the reliability tests and the benchmarks: they must measure alike.

#include <QByteArray>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <vector>

#include <sys/resource.h>

namespace testsupport {

// QUORVEL_LONG_TESTS=1 (scripts/test --long) asks for the long versions of the reliability runs.
inline bool longRun()
{
    return qEnvironmentVariableIntValue("QUORVEL_LONG_TESTS") == 1;
}

// Resident memory of this process in kB, -1 when it cannot be read.
inline long residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

// User plus system time of this process.
inline double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval &t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

inline double percentile(std::vector<double> values, double share)
{
    if (values.empty())
        return NAN;
    std::sort(values.begin(), values.end());
    const auto at = std::size_t(std::ceil(share * double(values.size())));
    return values[std::min(at == 0 ? 0 : at - 1, values.size() - 1)];
}

// Runs a real event loop for `ms` (or `loop`, which may also be quit earlier). QTest::qWait
// sleeps 10 ms between passes, which would hide a busy loop from the CPU meter and add its own
// lateness to latency and timer probes.
inline void runEventLoop(int ms, QEventLoop *loop = nullptr)
{
    QEventLoop own;
    QEventLoop *running = loop ? loop : &own;
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer); // a coarse timer may end a period 5 % early
    QObject::connect(&deadline, &QTimer::timeout, running, &QEventLoop::quit);
    deadline.start(ms);
    running->exec();
}

} // namespace testsupport

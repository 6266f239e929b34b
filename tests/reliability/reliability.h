#pragma once

// Meters and waits shared by the reliability tests.

#include "modalwatcher.h"

#include <QByteArray>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <QtGlobal>

#include <algorithm>
#include <cmath>
#include <vector>

#include <sys/resource.h>

namespace reliability {

// QUORVEL_LONG_TESTS=1 (scripts/test --long) asks for the long versions.
inline bool longRun()
{
    return qEnvironmentVariableIntValue("QUORVEL_LONG_TESTS") == 1;
}

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

// Runs a real event loop for `ms`. QTest::qWait sleeps 10 ms between passes, which would hide
// a busy loop from the CPU meter and add its own lateness to the timer probes.
inline void runEventLoop(int ms)
{
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(ms);
    loop.exec();
}

inline double percentile(std::vector<double> values, double share)
{
    if (values.empty())
        return NAN;
    std::sort(values.begin(), values.end());
    const auto at = std::size_t(std::ceil(share * double(values.size())));
    return values[std::min(at == 0 ? 0 : at - 1, values.size() - 1)];
}

inline int countText(const testsupport::ModalWatcher &watcher, const QString &text)
{
    const QStringList texts = watcher.texts();
    return int(std::count(texts.begin(), texts.end(), text));
}

} // namespace reliability

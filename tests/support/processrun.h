#pragma once

#include <QByteArray>
#include <QStringList>

#include <functional>

class QProcess;

namespace testsupport {

// A program run to its end as a script runs it.
struct ProcessRun
{
    int exit = -1; // -1: crashed, or did not end in time (then killed)
    QByteArray out;
    QByteArray err;
};

// Starts `program` on `process` (set up by the caller: its channels, a process it feeds) and
// waits for its end on a real event loop, so that a module simulated in this process answers
// at once. `onOutput` sees the whole standard output so far at each arrival, and may signal the
// process.
ProcessRun runToEnd(QProcess &process, const QString &program, const QStringList &args,
                    const std::function<void(const QByteArray &)> &onOutput = {},
                    int timeoutMs = 60000);

} // namespace testsupport

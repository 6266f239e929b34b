#include "processrun.h"

#include <QEventLoop>
#include <QProcess>
#include <QTimer>

namespace testsupport {

ProcessRun runToEnd(QProcess &process, const QString &program, const QStringList &args,
                    const std::function<void(const QByteArray &)> &onOutput, int timeoutMs)
{
    ProcessRun run;
    QEventLoop loop;
    QObject::connect(&process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), &loop,
                     &QEventLoop::quit);
    QObject::connect(&process, &QProcess::readyReadStandardOutput, &loop, [&] {
        run.out += process.readAllStandardOutput();
        if (onOutput)
            onOutput(run.out);
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    process.start(program, args);
    loop.exec();
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.out += process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    run.exit = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return run;
}

} // namespace testsupport

#pragma once

#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTest>

#include <functional>

// A helper process of a cross-check (the simulator, socat, a Modbus peer), ended when the test
// is done with it.
class Peer : public QProcess
{
public:
    ~Peer() override { stop(); }

    void stop()
    {
        if (state() == NotRunning)
            return;
        terminate(); // lets the simulator and socat remove their links
        if (!waitForFinished(5000)) {
            kill();
            waitForFinished(5000);
        }
    }

    // Waits until `ready` holds; false when the process ends first or it takes too long
    // (Python and its imports are slow to start on a busy machine).
    bool waitUntil(const std::function<bool()> &ready, int timeoutMs = 20000)
    {
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < timeoutMs && state() != NotRunning) {
            if (ready())
                return true;
            QTest::qWait(20);
        }
        return false;
    }

    QString output() { return m_output += QString::fromLocal8Bit(readAllStandardOutput()); }
    QString errors() { return m_errors += QString::fromLocal8Bit(readAllStandardError()); }

private:
    QString m_output;
    QString m_errors;
};

// Runs a program to its end; returns its exit code, or -1 when it did not finish in time.
inline int runToEnd(const QString &program, const QStringList &arguments, QString *output = nullptr)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        return -1;
    }
    if (output)
        *output = QString::fromLocal8Bit(process.readAll());
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

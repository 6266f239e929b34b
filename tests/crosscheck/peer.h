#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QList>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

// A helper process of a cross-check (the simulator, socat, a Modbus peer), ended when the test
// is done with it.
class Peer
{
public:
    Peer() { process.setProcessChannelMode(QProcess::SeparateChannels); }
    ~Peer() { stop(); }
    Peer(const Peer &) = delete;
    Peer &operator=(const Peer &) = delete;

    void start(const QString &program, const QStringList &arguments)
    {
        process.start(program, arguments);
    }

    void stop()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(5000)) {
            process.kill();
            process.waitForFinished(5000);
        }
    }

    QString output()
    {
        stdoutText += QString::fromLocal8Bit(process.readAllStandardOutput());
        return stdoutText;
    }

    QString errors()
    {
        stderrText += QString::fromLocal8Bit(process.readAllStandardError());
        return stderrText;
    }

    QProcess process;

private:
    QString stdoutText;
    QString stderrText;
};

// Runs a program to its end; returns its exit code, or -1 when it did not finish in time.
inline int runToEnd(const QString &program, const QStringList &arguments, QString *output,
                    int timeoutMs = 30000)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return -1;
    }
    if (output)
        *output = QString::fromLocal8Bit(process.readAll());
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

// What the pymodbus cross-checks need: socat, a python3 that can import pymodbus, the server.
struct PymodbusPeers
{
    // Returns what is missing, or nothing.
    QString find(const QString &serverScript)
    {
        script = serverScript;
        socat = QStandardPaths::findExecutable(QStringLiteral("socat"));
        if (socat.isEmpty())
            return QStringLiteral("socat is not installed (Debian package socat)");
        // Debian's interpreter may not be the first python3 on the path (a user-installed one
        // may lack pymodbus), so take the first candidate that can import it.
        QStringList candidates{QStringLiteral("/usr/bin/python3")};
        const QString onPath = QStandardPaths::findExecutable(QStringLiteral("python3"));
        if (!onPath.isEmpty())
            candidates.append(onPath);
        for (const QString &candidate : candidates) {
            if (QFileInfo(candidate).isExecutable() &&
                runToEnd(candidate,
                         {QStringLiteral("-c"), QStringLiteral("import pymodbus, serial_asyncio")},
                         nullptr) == 0) {
                python = candidate;
                break;
            }
        }
        if (python.isEmpty())
            return QStringLiteral(
                "no python3 can import pymodbus (Debian package python3-pymodbus)");
        if (!QFileInfo::exists(script))
            return QStringLiteral("server script missing: ") + script;
        return QString();
    }

    QString socat;
    QString python;
    QString script;
};

// A socat pseudo-terminal pair with the pymodbus server on one end; the tool opens the other.
class PymodbusLine
{
public:
    explicit PymodbusLine(const PymodbusPeers &peers) : m_peers(peers) {}

    bool start(int address, const QList<int> &registers, bool answerAddressRead = false)
    {
        if (!m_dir.isValid())
            return fail(QStringLiteral("no temporary directory"));
        const QString serverSide = m_dir.filePath(QStringLiteral("server"));
        m_toolSide = m_dir.filePath(QStringLiteral("tool"));

        m_socat.start(m_peers.socat, {QStringLiteral("-d"), QStringLiteral("-d"),
                                      QStringLiteral("pty,raw,echo=0,link=") + serverSide,
                                      QStringLiteral("pty,raw,echo=0,link=") + m_toolSide});
        if (!waitFor(m_socat, [&] {
                return QFileInfo::exists(serverSide) && QFileInfo::exists(m_toolSide);
            }))
            return fail(QStringLiteral("socat: ") + m_socat.errors());

        QStringList values;
        for (int value : registers)
            values.append(QString::number(value));
        QStringList arguments{m_peers.script,
                              QStringLiteral("--port"),
                              serverSide,
                              QStringLiteral("--address"),
                              QString::number(address),
                              QStringLiteral("--registers=") + values.join(QLatin1Char(','))};
        if (answerAddressRead)
            arguments.append(QStringLiteral("--answer-address-read"));
        m_server.start(m_peers.python, arguments);
        if (!waitFor(m_server, [&] { return m_server.output().contains(QLatin1String("ready")); }))
            return fail(QStringLiteral("pymodbus server: ") + m_server.errors());
        return true;
    }

    QString toolSide() const { return m_toolSide; }
    QString failure() const { return m_failure; }

private:
    // Python and its imports are slow to start on a busy machine.
    static constexpr int startTimeoutMs = 20000;

    static bool waitFor(Peer &peer, const std::function<bool()> &ready)
    {
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < startTimeoutMs) {
            if (ready())
                return true;
            if (peer.process.state() == QProcess::NotRunning)
                return false;
            QTest::qWait(20);
        }
        return false;
    }

    bool fail(const QString &why)
    {
        m_failure = why;
        return false;
    }

    const PymodbusPeers &m_peers;
    QTemporaryDir m_dir;
    QString m_toolSide;
    QString m_failure;
    Peer m_socat;
    Peer m_server; // after socat, so that it ends before socat takes its line away
};

// The simulated module polled by an independent Modbus master, Debian's mbpoll.
#include "peer.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {

constexpr int startTimeoutMs = 10000;

// mbpoll prints "[n]: \t65413 (-123)" for a negative register and "[n]: \t655" otherwise.
QList<int> registersPrinted(const QString &output)
{
    static const QRegularExpression line(
        QStringLiteral("^\\[(\\d+)\\]:\\s+(\\d+)(?:\\s+\\((-?\\d+)\\))?\\s*$"),
        QRegularExpression::MultilineOption);
    QList<int> values;
    auto matches = line.globalMatch(output);
    while (matches.hasNext()) {
        const QRegularExpressionMatch m = matches.next();
        values.append(m.captured(3).isEmpty() ? m.captured(2).toInt() : m.captured(3).toInt());
    }
    return values;
}

} // namespace

class TestCrosscheckMbpoll : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void liveRegisters_data();
    void liveRegisters();
    void addressRegister();
    void writeSingleRegisterMovesTheModule();
    void otherSpeedGetsNoAnswer();

private:
    // Starts the simulator on a fresh link and waits until it says it listens.
    bool startSimulator(const QStringList &options);
    QString mbpoll(const QStringList &arguments, int *exitCode);

    QString m_mbpoll;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Peer> m_sim;
    QString m_link;
};

void TestCrosscheckMbpoll::initTestCase()
{
    m_mbpoll = QStandardPaths::findExecutable(QStringLiteral("mbpoll"));
    if (m_mbpoll.isEmpty())
        QFAIL("mbpoll is not installed (Debian package mbpoll); the cross-check needs it");
    QVERIFY(QFileInfo(QStringLiteral(QUORVEL_MODSIM_PROGRAM)).isExecutable());
}

void TestCrosscheckMbpoll::init()
{
    m_sim.reset();
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_link = m_dir->filePath(QStringLiteral("ttySim"));
}

bool TestCrosscheckMbpoll::startSimulator(const QStringList &options)
{
    m_sim = std::make_unique<Peer>();
    m_sim->start(QStringLiteral(QUORVEL_MODSIM_PROGRAM),
                 QStringList{QStringLiteral("--link"), m_link} + options);
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < startTimeoutMs) {
        if (m_sim->output().contains(QLatin1String("quorvel-modsim: ")) &&
            QFileInfo::exists(m_link))
            return true;
        if (m_sim->process.state() == QProcess::NotRunning)
            break;
        QTest::qWait(20);
    }
    qWarning() << "simulator did not start:" << m_sim->output() << m_sim->errors();
    return false;
}

QString TestCrosscheckMbpoll::mbpoll(const QStringList &arguments, int *exitCode)
{
    // RTU at 8N1, holding registers, one poll, a patient timeout for a busy machine.
    const QStringList common{QStringLiteral("-m"),   QStringLiteral("rtu"), QStringLiteral("-P"),
                             QStringLiteral("none"), QStringLiteral("-t"),  QStringLiteral("4"),
                             QStringLiteral("-1"),   QStringLiteral("-o"),  QStringLiteral("3")};
    QString output;
    *exitCode = runToEnd(m_mbpoll, common + arguments, &output);
    return output;
}

void TestCrosscheckMbpoll::liveRegisters_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("count");
    QTest::addColumn<QList<int>>("expected");

    // mbpoll counts registers from 1: its reference 1 is the module's register 0.
    QTest::newRow("room air") << QStringList{"--temperature", "235", "--humidity", "655"} << 3
                              << QList<int>{235, 655, 167};
    QTest::newRow("below freezing, address 17")
        << QStringList{"--temperature", "-55", "--humidity", "800", "--address", "17"} << 3
        << QList<int>{-55, 800, -84};
    QTest::newRow("with wet bulb, 19200 bit/s")
        << QStringList{"--temperature", "250", "--humidity", "500", "--baud", "19200"} << 4
        << QList<int>{250, 500, 139, 180};
}

void TestCrosscheckMbpoll::liveRegisters()
{
    QFETCH(QStringList, options);
    QFETCH(int, count);
    QFETCH(QList<int>, expected);

    QVERIFY(startSimulator(options + QStringList{QStringLiteral("--quiet")}));
    const int addressAt = int(options.indexOf(QStringLiteral("--address")));
    const QString address = addressAt >= 0 ? options.at(addressAt + 1) : QStringLiteral("1");
    const int speedAt = int(options.indexOf(QStringLiteral("--baud")));
    const QString speed = speedAt >= 0 ? options.at(speedAt + 1) : QStringLiteral("9600");

    int exitCode = 0;
    const QString output =
        mbpoll({QStringLiteral("-a"), address, QStringLiteral("-b"), speed, QStringLiteral("-r"),
                QStringLiteral("1"), QStringLiteral("-c"), QString::number(count), m_link},
               &exitCode);
    QVERIFY2(exitCode == 0, qPrintable(output));
    QCOMPARE(registersPrinted(output), expected);
}

void TestCrosscheckMbpoll::addressRegister()
{
    QVERIFY(startSimulator(
        {QStringLiteral("--address"), QStringLiteral("7"), QStringLiteral("--quiet")}));
    int exitCode = 0;
    // Register 0x0100 is mbpoll's reference 257.
    const QString output =
        mbpoll({QStringLiteral("-a"), QStringLiteral("7"), QStringLiteral("-b"),
                QStringLiteral("9600"), QStringLiteral("-r"), QStringLiteral("257"),
                QStringLiteral("-c"), QStringLiteral("1"), m_link},
               &exitCode);
    QVERIFY2(exitCode == 0, qPrintable(output));
    QCOMPARE(registersPrinted(output), QList<int>{7});
}

void TestCrosscheckMbpoll::writeSingleRegisterMovesTheModule()
{
    QVERIFY(startSimulator({QStringLiteral("--temperature"), QStringLiteral("235"),
                            QStringLiteral("--humidity"), QStringLiteral("655")}));
    int exitCode = 0;
    QString output = mbpoll({QStringLiteral("-a"), QStringLiteral("1"), QStringLiteral("-b"),
                             QStringLiteral("9600"), QStringLiteral("-r"), QStringLiteral("257"),
                             m_link, QStringLiteral("9")},
                            &exitCode);
    QVERIFY2(exitCode == 0, qPrintable(output));
    // The simulator's trace shows mbpoll's request as the tool would send it, with a 0x06.
    QTRY_VERIFY_WITH_TIMEOUT(m_sim->output().contains(QLatin1String(" RX 01 06 01 00 00 09 ")),
                             5000);

    output = mbpoll({QStringLiteral("-a"), QStringLiteral("9"), QStringLiteral("-b"),
                     QStringLiteral("9600"), QStringLiteral("-r"), QStringLiteral("1"),
                     QStringLiteral("-c"), QStringLiteral("3"), m_link},
                    &exitCode);
    QVERIFY2(exitCode == 0, qPrintable(output));
    QCOMPARE(registersPrinted(output), (QList<int>{235, 655, 167}));

    output = mbpoll({QStringLiteral("-a"), QStringLiteral("1"), QStringLiteral("-b"),
                     QStringLiteral("9600"), QStringLiteral("-r"), QStringLiteral("1"),
                     QStringLiteral("-c"), QStringLiteral("3"), m_link},
                    &exitCode);
    QVERIFY2(exitCode != 0, qPrintable(output));
}

void TestCrosscheckMbpoll::otherSpeedGetsNoAnswer()
{
    QVERIFY(startSimulator(
        {QStringLiteral("--baud"), QStringLiteral("19200"), QStringLiteral("--quiet")}));
    int exitCode = 0;
    QString output = mbpoll({QStringLiteral("-a"), QStringLiteral("1"), QStringLiteral("-b"),
                             QStringLiteral("9600"), QStringLiteral("-r"), QStringLiteral("1"),
                             QStringLiteral("-c"), QStringLiteral("3"), m_link},
                            &exitCode);
    QVERIFY2(exitCode != 0, qPrintable(output));
    QVERIFY(registersPrinted(output).isEmpty());

    output = mbpoll({QStringLiteral("-a"), QStringLiteral("1"), QStringLiteral("-b"),
                     QStringLiteral("19200"), QStringLiteral("-r"), QStringLiteral("1"),
                     QStringLiteral("-c"), QStringLiteral("3"), m_link},
                    &exitCode);
    QVERIFY2(exitCode == 0, qPrintable(output));
    QCOMPARE(registersPrinted(output).size(), 3);
}

QTEST_GUILESS_MAIN(TestCrosscheckMbpoll)
#include "tst_crosscheck_mbpoll.moc"

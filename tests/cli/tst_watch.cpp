// quorvel-cli watch as a script runs it, against the simulated bus on a pseudo-terminal.
#include "processrun.h"
#include "simulatedmodule.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <memory>

using testsupport::ProcessRun;

class TestWatch : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void rows_data();
    void rows();
    void interruptEndsAfterTheSlot();

private:
    ProcessRun watch(const QStringList &args, bool interruptAfterFirstRow = false);

    QTemporaryDir m_dir;
    std::unique_ptr<modsim::SimulatedModule> m_sim;
};

void TestWatch::init()
{
    QVERIFY(m_dir.isValid());
    m_sim = std::make_unique<modsim::SimulatedModule>();
    m_sim->faults().realisticTiming = true;
    m_sim->module().setAddress(1);
    modsim::Module second;
    second.setAddress(3);
    m_sim->addModule(second);
    // Rows named "tcp: ..." reach the bus through a converter that splits every reply.
    const bool tcp = QByteArray(QTest::currentDataTag()).startsWith("tcp: ");
    m_sim->faults().splitShare = tcp ? 1.0 : 0.0;
    m_sim->faults().splitGapMs = 100;
    QVERIFY2(tcp ? m_sim->startTcp(QHostAddress::LocalHost, 0)
                 : m_sim->start(m_dir.filePath(QStringLiteral("tty"))),
             qPrintable(m_sim->errorString()));
}

void TestWatch::cleanup()
{
    m_sim.reset();
}

ProcessRun TestWatch::watch(const QStringList &args, bool interruptAfterFirstRow)
{
    QProcess process;
    bool interrupted = false;
    return testsupport::runToEnd(
        process, QStringLiteral(QUORVEL_CLI_PROGRAM),
        QStringList{QStringLiteral("-p"), m_sim->portName(), QStringLiteral("-b"),
                    QStringLiteral("9600"), QStringLiteral("--margin=300")} +
            args,
        [&](const QByteArray &out) {
            // The header, then module 1's row: module 3's slot is under way.
            if (interruptAfterFirstRow && !interrupted && out.count('\n') >= 2) {
                interrupted = true;
                ::kill(pid_t(process.processId()), SIGINT);
            }
        });
}

void TestWatch::rows_data()
{
    QTest::addColumn<bool>("thirdSilent");
    QTest::addColumn<int>("cycles");
    QTest::addColumn<QStringList>("statusesOf5"); // one a cycle
    QTest::addColumn<int>("exit");
    // Offline after the third miss, skipped in the next cycle, asked again in the one after.
    QTest::newRow("a silent module goes offline")
        << true << 5 << QStringList{"no reply", "no reply", "no reply", "offline", "no reply"} << 1;
    QTest::newRow("every module answers") << false << 2 << QStringList{"ok", "ok"} << 0;
    QTest::newRow("tcp: every split reply reassembled")
        << false << 2 << QStringList{"ok", "ok"} << 0;
}

void TestWatch::rows()
{
    QFETCH(bool, thirdSilent);
    QFETCH(int, cycles);
    QFETCH(QStringList, statusesOf5);
    QFETCH(int, exit);
    modsim::Module third;
    third.setAddress(5);
    m_sim->addModule(third).silent = thirdSilent;

    const ProcessRun run =
        watch({QStringLiteral("-a"), QStringLiteral("1,3,5"), QStringLiteral("--json"),
               QStringLiteral("watch"), QStringLiteral("-n"), QString::number(cycles),
               QStringLiteral("--period"), QStringLiteral("0.1")});
    QCOMPARE(run.exit, exit);
    QMap<int, QStringList> statuses;
    const QList<QByteArray> lines = run.out.trimmed().split('\n');
    for (const QByteArray &line : lines) {
        const QJsonObject row = QJsonDocument::fromJson(line).object();
        statuses[row.value(QStringLiteral("address")).toInt()].append(
            row.value(QStringLiteral("status")).toString());
        if (row.value(QStringLiteral("status")).toString() == QLatin1String("ok"))
            QVERIFY(row.value(QStringLiteral("temperature_C")).isDouble());
        QCOMPARE(row.value(QStringLiteral("offline_until_utc")).isString(),
                 row.value(QStringLiteral("status")).toString() == QLatin1String("offline"));
    }
    QCOMPARE(lines.size(), 3 * cycles);
    const QStringList allOk =
        QStringLiteral("ok,").repeated(cycles).split(QLatin1Char(','), Qt::SkipEmptyParts);
    QCOMPARE(statuses.value(1), allOk);
    QCOMPARE(statuses.value(3), allOk);
    QCOMPARE(statuses.value(5), statusesOf5);
}

void TestWatch::interruptEndsAfterTheSlot()
{
    m_sim->station(1).lateMs = 150;
    const ProcessRun run = watch({QStringLiteral("-a"), QStringLiteral("1,3"),
                                  QStringLiteral("watch"), QStringLiteral("--csv")},
                                 true);
    // Every module answered: Ctrl-C is how a watch ends, not a failure.
    QCOMPARE(run.exit, 0);
    const QList<QByteArray> lines = run.out.split('\n');
    QVERIFY(lines.size() >= 3);
    QVERIFY(run.out.endsWith(",ok\n"));
    // The slot under way when Ctrl-C came was finished: module 3's reply is its last row.
    QVERIFY2(lines.at(lines.size() - 2).contains(",3,"), run.out.constData());
}

QTEST_GUILESS_MAIN(TestWatch)
#include "tst_watch.moc"

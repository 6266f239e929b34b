// The bus engine: its back-off as pure rules, and the round robin against the simulated bus.
#include "simulatedmodule.h"

#include "bus/backoff.h"
#include "bus/link.h"
#include "bus/poller.h"

#include <QDateTime>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using bus::Backoff;
using namespace std::chrono_literals;

namespace {

// Bounds for a loaded machine; none of them is a speed target.
constexpr int patientMs = 20000;

// The cycles in which a module that answers in `answering` cycles is asked, up to `cycles`.
QList<int> askedCycles(int longestWait, int cycles, const std::function<bool(int)> &answering,
                       Backoff::State *finalState)
{
    Backoff backoff(longestWait);
    QList<int> asked;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        if (!backoff.isDue(cycle))
            continue;
        asked.append(cycle);
        if (answering(cycle))
            backoff.answered();
        else
            backoff.missed(cycle);
    }
    *finalState = backoff.state();
    return asked;
}

int requestsTo(const modsim::SimulatedModule &sim, quint8 address)
{
    int count = 0;
    for (const QByteArray &request : sim.requests())
        count += request.size() == 8 && quint8(request.at(0)) == address ? 1 : 0;
    return count;
}

} // namespace

class TestBus : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void backoff_data();
    void backoff();
    void silentModuleWaitsLongerEachMiss();
    void lateAnswers_data();
    void lateAnswers();
    void slotEndsWithTheReply();
    void identity_data();
    void identity();
    void stopEndsAfterTheSlot();

private:
    QList<modsim::Station *> setBus(const QList<int> &addresses);
    void openLink(std::chrono::milliseconds margin = 150ms);

    QTemporaryDir m_dir;
    std::unique_ptr<modsim::SimulatedModule> m_sim;
    std::unique_ptr<bus::Link> m_link;
    std::unique_ptr<bus::Poller> m_poller;
};

void TestBus::init()
{
    QVERIFY(m_dir.isValid());
    m_sim = std::make_unique<modsim::SimulatedModule>();
    m_sim->faults().realisticTiming = true;
    QVERIFY2(m_sim->start(m_dir.filePath(QStringLiteral("tty"))), qPrintable(m_sim->errorString()));
}

void TestBus::cleanup()
{
    m_poller.reset();
    m_link.reset();
    m_sim.reset();
}

QList<modsim::Station *> TestBus::setBus(const QList<int> &addresses)
{
    // The simulator starts with one module: it takes the first address.
    QList<modsim::Station *> stations{&m_sim->station(0)};
    m_sim->module().setAddress(quint8(addresses.front()));
    for (int address : addresses.mid(1)) {
        modsim::Module module;
        module.setAddress(quint8(address));
        stations.append(&m_sim->addModule(module));
    }
    return stations;
}

void TestBus::openLink(std::chrono::milliseconds margin)
{
    m_link = std::make_unique<bus::Link>(margin);
    QVERIFY2(m_link->open(m_dir.filePath(QStringLiteral("tty")), 9600),
             qPrintable(m_link->openError()));
    m_poller = std::make_unique<bus::Poller>(*m_link);
}

void TestBus::backoff_data()
{
    QTest::addColumn<int>("longestWait");
    QTest::addColumn<int>("cycles");
    QTest::addColumn<int>("answersFrom"); // -1: never; answers in every cycle from then on
    QTest::addColumn<int>("silentFrom");  // answers before this cycle
    QTest::addColumn<QList<int>>("asked");
    QTest::addColumn<int>("state");

    const int offline = int(Backoff::State::Offline);
    const int online = int(Backoff::State::Online);
    QTest::newRow("silent: the wait doubles on every miss, up to its longest")
        << 60 << 200 << -1 << 0 << QList<int>{0, 1, 2, 4, 8, 16, 32, 64, 124, 184} << offline;
    QTest::newRow("a short longest wait caps the doubling")
        << 5 << 25 << -1 << 0 << QList<int>{0, 1, 2, 4, 8, 13, 18, 23} << offline;
    QTest::newRow("two misses in a row are not offline")
        << 60 << 6 << 2 << 0 << QList<int>{0, 1, 2, 3, 4, 5} << online;
    QTest::newRow("falls silent, then is asked on the back-off")
        << 60 << 30 << -1 << 5 << QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 9, 13, 21} << offline;
    QTest::newRow("its first reply makes it online, asked every cycle")
        << 60 << 20 << 10 << 0 << QList<int>{0, 1, 2, 4, 8, 16, 17, 18, 19} << online;
    QTest::newRow("offline again after a return starts from the first wait")
        << 60 << 12 << 3 << 5 << QList<int>{0, 1, 2, 4, 5, 6, 7, 9} << offline;
}

void TestBus::backoff()
{
    QFETCH(int, longestWait);
    QFETCH(int, cycles);
    QFETCH(int, answersFrom);
    QFETCH(int, silentFrom);
    QFETCH(QList<int>, asked);
    QFETCH(int, state);

    const auto answering = [&](int cycle) {
        if (answersFrom >= 0)
            return cycle >= answersFrom && (cycle < silentFrom || silentFrom <= answersFrom);
        return cycle < silentFrom;
    };
    Backoff::State finalState{};
    QCOMPARE(askedCycles(longestWait, cycles, answering, &finalState), asked);
    QCOMPARE(int(finalState), state);
}

void TestBus::silentModuleWaitsLongerEachMiss()
{
    modsim::Station *silent = setBus({1, 5}).at(0);
    silent->silent = true;
    openLink(60ms);
    m_poller->setAddresses({1, 5});
    m_poller->setPeriod(50ms);
    QList<QPair<qint64, int>> polls; // cycle and module of every slot
    connect(m_poller.get(), &bus::Poller::polled, this, [&](int index) {
        polls.append({m_poller->cycle(), index});
    });
    const qint64 started = QDateTime::currentMSecsSinceEpoch();
    m_poller->start();
    QTRY_VERIFY_WITH_TIMEOUT(m_poller->cycle() >= 20, patientMs);

    // Asked in cycles 0, 1 and 2 (offline after the third), then 4, 8 and 16; next in 32.
    QCOMPARE(requestsTo(*m_sim, 1), 6);
    const bus::ModuleStatus &module = m_poller->modules().at(0);
    QCOMPARE(module.state(), Backoff::State::Offline);
    QCOMPARE(module.sent, 6);
    QCOMPARE(module.answered, 0);
    // Cycle 32 starts no sooner than 32 periods after the start; a busy machine only delays it.
    QVERIFY(module.offlineUntilMsecs >= started + 32 * 50);
    QCOMPARE(m_poller->modules().at(1).sent, qint64(requestsTo(*m_sim, 5)));
    // Offline, it is asked after the module that answers, though it comes first in the list.
    for (qint64 cycle : {4, 8, 16}) {
        const QList<QPair<qint64, int>> expected{{cycle, 1}, {cycle, 0}};
        QCOMPARE(polls.mid(polls.indexOf({cycle, 1}), 2), expected);
    }

    // Back on the line: its next ask finds it, and it is read every cycle again.
    silent->silent = false;
    QTRY_COMPARE_WITH_TIMEOUT(module.state(), Backoff::State::Online, patientMs);
    QVERIFY(m_poller->cycle() >= 32);
    const int asked = requestsTo(*m_sim, 1);
    QTRY_VERIFY_WITH_TIMEOUT(requestsTo(*m_sim, 1) >= asked + 3, patientMs);
    QVERIFY(module.answered >= 3);
}

void TestBus::lateAnswers_data()
{
    QTest::addColumn<int>("lateMs");
    QTest::addColumn<bool>("answered");
    // The wait is the line time and a margin of 150 ms.
    QTest::newRow("within the wait") << 60 << true;
    QTest::newRow("beyond the wait") << 400 << false;
}

void TestBus::lateAnswers()
{
    QFETCH(int, lateMs);
    QFETCH(bool, answered);
    setBus({1, 17}).at(1)->lateMs = lateMs;
    openLink(150ms);
    m_poller->setAddresses({1, 17});
    // A late reply that overlapped the next slot would collide with it, as on RS-485: the
    // period leaves it the idle time even on a loaded machine.
    m_poller->setPeriod(2000ms);
    m_poller->start();
    QTRY_VERIFY_WITH_TIMEOUT(m_poller->cycle() >= 2, patientMs);
    m_poller->stop();
    QTRY_VERIFY(!m_poller->isPolling());

    const bus::ModuleStatus &prompt = m_poller->modules().at(0);
    const bus::ModuleStatus &late = m_poller->modules().at(1);
    QCOMPARE(prompt.answered, prompt.sent);
    QCOMPARE(late.answered > 0, answered);
    QCOMPARE(late.state() == Backoff::State::Online, answered);
    // A reply after its slot is not taken for another module's, but it is counted.
    QCOMPARE(late.lateReplies > 0, !answered);
    if (answered)
        QVERIFY2(late.medianLatencyMs() >= lateMs,
                 qPrintable(QString::number(late.medianLatencyMs())));
}

void TestBus::slotEndsWithTheReply()
{
    setBus({1, 2, 3});
    openLink(500ms);
    m_poller->setAddresses({1, 2, 3});
    m_poller->setPeriod(0ms);
    QSignalSpy cycles(m_poller.get(), &bus::Poller::cycleFinished);
    m_poller->start();
    QTRY_VERIFY_WITH_TIMEOUT(cycles.size() >= 10, patientMs);
    m_poller->stop();
    QTRY_VERIFY(!m_poller->isPolling());

    // A slot that waited out its margin would cost 500 ms; a whole reply ends it in tens.
    qint64 fastest = std::numeric_limits<qint64>::max();
    for (const QList<QVariant> &cycle : cycles)
        fastest = std::min<qint64>(fastest, cycle.at(1).toLongLong() / 1000);
    QVERIFY2(fastest < 3 * 250, qPrintable(QString::number(fastest)));
    for (const bus::ModuleStatus &module : m_poller->modules())
        QCOMPARE(module.answered, module.sent);
}

void TestBus::identity_data()
{
    QTest::addColumn<QList<int>>("onLine");
    QTest::addColumn<QList<int>>("polled");
    QTest::addColumn<bool>("read");
    QTest::newRow("alone") << QList<int>{7} << QList<int>{7} << true;
    QTest::newRow("several polled") << QList<int>{7, 8} << QList<int>{7, 8} << false;
    QTest::newRow("another one on the line, not polled")
        << QList<int>{7, 8} << QList<int>{7} << false;
}

void TestBus::identity()
{
    QFETCH(QList<int>, onLine);
    QFETCH(QList<int>, polled);
    QFETCH(bool, read);
    for (modsim::Station *station : setBus(onLine))
        station->module.setModel(modsim::Model::Sht2x);
    openLink();
    m_poller->setAddresses(polled);
    m_poller->setPeriod(100ms);
    m_poller->start();
    QTRY_VERIFY_WITH_TIMEOUT(m_poller->cycle() >= 3, patientMs);
    m_poller->stop();
    QTRY_VERIFY(!m_poller->isPolling());

    const bus::ModuleStatus &module = m_poller->modules().front();
    QCOMPARE(module.model == int(modsim::Model::Sht2x), read);
    QCOMPARE(module.serialNumber.isEmpty(), !read);
    QCOMPARE(module.identityNote.isEmpty(), read);
}

void TestBus::stopEndsAfterTheSlot()
{
    setBus({1}).front()->lateMs = 100;
    openLink(300ms);
    m_poller->setAddresses({1});
    m_poller->setPeriod(0ms);
    QSignalSpy stopped(m_poller.get(), &bus::Poller::stopped);
    m_poller->start();
    QVERIFY(m_link->isBusy());
    m_poller->stop();
    QVERIFY(m_poller->isPolling()); // the slot under way is not cut short
    QVERIFY(stopped.wait(patientMs));
    QCOMPARE(m_poller->modules().front().answered, 1);
    const int heard = int(m_sim->requests().size());
    QTest::qWait(300);
    QCOMPARE(int(m_sim->requests().size()), heard);
}

QTEST_GUILESS_MAIN(TestBus)
#include "tst_bus.moc"

// Many polls over a line that drops, damages and splits a share of the replies. The module's
// values change at every poll, so a stale, damaged or misassembled value cannot pass for a
// right one: every value shown must be the one the module sent for that poll, and every reply
// that arrived intact must be shown.
#include "linkedwindow.h"
#include "measure.h"
#include "simulatedmodule.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

using testsupport::LinkedWindow;

namespace {
constexpr double faultShare = 0.01;
// Below the 500 ms of silence that would discard the first piece.
constexpr int splitGapMs = 100;
// A poll whose intact reply has not been shown after this long counts as lost.
constexpr int replyWaitMs = 2000;
// After a damaged or missing reply the line must stay silent past the 500 ms that clear the
// receive buffer, or the next reply would be appended to the debris.
constexpr int debrisClearMs = 650;
// Far more than the short run needs; ends a run that has stalled.
constexpr qint64 shortRunBudgetMs = 240000;

QString tenths(int value)
{
    return QString::number(value / 10.0, 'f', 1);
}

// The three labels' texts.
using Shown = QStringList;
} // namespace

class tst_FaultSoak : public QObject
{
    Q_OBJECT

private slots:
    void mixedFaults();
};

void tst_FaultSoak::mixedFaults()
{
    const int polls = testsupport::longRun() ? 100000 : 1000;
    // A fixed seed makes a failing run repeatable; QUORVEL_SOAK_SEED tries other dice.
    const auto seed = quint32(qEnvironmentVariableIsSet("QUORVEL_SOAK_SEED")
                                  ? qEnvironmentVariableIntValue("QUORVEL_SOAK_SEED")
                                  : 7);

    LinkedWindow fixture;
    QVERIFY(fixture.isReady());
    QVERIFY(fixture.link());
    auto *temperatureLabel = fixture.child<QLabel>("labelTemperature");
    auto *humidityLabel = fixture.child<QLabel>("labelHumidity");
    auto *dewLabel = fixture.child<QLabel>("labelDewTemp");
    auto *read = fixture.child<QPushButton>("pushButtonRead");
    QVERIFY(temperatureLabel && humidityLabel && dewLabel && read);
    const auto shownNow = [&] {
        return Shown{temperatureLabel->text(), humidityLabel->text(), dewLabel->text()};
    };

    modsim::SimulatedModule *sim = fixture.sim();
    modsim::Module &module = sim->module();
    module.setFrozen(true);
    modsim::Faults &faults = sim->faults();
    faults.dropShare = faults.corruptShare = faults.splitShare = faultShare;
    faults.splitGapMs = splitGapMs;
    faults.seed = seed;
    sim->reseed();

    // Replies of the current poll as they left the module. A split reply is reported once its
    // last piece is out, so one that comes well after its request was split.
    QList<QByteArray> replies;
    int requestsInPoll = 0;
    int splitSeen = 0;
    QElapsedTimer sinceRequest;
    QElapsedTimer sinceDebris; // the last damaged reply, which sits in the receive buffer
    connect(sim, &modsim::SimulatedModule::requestReceived, this, [&](const QByteArray &) {
        ++requestsInPoll;
        sinceRequest.start();
    });
    connect(sim, &modsim::SimulatedModule::replySent, this, [&](const QByteArray &reply) {
        replies.append(reply);
        if (sinceRequest.isValid() && sinceRequest.elapsed() >= splitGapMs / 2)
            ++splitSeen;
        // The module's values have not changed since it answered.
        if (reply != module.measurementReply())
            sinceDebris.start();
    });

    // Polls are driven by hand, far faster than the 1 s period; the button only has to say
    // "Stop" for the poll to go out. Each poll restarts the period, so the timer's own poll
    // comes only when a poll took a second, on a very busy machine: such a poll is counted as
    // disturbed, and the values of the poll before it count as sent for it too.
    QTest::mouseClick(read, Qt::LeftButton);
    QCOMPARE(read->text(), QStringLiteral("Stop"));

    int shownCount = 0, lostIntact = 0, damaged = 0, dropped = 0, disturbed = 0;
    QStringList misread;
    QElapsedTimer run;
    run.start();
    Shown previous;
    for (int i = 0; i < polls; ++i) {
        if (!testsupport::longRun() && run.elapsed() > shortRunBudgetMs)
            QFAIL(qPrintable(QStringLiteral("stalled after %1 polls").arg(i)));
        while (sinceDebris.isValid() && sinceDebris.elapsed() < debrisClearMs)
            testsupport::runEventLoop(int(debrisClearMs - sinceDebris.elapsed()));

        // Distinct from the previous poll's values in all three labels.
        const auto temperature = qint16(-400 + (i * 7919) % 1650);
        const auto humidity = quint16(1 + (i * 331) % 999);
        module.setTemperature(temperature);
        module.setHumidity(humidity);
        const QByteArray intact = module.measurementReply();
        const Shown expected{QStringLiteral("Temperature:") + tenths(temperature) + QChar(0x2103),
                             QStringLiteral("Humidity:") + tenths(humidity) + QLatin1Char('%'),
                             QStringLiteral("DewTemp:") + tenths(module.dewPoint()) +
                                 QChar(0x2103)};
        const Shown before = shownNow();
        replies.clear();
        requestsInPoll = 0;

        QMetaObject::invokeMethod(fixture.widget(), "ReadHumitureOrder");
        QElapsedTimer waited;
        waited.start();
        // Done when the labels change, or when the module's answer is known not to be intact
        // (damaged, or none at all for longer than a split reply takes).
        while (shownNow() == before && waited.elapsed() < replyWaitMs) {
            const bool intactSent = replies.contains(intact);
            if ((!replies.isEmpty() && !intactSent) ||
                (replies.isEmpty() && waited.elapsed() > 4 * splitGapMs))
                break;
            testsupport::runEventLoop(1);
        }
        // A damaged reply may yet be followed by a change that must not come.
        if (shownNow() == before && !replies.contains(intact))
            testsupport::runEventLoop(50);

        const Shown now = shownNow();
        const bool intactSent = replies.contains(intact);
        const bool timerPolled = requestsInPoll > 1;
        disturbed += timerPolled ? 1 : 0;
        if (now != before) {
            ++shownCount;
            if (now != expected && !(timerPolled && now == previous))
                misread << QStringLiteral("poll %1: shown %2, sent %3")
                               .arg(i)
                               .arg(now.join(QLatin1String(" / ")),
                                    expected.join(QLatin1String(" / ")));
        } else if (intactSent && !timerPolled) {
            ++lostIntact;
            qWarning("poll %d: intact reply %s not shown", i, intact.toHex().constData());
        } else if (!intactSent) {
            replies.isEmpty() ? ++dropped : ++damaged;
        }
        previous = expected;
        if (misread.size() > 10)
            break;
    }

    qInfo("%d polls in %.1f s (seed %u): %d shown, %d damaged, %d dropped, %d split, "
          "%d disturbed by the timer's poll, %d intact replies lost, %lld misread",
          polls, double(run.elapsed()) / 1000.0, seed, shownCount, damaged, dropped, splitSeen,
          disturbed, lostIntact, qlonglong(misread.size()));
    QVERIFY2(misread.isEmpty(), qPrintable(misread.join(QLatin1Char('\n'))));
    QCOMPARE(lostIntact, 0);
    // Each kind of fault really happened, or the run proved nothing about it.
    QVERIFY(damaged > 0);
    QVERIFY(dropped > 0);
    QVERIFY(splitSeen > 0);
    QVERIFY(shownCount >= polls * 9 / 10);
    // The allowance for the timer's own poll must not become a way for lost replies to hide.
    QVERIFY(disturbed <= polls / 100);
}

QTEST_MAIN(tst_FaultSoak)
#include "tst_faultsoak.moc"

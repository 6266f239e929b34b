// A line that never falls silent: random bytes at the full speed of the fastest line setting.
// The receive buffer can never be cleared by a pause, so it must stay bounded on its own; the
// window must keep answering; and the first reply after the flood must decode.
#include "linkedwindow.h"
#include "measure.h"
#include "protocol/receivebuffer.h"
#include "protocol/uartdata.h"
#include "simulatedmodule.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include <algorithm>
#include <vector>

using testsupport::LinkedWindow;

namespace {
// 115200 bit/s, ten bits a byte.
constexpr int floodBytesPerSecond = 11520;
constexpr int probePeriodMs = 50;
constexpr double probeLatenessBoundMs = 50.0;
// Resident memory may move by allocator noise, not by the amount of noise received (the
// flood brings 115 kB in 10 s, 690 kB in 60 s).
constexpr long memoryBoundKb = 4 * 1024;
#if defined(__SANITIZE_ADDRESS__)
// AddressSanitizer holds freed memory back in quarantine, so resident memory grows with every
// allocation there and says nothing about the tool's own.
constexpr bool residentMemoryTells = false;
#else
constexpr bool residentMemoryTells = true;
#endif
// Past the 500 ms of silence that clears a half-received reply.
constexpr int pauseAfterFloodMs = 600;
} // namespace

class tst_NoiseFlood : public QObject
{
    Q_OBJECT

private slots:
    void floodThenReply();
};

void tst_NoiseFlood::floodThenReply()
{
    const int floodMs = testsupport::longRun() ? 60000 : 10000;

    LinkedWindow fixture;
    QVERIFY(fixture.isReady());
    QVERIFY(fixture.link());
    auto *temperature = fixture.child<QLabel>("labelTemperature");
    auto *humidity = fixture.child<QLabel>("labelHumidity");
    QVERIFY(temperature && humidity);
    modsim::SimulatedModule *sim = fixture.sim();

    // Let the start-up allocations settle before the first reading.
    testsupport::runEventLoop(500);
    const long rssBefore = testsupport::residentKb();

    // A chain of 50 ms single-shot timers; each records how late it fired, and how much of
    // the noise the receive buffer holds.
    std::vector<double> latenessMs;
    int mostBuffered = 0;
    QElapsedTimer sinceArmed;
    QTimer probe;
    probe.setSingleShot(true);
    probe.setTimerType(Qt::PreciseTimer);
    connect(&probe, &QTimer::timeout, this, [&] {
        latenessMs.push_back(double(sinceArmed.nsecsElapsed()) / 1e6 - probePeriodMs);
        mostBuffered = std::max(mostBuffered, int(UartData.RxBuffer.size()));
        sinceArmed.start();
        probe.start(probePeriodMs);
    });

    sim->startNoiseFlood(floodBytesPerSecond);
    sinceArmed.start();
    probe.start(probePeriodMs);
    testsupport::runEventLoop(floodMs);
    probe.stop();
    sim->stopNoiseFlood();

    const long rssAfter = testsupport::residentKb();
    const double p99 = testsupport::percentile(latenessMs, 0.99);
    qInfo("%d ms of noise at %d bytes/s: %zu timer probes, lateness p50 %.2f ms, p99 %.2f ms, "
          "max %.2f ms; RSS %ld kB -> %ld kB; receive buffer at most %d bytes",
          floodMs, floodBytesPerSecond, latenessMs.size(), testsupport::percentile(latenessMs, 0.5),
          p99, testsupport::percentile(latenessMs, 1.0), rssBefore, rssAfter, mostBuffered);
    // The noise did arrive, and the buffer kept to its bound.
    QVERIFY(mostBuffered > 0);
    QVERIFY2(mostBuffered <= protocol::receiveBufferBound,
             qPrintable(QString::number(mostBuffered)));
    // A starved event loop would fire far fewer probes than the period allows.
    QVERIFY(latenessMs.size() > std::size_t(floodMs / probePeriodMs / 2));
    QVERIFY2(p99 <= probeLatenessBoundMs, qPrintable(QString::number(p99)));
    QVERIFY2(!residentMemoryTells || std::labs(rssAfter - rssBefore) <= memoryBoundKb,
             qPrintable(QStringLiteral("%1 kB -> %2 kB").arg(rssBefore).arg(rssAfter)));

    // The line falls silent, then the module answers a poll with values it never sent before.
    testsupport::runEventLoop(pauseAfterFloodMs);
    sim->module().setFrozen(true);
    sim->module().setTemperature(-123);
    sim->module().setHumidity(876);
    sim->clearLog();
    QTest::mouseClick(fixture.child<QPushButton>("pushButtonRead"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(temperature->text(), QStringLiteral("Temperature:-12.3℃"), 5000);
    QCOMPARE(humidity->text(), QStringLiteral("Humidity:87.6%"));
    // Decoded at the first reply, not after a few more polls cleared the way.
    QCOMPARE(int(sim->replies().size()), 1);
}

QTEST_MAIN(tst_NoiseFlood)
#include "tst_noiseflood.moc"

#pragma once

// Shared pieces of the module-command tests: a linked window per test, a settable clock, and a
// way to prove that a refused command put nothing on the line.
#include "app/clock.h"
#include "linkedwindow.h"
#include "simulatedmodule.h"

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QSerialPort>
#include <QtTest>

#include <memory>

namespace opstest {

// Every wait on the line or a timer: far beyond the longest interval involved (3 s), so that a
// loaded machine only makes a test slower, never makes it fail.
constexpr int patience = 15000;

inline QByteArray bytes(const char *hex)
{
    return QByteArray::fromHex(hex);
}

// The clock the commands read, held at an instant the test chooses; the real one comes back
// with the guard.
class TestClock
{
public:
    explicit TestClock(const QDateTime &at) : m_now(std::make_shared<QDateTime>(at))
    {
        auto now = m_now;
        appclock::setSource([now] { return *now; });
    }
    ~TestClock() { appclock::setSource({}); }
    TestClock(const TestClock &) = delete;
    TestClock &operator=(const TestClock &) = delete;

    void set(const QDateTime &at) { *m_now = at; }

private:
    std::shared_ptr<QDateTime> m_now;
};

// A window linked at 9600 bit/s to a fresh module whose log starts empty.
inline std::unique_ptr<testsupport::LinkedWindow> linkedWindow()
{
    auto lw = std::make_unique<testsupport::LinkedWindow>();
    if (!lw->isReady() || !lw->link())
        return nullptr;
    // The link's address read has its own deadline; let it pass before the test begins.
    QTest::qWait(700);
    lw->sim()->clearLog();
    lw->watcher()->clear();
    return lw;
}

inline QSerialPort *port(const testsupport::LinkedWindow &lw)
{
    return lw.widget()->findChild<QSerialPort *>();
}

inline void click(const testsupport::LinkedWindow &lw, const char *button)
{
    auto *b = lw.child<QAbstractButton>(button);
    QVERIFY2(b, button);
    b->click();
}

// Sends the read-address request and waits until the module has it. The line keeps order, so
// whatever an earlier command wrote has arrived by then: the requests returned are everything
// the window sent since the log was cleared, the marker last.
inline QList<QByteArray> requestsUpToMarker(const testsupport::LinkedWindow &lw)
{
    static const QByteArray marker = bytes("0003010000018427");
    const int before = int(lw.sim()->requests().size());
    lw.child<QAbstractButton>("pushButtonAddressRead")->click();
    // When the marker never comes, the caller's comparison shows what did.
    (void)QTest::qWaitFor(
        [&] {
            const QList<QByteArray> r = lw.sim()->requests();
            return r.size() > before && r.last() == marker;
        },
        patience);
    return lw.sim()->requests();
}

// Milliseconds on `since` (started before the command, so that a delay is never measured
// short) at which the module receives the next request that `matches`; -1 when none comes.
template <class Match>
qint64 msUntilRequest(const testsupport::LinkedWindow &lw, const QElapsedTimer &since,
                      Match matches)
{
    qint64 at = -1;
    QObject context;
    QObject::connect(lw.sim(), &modsim::SimulatedModule::requestReceived, &context,
                     [&](const QByteArray &request) {
                         if (at < 0 && matches(request))
                             at = since.elapsed();
                     });
    (void)QTest::qWaitFor([&] { return at >= 0; }, patience);
    return at;
}

inline bool isMeasurementRequest(const QByteArray &request)
{
    return request.size() == 8 && request.at(1) == 0x03 && request.mid(2, 4) == bytes("00000003");
}

} // namespace opstest

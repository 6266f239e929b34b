#pragma once

#include "bus/backoff.h"
#include "bus/link.h"
#include "samples/sample.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <cmath>
#include <vector>

namespace bus {

// What the bus knows of one module.
struct ModuleStatus
{
    quint8 address = 0;
    Backoff backoff;
    samples::Sample latest;       // the last reply's values; msecsSinceEpoch 0 before any
    qint64 lastReplyMsecs = 0;    // UTC
    qint64 offlineUntilMsecs = 0; // UTC, while offline: when it is asked next
    qint64 sent = 0;
    qint64 answered = 0;
    qint64 lateReplies = 0; // measurement replies that came after their slot had ended
    // Read once, through logger frames, which carry no address: only for a module alone on the
    // line. Otherwise empty, and identityNote says why.
    int model = 0;
    QString serialNumber;
    QString identityNote;

    Backoff::State state() const { return backoff.state(); }
    // NaN before the first reply. The median is of the latest replies, the extremes of all.
    double medianLatencyMs() const;
    double minLatencyMs() const { return answered > 0 ? double(m_minLatency) : std::nan(""); }
    double maxLatencyMs() const { return answered > 0 ? double(m_maxLatency) : std::nan(""); }

private:
    friend class Poller;
    std::vector<float> m_latencies; // the latest, as a ring
    std::size_t m_nextLatency = 0;
    float m_minLatency = 0;
    float m_maxLatency = 0;
};

// Polls a set of modules on one line, round robin: each module due is read once a cycle, one
// slot after another (the offline ones due a retry last), and a slot ends as soon as its reply
// is whole. A cycle starts every period,
// or as soon as the last one ended when the line cannot carry all modules in a period; it never
// hurries to catch up. A silent module costs its slot only while the back-off asks it.
class Poller : public QObject
{
    Q_OBJECT

public:
    static constexpr auto defaultPeriod = std::chrono::milliseconds(1000);
    // The longest an offline module waits to be asked again.
    static constexpr auto longestBackoff = std::chrono::seconds(60);
    static constexpr std::size_t latencyWindow = 64;

    explicit Poller(Link &link, QObject *parent = nullptr);

    // Both take effect at the next start().
    void setAddresses(const QList<int> &addresses);
    void setPeriod(std::chrono::milliseconds period) { m_period = period; }
    std::chrono::milliseconds period() const { return m_period; }

    void start();
    // Ends polling after the slot under way; stopped() follows.
    void stop();
    bool isPolling() const { return m_polling; }
    qint64 cycle() const { return m_cycle; }
    const std::vector<ModuleStatus> &modules() const { return m_modules; }

signals:
    // A slot ended: the module's values, or a gap when it did not answer.
    void polled(int index, const samples::Sample &sample);
    // An offline module that is not asked in this cycle.
    void skipped(int index);
    void moduleChanged(int index);
    void cycleFinished(qint64 cycle, qint64 tookMicroseconds);
    // Polling ended: after stop(), a lost port (linkLost() says so) or an interrupt.
    void stopped();

private:
    enum class Step { Measurement, AddressCheck, DeviceInfo };

    void startCycle();
    void nextSlot();
    void endCycle();
    void onExchanged(const Exchange &exchange);
    void measured(ModuleStatus &module, const Exchange &exchange);
    void noteStrays(const Exchange &exchange);
    bool startIdentity();
    void identified(const Exchange &exchange);
    void setIdentityNote(const QString &note);
    void finishStop();

    Link &m_link;
    std::vector<ModuleStatus> m_modules;
    std::chrono::milliseconds m_period = defaultPeriod;
    bool m_polling = false;
    bool m_stopping = false;
    bool m_identityDone = false;
    qint64 m_cycle = -1;
    std::vector<int> m_order; // the modules' indices in this cycle's order
    int m_slot = 0;           // into m_order
    int m_identityIndex = -1;
    Step m_step = Step::Measurement;
    QElapsedTimer m_cycleClock;
    qint64 m_cycleStartMsecs = 0;
    QTimer m_nextCycle;
};

} // namespace bus

#pragma once

#include "bus/link.h"
#include "samples/sample.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>

#include <chrono>

namespace bus {

// A module a scan found.
struct ScanHit
{
    enum class Status {
        Answered,
        Late,    // answered after its wait had ended: the margin is too short for this line
        Damaged, // bytes that form no reply: noise, or several modules with one address
        Refused, // a Modbus exception: a module is there but refuses the measurement
    };

    int speed = 0;
    int address = 0;
    Status status = Status::Answered;
    samples::Sample sample;              // a gap unless answered
    std::chrono::microseconds after{0};  // Late: from the request to the reply
    std::chrono::microseconds waited{0}; // Late: the wait it missed
    int exceptionCode = 0;               // Refused

    // Answered or late: a module that works, at this address and speed.
    bool isClean() const { return status == Status::Answered || status == Status::Late; }
};

// A bus scan: the measurement request to each address at each speed, one wait each. Modules
// are reported as they are found, each (speed, address) once.
class Scanner : public QObject
{
    Q_OBJECT

public:
    enum class End { Done, Cancelled, PortLost, SpeedRefused };
    Q_ENUM(End)

    explicit Scanner(Link &link, QObject *parent = nullptr);

    // The addresses to ask at each speed, before start().
    void setRange(const QList<int> &addresses, const QList<int> &speeds);
    void start();
    // Ends the scan after the request under way.
    void cancel();
    bool isRunning() const { return m_running; }

    int requestsDone() const { return m_done; }
    int requestsTotal() const { return int(m_addresses.size() * m_speeds.size()); }
    // The longest the requests from `done` on can take: every address silent.
    std::chrono::microseconds timeLeft(int done) const;
    int speed() const { return m_speeds.value(m_done / qMax(1, int(m_addresses.size()))); }
    int address() const { return m_addresses.value(m_done % qMax(1, int(m_addresses.size()))); }

signals:
    void found(const bus::ScanHit &hit);
    // Before each request: what is asked next.
    void progress(int done, int total);
    void finished(bus::Scanner::End end);

private:
    struct Sent
    {
        int speed;
        std::chrono::steady_clock::time_point at;
    };

    void next();
    void onExchanged(const Exchange &exchange);
    void report(const ScanHit &hit);
    void end(End end);

    Link &m_link;
    QList<int> m_addresses;
    QList<int> m_speeds;
    int m_done = 0;
    bool m_running = false;
    bool m_cancelled = false;
    QHash<int, Sent> m_sent;          // address: the latest request to it
    QSet<QPair<int, int>> m_reported; // (speed, address)
};

} // namespace bus

Q_DECLARE_METATYPE(bus::ScanHit)

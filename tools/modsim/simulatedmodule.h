#pragma once

#include "module.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>

#include <deque>
#include <random>

class QHostAddress;
class QTimer;

namespace modsim {

class Line;

// Ways the simulated line can misbehave. Shares are probabilities 0..1 per reply.
struct Faults
{
    double dropShare = 0.0;    // reply not sent at all
    double corruptShare = 0.0; // one bit of one reply byte flipped
    double splitShare = 0.0;   // reply written in two pieces, splitGapMs apart
    int splitGapMs = 100;
    int noiseBytes = 0;    // random bytes written just before each reply
    int lateMs = 0;        // every reply held back this long
    int exceptionCode = 0; // non-zero: Modbus requests to the module get this exception, unheeded
    bool silent = false;   // nothing is answered
    bool forgetWrites = false; // writes are acknowledged as usual, and then nothing is kept
    // Stay silent while the far side's line speed differs from the module's, as a real module
    // hears only garbage then.
    bool honourLineSpeed = true;
    // Hold each reply back for as long as its bytes take on the wire (10 bits a byte).
    bool realisticTiming = false;
    quint32 seed = 1;
};

// One module on the line. With more than one the line is an RS-485 bus: a Modbus request
// reaches the module whose address it carries, and address 0 (and every logger frame, which
// carries none) reaches all of them at once, so that their replies collide.
struct Station
{
    Module module;
    int lateMs = 0;      // this module's replies held back this long, on top of Faults::lateMs
    bool silent = false; // this module answers nothing
    // A module that falls silent `quietAfterMs` after the simulator started and answers again
    // `quietForMs` later, as one whose power or wiring fails for a while; -1: never.
    int quietAfterMs = -1;
    int quietForMs = 0;

    bool isQuietAt(qint64 msSinceStart) const
    {
        return silent || (quietAfterMs >= 0 && msSinceStart >= quietAfterMs &&
                          msSinceStart < qint64(quietAfterMs) + quietForMs);
    }
};

// The module on the master side of a pseudo-terminal, or behind a simulated serial device server
// on TCP, answering from the Qt event loop.
class SimulatedModule : public QObject
{
    Q_OBJECT

public:
    explicit SimulatedModule(QObject *parent = nullptr);
    ~SimulatedModule() override;

    // Opens the pseudo-terminal; with a link path, a symbolic link of that name points at it.
    bool start(const QString &linkPath = QString());
    // Listens as a serial device server whose serial side runs at the first module's speed;
    // port 0 takes any free port (portName() says which).
    bool startTcp(const QHostAddress &address, quint16 port);
    void stop();
    bool isRunning() const;
    QString portName() const;
    QString errorString() const;

    // Closes the line the way a pulled USB adapter does: the far side's port fails. Over TCP
    // the connection is reset and nothing listens.
    void vanish();
    // A fresh pseudo-terminal under the same link path, or a listener on the same port.
    bool restore();

    // The first module on the line.
    Module &module() { return m_stations.front().module; }
    const Module &module() const { return m_stations.front().module; }
    // Another module on the same line. The reference stays valid as long as the simulator.
    Station &addModule(const Module &module);
    int moduleCount() const { return int(m_stations.size()); }
    Station &station(int index) { return m_stations.at(std::size_t(index)); }
    Faults &faults() { return m_faults; }
    // Reseeds the fault dice from faults().seed.
    void reseed();

    // Whole requests heard, in order; and each reply as it went on the line, noise and damage
    // included (a dropped reply is not there).
    QList<QByteArray> requests() const { return m_requests; }
    QList<QByteArray> replies() const { return m_replies; }
    void clearLog();

    // A pause-free stream of random bytes on the line until stopped.
    void startNoiseFlood(int bytesPerSecond);
    void stopNoiseFlood();

signals:
    void requestReceived(const QByteArray &request);
    void replySent(const QByteArray &reply);
    // Bytes that arrived while the far side's line speed differed from the module's.
    void bytesIgnored(const QByteArray &bytes, int farSpeed);
    // The line's own news, such as a network client that came or went.
    void lineNote(const QString &text);

private:
    void useLine(Line *line);
    void onReadyRead();
    void answer(const QByteArray &request);
    bool hears(const Station &station, const QByteArray &request, int farSpeed) const;
    void transmit(QByteArray reply, int startMs, int speed);
    void send(const QByteArray &reply, int delayMs);
    void onFloodTick();
    bool roll(double share);
    QByteArray randomBytes(int count);

    std::deque<Station> m_stations{Station()}; // a deque keeps references across addModule()
    RequestFramer m_framer;
    QElapsedTimer m_sinceArrival;
    QElapsedTimer m_sinceStart;
    Faults m_faults;
    Line *m_line = nullptr;
    QTimer *m_floodTimer = nullptr;
    int m_floodBytesPerTick = 0;
    QList<QByteArray> m_requests;
    QList<QByteArray> m_replies;
    std::mt19937 m_random;
    quint64 m_generation = 0; // replies still scheduled for a vanished line are dropped
};

} // namespace modsim

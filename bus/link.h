#pragma once

#include "protocol/replydecoder.h"
#include "protocol/requestkind.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <memory>

namespace bus {

class Transport;

// How one request ended.
enum class Outcome {
    Answered,    // a reply that answers it
    NoReply,     // nothing came
    Damaged,     // bytes came, but they form no valid reply: noise or a collision on a bus
    Refused,     // a Modbus exception reply
    PortLost,    // the port failed; every later request fails alike
    Interrupted, // the wait was cut short (Ctrl-C, Cancel)
};

// A valid reply that answered something else, such as a module answering a request of an
// earlier address after its wait had ended; with the moment it was recognised.
struct Stray
{
    protocol::Reply reply;
    std::chrono::steady_clock::time_point at;
};

struct Exchange
{
    Outcome outcome = Outcome::NoReply;
    protocol::Reply reply; // Answered, Refused
    QList<Stray> strays;
    std::chrono::microseconds took{0}; // write to the end of the wait: the latency when answered

    bool answered() const { return outcome == Outcome::Answered; }
};

// One line to the modules and the conversation on it: one request at a time, each with a wait
// of its own length (linetiming.h), replies recognised by the window's receive rules
// (protocol::receiveChunk). A wait ends as soon as its reply is whole.
//
// send() works from the event loop and reports with exchanged(); exchange() is the same
// conversation for a caller that wants to wait for it (the command line).
class Link : public QObject
{
    Q_OBJECT

public:
    explicit Link(std::chrono::milliseconds margin = std::chrono::milliseconds(30),
                  QObject *parent = nullptr);
    ~Link() override;

    bool open(const QString &portName, int speed);
    void close();
    bool isOpen() const;
    QString openError() const;
    QString portName() const;
    bool setSpeed(int speed);
    int speed() const { return m_speed; }
    // False on a network link: the converter sets the line speed, not this program.
    bool setsLineSpeed() const;
    std::chrono::milliseconds margin() const { return m_margin; }
    void setMargin(std::chrono::milliseconds margin) { m_margin = margin; }
    bool isLost() const { return m_lost; }
    QString lostMessage() const;
    // Hex lines of every frame, as the window's exchange log writes them, through traced().
    void setTracing(bool on) { m_tracing = on; }

    // Sends one request; exchanged() tells how it ended. A Modbus reply answers only if it comes
    // from `address` (the address it was sent to; 0 takes any). One request at a time.
    void send(protocol::RequestKind kind, const QByteArray &request, quint8 address = 0);
    bool isBusy() const { return m_waiting; }
    // send() and a wait for its end.
    Exchange exchange(protocol::RequestKind kind, const QByteArray &request, quint8 address = 0);
    // Waits, watching the port; Answered when the time ran out undisturbed.
    Outcome pause(std::chrono::milliseconds duration);
    // Ends the wait under way, and every later one at once, as Interrupted.
    void interrupt();
    bool isInterrupted() const { return m_interrupted; }

signals:
    void exchanged(const bus::Exchange &exchange);
    void requestWritten(protocol::RequestKind kind, const QByteArray &frame);
    void replyRecognised(const protocol::Reply &reply);
    void lost(const QString &message);
    void traced(const QString &line);
    void waitEnded(); // internal: ends the nested loop of exchange() and pause()

private:
    void onReadyRead();
    void take(const QByteArray &bytes);
    void finish(Outcome outcome);
    void onDeadline();
    void trace(const QByteArray &frame, bool received, const char *note = nullptr);

    std::unique_ptr<Transport> m_transport;
    std::chrono::milliseconds m_margin;
    int m_speed = 0;
    bool m_lost = false;
    bool m_interrupted = false;
    bool m_tracing = false;

    // The request being answered.
    protocol::RequestKind m_kind = protocol::RequestKind::ReadAddress;
    quint8 m_address = 0;
    bool m_waiting = false;
    bool m_begun = false; // its reply's first bytes have come
    std::chrono::microseconds m_rest{0};
    QByteArray m_buffer;
    Exchange m_exchange;
    QElapsedTimer m_clock;
    QTimer m_deadline;
};

} // namespace bus

Q_DECLARE_METATYPE(bus::Exchange)

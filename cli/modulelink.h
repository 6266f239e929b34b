#pragma once

#include "protocol/replydecoder.h"
#include "protocol/requestkind.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QSerialPort>
#include <QString>

#include <chrono>
#include <optional>

namespace cli {

class Output;

// How one request ended.
enum class Outcome {
    Answered,    // a reply that answers it
    NoReply,     // nothing came
    Damaged,     // bytes came, but they form no valid reply: noise or a collision on a bus
    Refused,     // a Modbus exception reply
    PortLost,    // the port failed; every later request fails alike
    Interrupted, // Ctrl-C
};

// A valid reply that answered something else, such as a module answering a request of an
// earlier scan address after its wait had ended; with the moment it was recognised.
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
    std::chrono::microseconds took{0}; // write to the end of the wait

    bool answered() const { return outcome == Outcome::Answered; }
};

// The serial port to the module and the one conversation the command line needs: one request at
// a time, each with a wait of its own length (see linetiming.h), replies recognised by the
// window's receive rules (protocol::receiveChunk).
class ModuleLink : public QObject
{
    Q_OBJECT

public:
    ModuleLink(Output &output, bool trace, std::chrono::milliseconds margin,
               QObject *parent = nullptr);

    // Opens the port at 8N1; on failure, openError() says why and what to do.
    bool open(const QString &portName, int speed);
    QString openError() const { return m_openError; }
    QString portName() const { return m_port.portName(); }
    bool setSpeed(int speed);
    int speed() const { return m_speed; }
    std::chrono::milliseconds margin() const { return m_margin; }
    bool isLost() const { return m_lost; }

    // Sends one request and waits for its answer. A Modbus reply answers only if it comes from
    // `address` (the address it was sent to; 0 takes any).
    Exchange exchange(protocol::RequestKind kind, const QByteArray &request, quint8 address = 0);
    // Waits, watching the port and Ctrl-C; Answered when the time ran out undisturbed.
    Outcome pause(std::chrono::milliseconds duration);

    // The message for a lost port.
    QString lostMessage() const;

signals:
    void finished(); // ends the wait of exchange() and pause()

private:
    void onReadyRead();
    void onError(QSerialPort::SerialPortError error);
    void take(const QByteArray &bytes);
    void traceFrame(const QByteArray &frame, bool received, const char *note = nullptr);
    Outcome waitForFinish(std::chrono::microseconds firstDeadline);

    Output &m_output;
    bool m_trace;
    std::chrono::milliseconds m_margin;
    QSerialPort m_port;
    QString m_openError;
    int m_speed = 0;
    bool m_lost = false;

    // The request being answered.
    protocol::RequestKind m_kind = protocol::RequestKind::ReadAddress;
    quint8 m_address = 0;
    bool m_waiting = false;
    bool m_begun = false; // its reply's first bytes have come
    std::chrono::microseconds m_rest{0};
    QByteArray m_buffer;
    Exchange m_exchange;
    QElapsedTimer m_clock;
};

} // namespace cli

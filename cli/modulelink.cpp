#include "cli/modulelink.h"

#include "cli/interrupt.h"
#include "cli/linetiming.h"
#include "cli/output.h"
#include "protocol/exchangelog.h"
#include "protocol/frames.h"
#include "protocol/logging.h"
#include "protocol/receivebuffer.h"

#include <QDateTime>
#include <QEventLoop>
#include <QTimer>

namespace cli {

namespace {

using namespace std::chrono;

milliseconds roundUp(microseconds us)
{
    return ceil<milliseconds>(us);
}

bool isLossError(QSerialPort::SerialPortError error)
{
    // A pulled adapter fails its reads (a hung-up line reads as end of file) and then its
    // writes; a pseudo-terminal whose far end closed does the same.
    return error == QSerialPort::ResourceError || error == QSerialPort::ReadError ||
           error == QSerialPort::WriteError;
}

} // namespace

ModuleLink::ModuleLink(Output &output, bool trace, milliseconds margin, QObject *parent)
    : QObject(parent), m_output(output), m_trace(trace), m_margin(margin)
{
    connect(&m_port, &QSerialPort::readyRead, this, &ModuleLink::onReadyRead);
    connect(&m_port, &QSerialPort::errorOccurred, this, &ModuleLink::onError);
    connect(&Interrupt::instance(), &Interrupt::triggered, this, &ModuleLink::finished);
}

bool ModuleLink::open(const QString &portName, int speed)
{
    m_port.setPortName(portName);
    if (!m_port.open(QIODevice::ReadWrite)) {
        const QString name = portName;
        switch (m_port.error()) {
        case QSerialPort::DeviceNotFoundError:
            m_openError = QStringLiteral("there is no serial port %1: check the name (quorvel-cli "
                                         "ports lists them) and that the adapter is plugged in")
                              .arg(name);
            break;
        case QSerialPort::PermissionError:
            m_openError =
                QStringLiteral("cannot open %1: %2. Close the program that holds it; on Linux, "
                               "join the dialout group (sudo usermod -aG dialout $USER, then log "
                               "in again)")
                    .arg(name, m_port.errorString());
            break;
        default:
            m_openError = QStringLiteral("cannot open %1: %2. Check that it is a serial port "
                                         "and that no other program uses it")
                              .arg(name, m_port.errorString());
            break;
        }
        return false;
    }
    // The module speaks 8N1 only.
    m_port.setDataBits(QSerialPort::Data8);
    m_port.setParity(QSerialPort::NoParity);
    m_port.setStopBits(QSerialPort::OneStop);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    m_port.clear(QSerialPort::AllDirections);
    return setSpeed(speed);
}

bool ModuleLink::setSpeed(int speed)
{
    if (speed == m_speed)
        return true;
    if (!m_port.setBaudRate(speed, QSerialPort::AllDirections)) {
        m_openError = QStringLiteral("cannot set %1 to %2 bit/s: %3")
                          .arg(m_port.portName())
                          .arg(speed)
                          .arg(m_port.errorString());
        return false;
    }
    m_speed = speed;
    qCDebug(lcWire) << "line at" << speed << "bit/s";
    if (m_trace)
        m_output.trace(
            QDateTime::currentDateTime().toString(QLatin1String(protocol::exchangeLogTimeFormat)) +
            QStringLiteral("  line at %1 bit/s").arg(speed));
    return true;
}

QString ModuleLink::lostMessage() const
{
    return QStringLiteral("lost the port %1 (adapter unplugged?): plug it back in and run the "
                          "command again")
        .arg(m_port.portName());
}

Exchange ModuleLink::exchange(protocol::RequestKind kind, const QByteArray &request, quint8 address)
{
    m_exchange = Exchange();
    if (m_lost || Interrupt::instance().requested()) {
        m_exchange.outcome = m_lost ? Outcome::PortLost : Outcome::Interrupted;
        return m_exchange;
    }
    m_kind = kind;
    m_address = address;
    m_begun = false;

    // Bytes that came since the last wait ended belong to an earlier request; a late reply
    // among them is still worth reporting, but must not be taken for this request's answer.
    m_waiting = false;
    m_buffer.clear();
    take(m_port.readAll());
    m_buffer.clear();

    const ReplyWait wait = replyWait(kind, int(request.size()), m_speed, m_margin);
    m_rest = wait.rest;
    m_waiting = true;
    traceFrame(request, false);
    m_clock.start();
    if (m_port.write(request) != request.size()) {
        onError(QSerialPort::WriteError);
        m_exchange.outcome = Outcome::PortLost;
        m_waiting = false;
        return m_exchange;
    }
    const Outcome end = waitForFinish(wait.firstByte);
    m_waiting = false;
    m_exchange.took = duration_cast<microseconds>(nanoseconds(m_clock.nsecsElapsed()));
    if (end != Outcome::Answered) {
        m_exchange.outcome = end;
    } else if (m_exchange.outcome != Outcome::Answered && m_exchange.outcome != Outcome::Refused) {
        // The time ran out: what is left in the buffer never formed a reply.
        m_exchange.outcome = m_buffer.isEmpty() ? Outcome::NoReply : Outcome::Damaged;
        if (!m_buffer.isEmpty())
            traceFrame(m_buffer, true, "  (no valid reply)");
    }
    return m_exchange;
}

Outcome ModuleLink::pause(milliseconds duration)
{
    if (m_lost)
        return Outcome::PortLost;
    if (Interrupt::instance().requested())
        return Outcome::Interrupted;
    return waitForFinish(duration);
}

Outcome ModuleLink::waitForFinish(microseconds firstDeadline)
{
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer); // a coarse timer may end a 40 ms wait 2 ms early
    connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(this, &ModuleLink::finished, &loop, &QEventLoop::quit);
    // The reply's first bytes move the deadline to the end of the longest reply.
    bool extended = false;
    const auto extend = connect(&m_port, &QSerialPort::readyRead, &loop, [&] {
        if (m_waiting && m_begun && !extended) {
            extended = true;
            deadline.start(roundUp(m_rest));
        }
    });
    deadline.start(roundUp(firstDeadline));
    // Bytes that came before the loop started are not signalled again.
    if (m_port.bytesAvailable() > 0)
        onReadyRead();
    if (!(m_waiting && m_exchange.outcome == Outcome::Answered) && !m_lost &&
        !Interrupt::instance().requested())
        loop.exec();
    disconnect(extend);
    if (m_lost)
        return Outcome::PortLost;
    if (Interrupt::instance().requested())
        return Outcome::Interrupted;
    return Outcome::Answered;
}

void ModuleLink::onReadyRead()
{
    take(m_port.readAll());
}

void ModuleLink::take(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    if (m_waiting)
        m_begun = true;
    const protocol::Reply reply = protocol::receiveChunk(m_buffer, bytes);
    if (reply.kind == protocol::ReplyKind::Wait)
        return;
    traceFrame(reply.frame, true);

    const bool fromAddressed =
        !protocol::isModbus(reply.kind) || m_address == 0 || quint8(reply.frame.at(0)) == m_address;
    if (m_waiting && fromAddressed && protocol::answers(m_kind, reply.kind)) {
        m_exchange.outcome = Outcome::Answered;
        m_exchange.reply = reply;
        emit finished();
    } else if (m_waiting && fromAddressed && protocol::isModbusException(reply)) {
        m_exchange.outcome = Outcome::Refused;
        m_exchange.reply = reply;
        emit finished();
    } else {
        m_exchange.strays.append({reply, steady_clock::now()});
        // A logger frame stays in the buffer until the line falls silent; here each request
        // starts afresh, so one that answered nothing must not read as damage at the deadline.
        if (protocol::isLogger(reply.kind))
            m_buffer.clear();
    }
}

void ModuleLink::onError(QSerialPort::SerialPortError error)
{
    if (!isLossError(error) || m_lost)
        return;
    qCDebug(lcWire) << "port lost:" << m_port.errorString();
    m_lost = true;
    // Closing inside the port's own error emission recurses; the event loop does it.
    QTimer::singleShot(0, this, [this] { m_port.close(); });
    emit finished();
}

void ModuleLink::traceFrame(const QByteArray &frame, bool received, const char *note)
{
    if (!m_trace)
        return;
    m_output.trace(
        protocol::exchangeLogLine(QDateTime::currentDateTime(), frames::hexText(frame), received) +
        QLatin1String(note ? note : ""));
}

} // namespace cli

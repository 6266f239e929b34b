#include "bus/link.h"

#include "bus/linetiming.h"
#include "bus/transport.h"
#include "protocol/exchangelog.h"
#include "protocol/frames.h"
#include "protocol/logging.h"
#include "protocol/receivebuffer.h"

#include <QDateTime>
#include <QEventLoop>

namespace bus {

namespace {

using namespace std::chrono;

milliseconds roundUp(microseconds us)
{
    return ceil<milliseconds>(us);
}

} // namespace

Link::Link(milliseconds margin, QObject *parent) : QObject(parent), m_margin(margin)
{
    qRegisterMetaType<bus::Exchange>();
    m_deadline.setSingleShot(true);
    m_deadline.setTimerType(Qt::PreciseTimer); // a coarse timer may end a 40 ms wait 2 ms early
    connect(&m_deadline, &QTimer::timeout, this, &Link::onDeadline);
}

Link::~Link() = default;

bool Link::open(const QString &portName, int speed)
{
    close();
    m_transport = Transport::forPortName(portName);
    m_lost = false;
    m_speed = 0;
    connect(m_transport->device(), &QIODevice::readyRead, this, &Link::onReadyRead);
    connect(m_transport.get(), &Transport::lost, this, [this](const QString &reason) {
        m_lost = true;
        qCDebug(lcWire) << "link lost:" << reason;
        emit lost(lostMessage());
        if (m_waiting)
            finish(Outcome::PortLost);
        emit waitEnded();
    });
    if (!m_transport->open(portName, speed))
        return false;
    m_speed = speed;
    return true;
}

void Link::close()
{
    m_deadline.stop();
    m_waiting = false;
    if (m_transport)
        m_transport->close();
}

bool Link::isOpen() const
{
    return m_transport && m_transport->isOpen() && !m_lost;
}

QString Link::openError() const
{
    return m_transport ? m_transport->openError() : QString();
}

QString Link::portName() const
{
    return m_transport ? m_transport->portName() : QString();
}

bool Link::setsLineSpeed() const
{
    return !m_transport || m_transport->setsLineSpeed();
}

QString Link::lostMessage() const
{
    return m_transport ? m_transport->lostMessage() : QString();
}

bool Link::setSpeed(int speed)
{
    if (speed == m_speed)
        return true;
    if (!m_transport || !m_transport->setSpeed(speed))
        return false;
    m_speed = speed;
    qCDebug(lcWire) << "line at" << speed << "bit/s";
    if (m_tracing)
        emit traced(
            QDateTime::currentDateTime().toString(QLatin1String(protocol::exchangeLogTimeFormat)) +
            QStringLiteral("  line at %1 bit/s").arg(speed));
    return true;
}

void Link::send(protocol::RequestKind kind, const QByteArray &request, quint8 address)
{
    Q_ASSERT(!m_waiting);
    // Replies that came between two waits go with the next exchange, as late ones.
    QList<Stray> strays = std::move(m_exchange.strays);
    m_exchange = Exchange();
    m_exchange.strays = std::move(strays);
    if (m_lost || m_interrupted || !m_transport || !m_transport->isOpen()) {
        m_exchange.outcome = m_interrupted ? Outcome::Interrupted : Outcome::PortLost;
        // Reported from the event loop, as every other ending is.
        QMetaObject::invokeMethod(
            this, [this, e = m_exchange] { emit exchanged(e); }, Qt::QueuedConnection);
        return;
    }
    m_kind = kind;
    m_address = address;
    m_begun = false;

    // Bytes that came since the last wait ended belong to an earlier request; a late reply
    // among them is still worth reporting, but must not be taken for this request's answer.
    QIODevice *device = m_transport->device();
    m_buffer.clear();
    take(device->readAll());
    m_buffer.clear();

    const ReplyWait wait = replyWait(kind, int(request.size()), m_speed, m_margin);
    m_rest = wait.rest;
    m_waiting = true;
    trace(request, false);
    m_clock.start();
    m_deadline.start(roundUp(wait.firstByte));
    if (device->write(request) != request.size()) {
        m_lost = true;
        emit lost(lostMessage());
        finish(Outcome::PortLost);
        return;
    }
    emit requestWritten(kind, request);
}

Exchange Link::exchange(protocol::RequestKind kind, const QByteArray &request, quint8 address)
{
    QEventLoop loop;
    Exchange result;
    bool ended = false;
    const auto done = connect(this, &Link::exchanged, &loop, [&](const Exchange &exchange) {
        result = exchange;
        ended = true;
        loop.quit();
    });
    send(kind, request, address);
    if (!ended) // a write that failed has ended it already
        loop.exec();
    disconnect(done);
    return result;
}

Outcome Link::pause(milliseconds duration)
{
    if (m_lost)
        return Outcome::PortLost;
    if (m_interrupted)
        return Outcome::Interrupted;
    QEventLoop loop;
    QTimer::singleShot(duration, &loop, &QEventLoop::quit);
    connect(this, &Link::waitEnded, &loop, &QEventLoop::quit);
    loop.exec();
    if (m_lost)
        return Outcome::PortLost;
    return m_interrupted ? Outcome::Interrupted : Outcome::Answered;
}

void Link::interrupt()
{
    m_interrupted = true;
    if (m_waiting)
        finish(Outcome::Interrupted);
    emit waitEnded();
}

void Link::onReadyRead()
{
    if (m_transport)
        take(m_transport->device()->readAll());
}

void Link::take(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    if (m_waiting && !m_begun) {
        m_begun = true;
        // The reply has begun: it has until the end of the longest reply to be whole.
        m_deadline.start(roundUp(m_rest));
    }
    const protocol::Reply reply = protocol::receiveChunk(m_buffer, bytes);
    if (reply.kind == protocol::ReplyKind::Wait)
        return;
    trace(reply.frame, true);
    emit replyRecognised(reply);

    const bool fromAddressed =
        !protocol::isModbus(reply.kind) || m_address == 0 || quint8(reply.frame.at(0)) == m_address;
    if (m_waiting && fromAddressed && protocol::answers(m_kind, reply.kind)) {
        m_exchange.reply = reply;
        finish(Outcome::Answered);
    } else if (m_waiting && fromAddressed && protocol::isModbusException(reply)) {
        m_exchange.reply = reply;
        finish(Outcome::Refused);
    } else {
        m_exchange.strays.append({reply, steady_clock::now()});
        // A logger frame stays in the buffer until the line falls silent; here each request
        // starts afresh, so one that answered nothing must not read as damage at the deadline.
        if (protocol::isLogger(reply.kind))
            m_buffer.clear();
    }
}

void Link::onDeadline()
{
    if (!m_waiting)
        return;
    // The time ran out: what is left in the buffer never formed a reply.
    if (!m_buffer.isEmpty())
        trace(m_buffer, true, "  (no valid reply)");
    finish(m_buffer.isEmpty() ? Outcome::NoReply : Outcome::Damaged);
}

void Link::finish(Outcome outcome)
{
    if (!m_waiting)
        return;
    m_waiting = false;
    m_deadline.stop();
    m_exchange.outcome = outcome;
    m_exchange.took = duration_cast<microseconds>(nanoseconds(m_clock.nsecsElapsed()));
    const Exchange ended = std::move(m_exchange);
    m_exchange = Exchange();
    emit exchanged(ended);
}

void Link::trace(const QByteArray &frame, bool received, const char *note)
{
    if (!m_tracing)
        return;
    emit traced(
        protocol::exchangeLogLine(QDateTime::currentDateTime(), frames::hexText(frame), received) +
        QLatin1String(note ? note : ""));
}

} // namespace bus

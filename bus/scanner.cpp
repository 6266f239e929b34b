#include "bus/scanner.h"

#include "bus/linetiming.h"
#include "protocol/frames.h"
#include "samples/fromreply.h"

#include <QDateTime>
#include <QTimer>

namespace bus {

using namespace std::chrono;
using protocol::RequestKind;

Scanner::Scanner(Link &link, QObject *parent) : QObject(parent), m_link(link)
{
    qRegisterMetaType<bus::ScanHit>();
    qRegisterMetaType<bus::Scanner::End>();
}

microseconds Scanner::timeLeft(int done) const
{
    microseconds left{0};
    const int perSpeed = int(m_addresses.size());
    for (int request = done; request < requestsTotal(); ++request)
        left += silentAddressWait(m_speeds.at(request / perSpeed), m_link.margin());
    return left;
}

void Scanner::setRange(const QList<int> &addresses, const QList<int> &speeds)
{
    m_addresses = addresses;
    m_speeds = speeds;
}

void Scanner::start()
{
    m_done = 0;
    m_cancelled = false;
    m_running = true;
    m_sent.clear();
    m_reported.clear();
    connect(&m_link, &Link::exchanged, this, &Scanner::onExchanged, Qt::UniqueConnection);
    next();
}

void Scanner::cancel()
{
    if (!m_running)
        return;
    m_cancelled = true;
    if (!m_link.isBusy())
        end(End::Cancelled);
}

void Scanner::next()
{
    if (m_cancelled) {
        end(End::Cancelled);
        return;
    }
    if (m_done >= requestsTotal()) {
        end(End::Done);
        return;
    }
    if (!m_link.setSpeed(speed())) {
        end(End::SpeedRefused);
        return;
    }
    emit progress(m_done, requestsTotal());
    const int to = address();
    m_sent.insert(to, {speed(), steady_clock::now()});
    m_link.send(RequestKind::Measurement, frames::measurementRequest(quint8(to)), quint8(to));
}

void Scanner::onExchanged(const Exchange &exchange)
{
    if (!m_running)
        return;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    // Replies of modules that answered after their wait: each carries its own address.
    for (const Stray &stray : exchange.strays) {
        const protocol::Reply &reply = stray.reply;
        if (reply.kind != protocol::ReplyKind::Measurement &&
            reply.kind != protocol::ReplyKind::MeasurementWithWetBulb)
            continue;
        const int from = quint8(reply.frame.at(0));
        const auto sent = m_sent.constFind(from);
        if (sent == m_sent.constEnd())
            continue;
        ScanHit hit;
        hit.speed = sent->speed;
        hit.address = from;
        hit.status = ScanHit::Status::Late;
        hit.sample = samples::sampleOfReply(reply, quint8(from), now);
        hit.after = duration_cast<microseconds>(stray.at - sent->at);
        hit.waited = silentAddressWait(sent->speed, m_link.margin());
        report(hit);
    }

    ScanHit hit;
    hit.speed = speed();
    hit.address = address();
    hit.sample = samples::noReplySample(quint8(hit.address), now);
    switch (exchange.outcome) {
    case Outcome::Answered:
        hit.sample = samples::sampleOfReply(exchange.reply, quint8(hit.address), now);
        report(hit);
        break;
    case Outcome::Damaged:
        hit.status = ScanHit::Status::Damaged;
        report(hit);
        break;
    case Outcome::Refused:
        hit.status = ScanHit::Status::Refused;
        hit.exceptionCode =
            exchange.reply.frame.size() > 2 ? quint8(exchange.reply.frame.at(2)) : 0;
        report(hit);
        break;
    case Outcome::PortLost:
        end(End::PortLost);
        return;
    case Outcome::Interrupted:
        end(End::Cancelled);
        return;
    case Outcome::NoReply:
        break;
    }
    ++m_done;
    next();
}

void Scanner::report(const ScanHit &hit)
{
    if (m_reported.contains({hit.speed, hit.address}))
        return;
    m_reported.insert({hit.speed, hit.address});
    emit found(hit);
}

void Scanner::end(End end)
{
    m_running = false;
    disconnect(&m_link, &Link::exchanged, this, &Scanner::onExchanged);
    emit finished(end);
}

} // namespace bus

#include "monitor/linkmonitor.h"

#include "app/timing.h"
#include "samples/fromreply.h"

#include <QDateTime>

#include <algorithm>
#include <chrono>

namespace monitor {

namespace {
using namespace std::chrono_literals;
using protocol::RequestKind;

constexpr qint64 nanoseconds(std::chrono::milliseconds ms)
{
    return std::chrono::nanoseconds(ms).count();
}

bool isMeasurement(protocol::ReplyKind kind)
{
    return kind == protocol::ReplyKind::Measurement ||
           kind == protocol::ReplyKind::MeasurementWithWetBulb;
}
} // namespace

LinkMonitor::LinkMonitor(QObject *parent) : QObject(parent)
{
    m_clock.start();
    m_deadline.setSingleShot(true);
    m_deadline.setTimerType(Qt::PreciseTimer);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        settleOverdue();
        armDeadline();
    });
}

void LinkMonitor::resetStatistics()
{
    m_statistics = LinkStatistics{};
    m_lastGoodReplyNs = -1;
    // Their outcome would count a request that the new counters never saw sent.
    for (Pending &request : m_pending)
        request.counted = false;
}

qint64 LinkMonitor::msecsSinceGoodReply() const
{
    return m_lastGoodReplyNs < 0 ? -1 : (m_clock.nsecsElapsed() - m_lastGoodReplyNs) / 1000000;
}

void LinkMonitor::onRequestSent(RequestKind kind, const QByteArray &frame)
{
    settleOverdue();
    const bool poll = kind == RequestKind::Measurement;
    if (poll) {
        // The poll before this one had its chance.
        const auto previous =
            std::find_if(m_pending.begin(), m_pending.end(),
                         [](const Pending &p) { return p.kind == RequestKind::Measurement; });
        if (previous != m_pending.end()) {
            const Pending unanswered = *previous;
            m_pending.erase(previous);
            giveUp(unanswered);
        }
    }
    const qint64 now = m_clock.nsecsElapsed();
    const quint8 address = frame.isEmpty() ? 0 : quint8(frame.at(0));
    if (poll)
        m_lastPolledAddress = address;
    m_pending.push_back(
        Pending{kind, now, poll ? -1 : now + nanoseconds(protocol::describe(kind).replyDeadline),
                QDateTime::currentMSecsSinceEpoch(), address, true});
    m_statistics.bytesSent += frame.size();
    ++m_statistics[kind].sent;
    armDeadline();
}

void LinkMonitor::onReplyRecognised(const protocol::Reply &reply)
{
    settleOverdue();
    const qint64 now = m_clock.nsecsElapsed();
    if (protocol::isModbusException(reply))
        ++m_statistics.exceptions;
    if (protocol::answersRequest(reply.kind))
        m_lastGoodReplyNs = now;

    quint8 address = m_lastPolledAddress;
    if (m_lastPolledAddress == 0 && !reply.frame.isEmpty())
        address = quint8(reply.frame.at(0)); // a reply before any poll: its own address
    const auto request = std::find_if(m_pending.begin(), m_pending.end(), [&](const Pending &p) {
        return protocol::answers(p.kind, reply.kind);
    });
    if (request != m_pending.end()) {
        if (request->counted) {
            RequestCounts &counts = m_statistics[request->kind];
            ++counts.answered;
            counts.latency.add(double(now - request->sentNs) / 1e6);
        }
        if (request->kind == RequestKind::Measurement)
            address = request->address;
        m_pending.erase(request);
        armDeadline();
    }

    if (!isMeasurement(reply.kind))
        return;
    const samples::Sample sample =
        samples::sampleOfReply(reply, address, QDateTime::currentMSecsSinceEpoch());
    addSample(sample);
}

void LinkMonitor::onBytesReceived(qint64 count)
{
    m_statistics.bytesReceived += count;
}

void LinkMonitor::onBytesDiscarded(qint64 count)
{
    m_statistics.bytesDiscarded += count;
}

void LinkMonitor::onPollingChanged(bool polling)
{
    if (polling)
        return;
    // No next poll will come to end the last one: it gets the period it would have had.
    for (Pending &request : m_pending) {
        if (request.kind == RequestKind::Measurement && request.deadlineNs < 0)
            request.deadlineNs = request.sentNs + nanoseconds(timing::pollPeriod);
    }
    armDeadline();
}

void LinkMonitor::onPortOpened(const QString &portName, qint32 speed)
{
    giveUpAll();
    m_portOpen = true;
    m_portName = portName;
    m_portSpeed = speed;
}

void LinkMonitor::onPortClosed()
{
    giveUpAll();
    m_portOpen = false;
}

void LinkMonitor::onPortLost(const QString &portName)
{
    giveUpAll();
    ++m_statistics.portLosses;
    m_portOpen = false;
    m_portName = portName;
}

void LinkMonitor::onPortReconnected(const QString &portName, qint32 speed)
{
    ++m_statistics.reconnects;
    onPortOpened(portName, speed);
}

void LinkMonitor::settleOverdue()
{
    const qint64 now = m_clock.nsecsElapsed();
    std::vector<Pending> overdue;
    const auto late =
        std::stable_partition(m_pending.begin(), m_pending.end(), [&](const Pending &p) {
            return p.deadlineNs < 0 || p.deadlineNs > now;
        });
    overdue.assign(late, m_pending.end());
    m_pending.erase(late, m_pending.end());
    for (const Pending &request : overdue)
        giveUp(request);
}

void LinkMonitor::giveUp(const Pending &request)
{
    if (request.counted)
        ++m_statistics[request.kind].noReply;
    if (request.kind != RequestKind::Measurement)
        return;
    const samples::Sample gap =
        samples::noReplySample(request.address, request.sentMsecsSinceEpoch);
    addSample(gap);
}

void LinkMonitor::giveUpAll()
{
    const std::vector<Pending> unanswered = std::move(m_pending);
    m_pending.clear();
    for (const Pending &request : unanswered)
        giveUp(request);
    armDeadline();
}

void LinkMonitor::armDeadline()
{
    qint64 earliest = -1;
    for (const Pending &request : m_pending) {
        if (request.deadlineNs >= 0 && (earliest < 0 || request.deadlineNs < earliest))
            earliest = request.deadlineNs;
    }
    if (earliest < 0) {
        m_deadline.stop();
        return;
    }
    const qint64 waitNs = std::max<qint64>(0, earliest - m_clock.nsecsElapsed());
    // Rounded up: a timer that fires a little before the deadline would find nothing overdue.
    m_deadline.start(int((waitNs + 999999) / 1000000));
}

void LinkMonitor::addSample(const samples::Sample &sample)
{
    m_series.append(sample);
    emit sampleAdded(sample);
}

} // namespace monitor

#pragma once

#include "monitor/linkstatistics.h"
#include "monitor/sampleseries.h"
#include "protocol/requestkind.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <vector>

namespace monitor {

// Follows what the main window reports about the line, from the start of the run: turns polls
// and their replies into samples, and counts requests, replies, bytes and port events. Qt Core
// only; it runs whether the monitor window was ever opened or not.
//
// A request is answered by the first reply of a matching kind recognised before its deadline;
// the poll's deadline is the next poll, or its period once polling stopped. Each reply answers
// at most one request, the oldest it fits, and a request cannot be answered once its port was
// closed or reopened.
class LinkMonitor : public QObject
{
    Q_OBJECT

public:
    explicit LinkMonitor(QObject *parent = nullptr);

    const SampleSeries &series() const { return m_series; }
    const LinkStatistics &statistics() const { return m_statistics; }
    void resetStatistics();

    bool isPortOpen() const { return m_portOpen; }
    QString portName() const { return m_portName; }
    qint32 portSpeed() const { return m_portSpeed; }
    // Milliseconds since the last reply that answers some request; -1 before there was one.
    qint64 msecsSinceGoodReply() const;

    // What the main window publishes, connected by its owner.
    void onRequestSent(protocol::RequestKind kind, const QByteArray &frame);
    void onReplyRecognised(const protocol::Reply &reply);
    void onBytesReceived(qint64 count);
    void onBytesDiscarded(qint64 count);
    void onPollingChanged(bool polling);
    void onPortOpened(const QString &portName, qint32 speed);
    void onPortClosed();
    void onPortLost(const QString &portName);
    void onPortReconnected(const QString &portName, qint32 speed);

signals:
    void sampleAdded(const samples::Sample &sample);

private:
    struct Pending
    {
        protocol::RequestKind kind;
        qint64 sentNs;     // on m_clock
        qint64 deadlineNs; // on m_clock; -1: a poll awaiting the next poll
        qint64 sentMsecsSinceEpoch;
        quint8 address;
        bool counted; // sent before the last reset of the statistics
    };

    void settleOverdue();
    void giveUp(const Pending &request);
    void giveUpAll();
    void armDeadline();
    void addSample(const samples::Sample &sample);

    SampleSeries m_series;
    LinkStatistics m_statistics;
    std::vector<Pending> m_pending; // oldest first
    QElapsedTimer m_clock;
    QTimer m_deadline;
    quint8 m_lastPolledAddress = 0;
    qint64 m_lastGoodReplyNs = -1;
    bool m_portOpen = false;
    QString m_portName;
    qint32 m_portSpeed = 0;
};

} // namespace monitor

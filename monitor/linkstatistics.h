#pragma once

#include "protocol/requestkind.h"

#include <QtGlobal>

#include <array>
#include <cstddef>
#include <vector>

namespace monitor {

// Latencies of one request kind: exact extremes, and a median read from bins of 0.1 ms, so
// that a week of polls costs no more memory than a minute.
class LatencyRecord
{
public:
    void add(double ms);
    qint64 count() const { return m_count; }
    // NaN while nothing was recorded.
    double min() const;
    double median() const;
    double max() const;

private:
    static constexpr double binMs = 0.1;
    // Past the longest a request may wait (the poll's next period after a recording command);
    // anything longer counts in the last bin.
    static constexpr int binCount = 50000;

    std::vector<quint32> m_bins; // allocated with the first latency
    qint64 m_count = 0;
    double m_min = 0;
    double m_max = 0;
};

struct RequestCounts
{
    qint64 sent = 0;
    qint64 answered = 0;
    qint64 noReply = 0; // sent = answered + noReply + those still awaiting their reply
    LatencyRecord latency;
};

// The counters of the statistics tab; Reset starts them again from zero.
struct LinkStatistics
{
    std::array<RequestCounts, protocol::allRequestKinds.size()> requests;
    qint64 bytesSent = 0;
    qint64 bytesReceived = 0;
    qint64 bytesDiscarded = 0; // cleared by the silence without forming a reply
    qint64 exceptions = 0;     // Modbus exception replies
    qint64 portLosses = 0;
    qint64 reconnects = 0;

    RequestCounts &operator[](protocol::RequestKind kind) { return requests[std::size_t(kind)]; }
    const RequestCounts &operator[](protocol::RequestKind kind) const
    {
        return requests[std::size_t(kind)];
    }
};

} // namespace monitor

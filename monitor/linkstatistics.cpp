#include "monitor/linkstatistics.h"

#include <algorithm>
#include <cmath>

namespace monitor {

void LatencyRecord::add(double ms)
{
    if (m_bins.empty())
        m_bins.assign(binCount, 0);
    const int bin = std::clamp(int(ms / binMs), 0, binCount - 1);
    ++m_bins[std::size_t(bin)];
    m_min = m_count == 0 ? ms : std::min(m_min, ms);
    m_max = m_count == 0 ? ms : std::max(m_max, ms);
    ++m_count;
}

double LatencyRecord::min() const
{
    return m_count == 0 ? NAN : m_min;
}

double LatencyRecord::max() const
{
    return m_count == 0 ? NAN : m_max;
}

double LatencyRecord::median() const
{
    if (m_count == 0)
        return NAN;
    // The lower median: the ((count + 1) / 2)-th smallest latency, at the middle of its bin.
    const qint64 rank = (m_count + 1) / 2;
    qint64 seen = 0;
    std::size_t bin = 0;
    while (bin + 1 < m_bins.size() && (seen += m_bins[bin]) < rank)
        ++bin;
    return std::clamp((double(bin) + 0.5) * binMs, m_min, m_max);
}

} // namespace monitor

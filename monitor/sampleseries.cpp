#include "monitor/sampleseries.h"

#include <algorithm>

namespace monitor {

namespace {
using samples::Sample;
using Values = std::array<qint32, SampleSeries::ValueCount>;

// The values a sample carries, in tenths, and as a bit set which of them.
quint8 valuesOf(const Sample &sample, Values &values)
{
    if (sample.isGap())
        return 0;
    values = {sample.temperature, sample.humidity, sample.dewPoint, sample.wetBulb};
    const quint8 threeValues = 0b0111;
    return sample.hasWetBulb ? quint8(threeValues | (1u << SampleSeries::WetBulb)) : threeValues;
}

bool breaksBefore(const std::deque<Sample> &samples, std::size_t index)
{
    return samples[index].isGap() ||
           (index > 0 && samples[index].msecsSinceEpoch - samples[index - 1].msecsSinceEpoch >
                             SampleSeries::pauseBreaksLine.count());
}
} // namespace

SampleSeries::Point SampleSeries::pointOf(const Sample &sample)
{
    Point p;
    p.msecsSinceEpoch = sample.msecsSinceEpoch;
    p.present = valuesOf(sample, p.low);
    p.high = p.low;
    return p;
}

void SampleSeries::append(const Sample &sample)
{
    const std::size_t index = m_samples.size();
    m_samples.push_back(sample);
    const bool breaks = breaksBefore(m_samples, index);
    Values values{};
    const quint8 present = valuesOf(sample, values);
    for (std::size_t level = 0; level < runLengths.size(); ++level) {
        std::deque<Summary> &summaries = m_summaries[level];
        if (index % runLengths[level] == 0)
            summaries.emplace_back();
        Summary &run = summaries.back();
        for (int v = 0; v < ValueCount; ++v) {
            if (!(present & (1u << v)))
                continue;
            const bool first = !(run.present & (1u << v));
            run.low[v] = first ? values[v] : std::min(run.low[v], values[v]);
            run.high[v] = first ? values[v] : std::max(run.high[v], values[v]);
        }
        run.present |= present;
        run.broken = run.broken || breaks;
    }
}

void SampleSeries::clear()
{
    m_samples.clear();
    for (std::deque<Summary> &summaries : m_summaries)
        summaries.clear();
}

std::size_t SampleSeries::lowerBound(qint64 msecsSinceEpoch) const
{
    const auto at =
        std::lower_bound(m_samples.begin(), m_samples.end(), msecsSinceEpoch,
                         [](const Sample &s, qint64 t) { return s.msecsSinceEpoch < t; });
    return std::size_t(at - m_samples.begin());
}

std::size_t SampleSeries::nearest(qint64 msecsSinceEpoch) const
{
    const std::size_t after = lowerBound(msecsSinceEpoch);
    if (after == 0)
        return 0; // the first sample, or size() of an empty series
    if (after == m_samples.size())
        return after - 1;
    const qint64 toAfter = m_samples[after].msecsSinceEpoch - msecsSinceEpoch;
    const qint64 toBefore = msecsSinceEpoch - m_samples[after - 1].msecsSinceEpoch;
    return toBefore <= toAfter ? after - 1 : after;
}

std::vector<SampleSeries::Point> SampleSeries::points(std::size_t first, std::size_t last,
                                                      std::size_t maxPoints) const
{
    last = std::min(last, m_samples.size());
    std::vector<Point> out;
    if (first >= last)
        return out;
    const std::size_t count = last - first;
    if (count <= maxPoints) {
        out.reserve(count);
        for (std::size_t i = first; i < last; ++i) {
            Point p = pointOf(m_samples[i]);
            p.breakBefore = breaksBefore(m_samples, i);
            out.push_back(p);
        }
        return out;
    }

    std::size_t level = 0;
    while (level + 1 < runLengths.size() &&
           (count + runLengths[level] - 1) / runLengths[level] > maxPoints)
        ++level;
    const std::size_t run = runLengths[level];
    const std::deque<Summary> &summaries = m_summaries[level];
    out.reserve((count + run - 1) / run + 1);
    bool previousBroken = false;
    for (std::size_t j = first / run; j * run < last; ++j) {
        const Summary &summary = summaries[j];
        const std::size_t begin = j * run;
        const std::size_t end = std::min(begin + run, m_samples.size());
        Point p;
        // The middle of the run: its samples are spread over the time it covers.
        p.msecsSinceEpoch =
            m_samples[begin].msecsSinceEpoch +
            (m_samples[end - 1].msecsSinceEpoch - m_samples[begin].msecsSinceEpoch) / 2;
        p.low = summary.low;
        p.high = summary.high;
        p.present = summary.present;
        // A gap inside a run cuts the line on both sides of it.
        p.breakBefore = summary.broken || previousBroken;
        previousBroken = summary.broken;
        out.push_back(p);
    }
    return out;
}

} // namespace monitor

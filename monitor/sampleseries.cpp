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

// Widens [low, high] of each value present in `present` by the sample's values.
void include(Values &low, Values &high, quint8 &present, const Sample &sample)
{
    Values values{};
    const quint8 has = valuesOf(sample, values);
    for (int v = 0; v < SampleSeries::ValueCount; ++v) {
        if (!(has & (1u << v)))
            continue;
        const bool first = !(present & (1u << v));
        low[v] = first ? values[v] : std::min(low[v], values[v]);
        high[v] = first ? values[v] : std::max(high[v], values[v]);
    }
    present |= has;
}

bool pausedBefore(const std::deque<Sample> &samples, std::size_t index)
{
    return index > 0 && samples[index].msecsSinceEpoch - samples[index - 1].msecsSinceEpoch >
                            SampleSeries::pauseBreaksLine.count();
}

qint64 middle(const Sample &first, const Sample &last)
{
    return first.msecsSinceEpoch + (last.msecsSinceEpoch - first.msecsSinceEpoch) / 2;
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
    const bool paused = pausedBefore(m_samples, index);
    for (std::size_t level = 0; level < runLengths.size(); ++level) {
        std::deque<Summary> &summaries = m_summaries[level];
        const std::size_t offset = index % runLengths[level];
        if (offset == 0)
            summaries.emplace_back();
        Summary &run = summaries.back();
        run.pauseInside = run.pauseInside || (offset > 0 && paused);
        if (sample.isGap())
            continue;
        if (!run.present)
            run.firstAnswered = quint16(offset);
        run.lastAnswered = quint16(offset);
        include(run.low, run.high, run.present, sample);
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

SampleSeries::Point SampleSeries::summarise(std::size_t begin, std::size_t end) const
{
    Point p;
    std::size_t firstAnswered = end;
    std::size_t lastAnswered = end;
    for (std::size_t i = begin; i < end; ++i) {
        if (m_samples[i].isGap())
            continue;
        firstAnswered = std::min(firstAnswered, i);
        lastAnswered = i;
        include(p.low, p.high, p.present, m_samples[i]);
    }
    p.msecsSinceEpoch = p.present ? middle(m_samples[firstAnswered], m_samples[lastAnswered])
                                  : middle(m_samples[begin], m_samples[end - 1]);
    p.breakBefore = pausedBefore(m_samples, begin);
    return p;
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
            p.breakBefore = m_samples[i].isGap() || pausedBefore(m_samples, i);
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
    for (std::size_t j = first / run; j * run < last; ++j) {
        const Summary &summary = summaries[j];
        const std::size_t begin = j * run;
        const std::size_t end = std::min(begin + run, m_samples.size());
        if (summary.pauseInside) {
            // Rare enough to go back to the samples: a piece of the run on either side of each
            // pause, so that no line crosses it and no point sits in it.
            std::size_t from = begin;
            for (std::size_t i = begin + 1; i <= end; ++i) {
                if (i == end || pausedBefore(m_samples, i)) {
                    out.push_back(summarise(from, i));
                    from = i;
                }
            }
            continue;
        }
        // Gaps inside the run do not break the lines: with the odd poll unanswered nearly every
        // run has one, and the chart zoomed out would show nothing.
        Point p;
        p.low = summary.low;
        p.high = summary.high;
        p.present = summary.present;
        p.msecsSinceEpoch = summary.present ? middle(m_samples[begin + summary.firstAnswered],
                                                     m_samples[begin + summary.lastAnswered])
                                            : middle(m_samples[begin], m_samples[end - 1]);
        p.breakBefore = pausedBefore(m_samples, begin);
        out.push_back(p);
    }
    return out;
}

} // namespace monitor

#pragma once

#include "samples/sample.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <deque>
#include <vector>

namespace monitor {

// Every sample of the run, in the order they came, with min/max summaries over fixed runs of
// them: a chart of a week at 1 Hz then draws a few thousand points a series instead of 604,800,
// at about 3 bytes a sample on top of the samples themselves.
class SampleSeries
{
public:
    // The values a chart draws, in tenths.
    enum Value { Temperature, Humidity, DewPoint, WetBulb, ValueCount };

    // A line must not be drawn across a pause in polling as if the module had been watched.
    static constexpr std::chrono::milliseconds pauseBreaksLine{10000};

    // One point to draw: a single sample, or the summary of a run of them.
    struct Point
    {
        qint64 msecsSinceEpoch = 0;
        std::array<qint32, ValueCount> low{};
        std::array<qint32, ValueCount> high{};
        quint8 present = 0;       // bit v: value v was measured here
        bool breakBefore = false; // the line must not join this point to the one before
        bool has(Value v) const { return present & (1u << v); }
    };

    // A single sample as a point; breakBefore is left to the series.
    static Point pointOf(const samples::Sample &sample);

    void append(const samples::Sample &sample);
    void clear();

    const std::deque<samples::Sample> &samples() const { return m_samples; }
    std::size_t size() const { return m_samples.size(); }
    bool empty() const { return m_samples.empty(); }

    // Index of the first sample at or after the time.
    std::size_t lowerBound(qint64 msecsSinceEpoch) const;
    // Index of the sample nearest the time; size() when there is none.
    std::size_t nearest(qint64 msecsSinceEpoch) const;

    // The samples [first, last) as points: each sample itself while they are at most
    // maxPoints, otherwise summaries of the shortest runs that bring them within maxPoints.
    // A sample without reply breaks the lines; a summary keeps the low and high of the replies
    // in its run and breaks them only when no sample of the run was answered or polling paused.
    std::vector<Point> points(std::size_t first, std::size_t last, std::size_t maxPoints) const;

private:
    struct Summary
    {
        std::array<qint32, ValueCount> low{};
        std::array<qint32, ValueCount> high{};
        quint8 present = 0;
        bool pauseInside = false;
        // The first and last answered samples, counted from the start of the run: a summary is
        // drawn where its replies are, not in a stretch of its run that had none.
        quint16 firstAnswered = 0;
        quint16 lastAnswered = 0;
    };

    // The samples [begin, end) as one point, summarised from the samples themselves.
    Point summarise(std::size_t begin, std::size_t end) const;

    static constexpr std::array<std::size_t, 5> runLengths{16, 64, 256, 1024, 4096};
    static_assert(runLengths.back() <= 65536, "offsets in a run are 16 bits");

    // Deques grow by blocks: no copy of a week of samples when they outgrow their room, and no
    // room held that they do not use.
    std::deque<samples::Sample> m_samples;
    std::array<std::deque<Summary>, runLengths.size()> m_summaries;
};

} // namespace monitor

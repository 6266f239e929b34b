#pragma once

#include "monitor/sampleseries.h"
#include "samples/plausibility.h"

#include <QList>

#include <functional>
#include <map>
#include <utility>
#include <vector>

namespace monitor {

// The samples of the bus polls of a run, a series a module, kept like the main window's: what
// the all-modules trend draws and Save CSV writes. A module polled now holds a colour (an index
// into the chart's palette) until it is no longer polled, so that its line keeps its colour
// while others come and go.
class BusSeries
{
public:
    struct Module
    {
        SampleSeries series;
        // The samples that raised plausibility flags, by their index in the series, in order.
        std::vector<std::pair<std::size_t, samples::PlausibilityFlags>> flagged;
        int colour = -1; // none: not polled now
    };

    // The modules polled from now on; the others give up their colours but keep their samples.
    void setPolled(const QList<int> &addresses);
    void append(const samples::Sample &sample, samples::PlausibilityFlags flags = {});
    void clear();

    // By address.
    const std::map<quint8, Module> &modules() const { return m_modules; }
    std::size_t sampleCount() const { return m_sampleCount; }
    bool empty() const { return m_sampleCount == 0; }
    // Of the oldest and the newest sample of any module; 0 when there is none.
    qint64 firstMsecs() const { return m_firstMsecs; }
    qint64 lastMsecs() const { return m_lastMsecs; }

private:
    Module &polled(quint8 address);

    std::map<quint8, Module> m_modules;
    std::size_t m_sampleCount = 0;
    qint64 m_firstMsecs = 0;
    qint64 m_lastMsecs = 0;
};

// Every sample of the series, oldest first; of samples stamped alike, those of the earlier
// series first. What Save CSV writes: the main window's module and the bus's in one file.
void forEachByTime(const std::vector<const SampleSeries *> &series,
                   const std::function<void(const samples::Sample &)> &visit);

} // namespace monitor

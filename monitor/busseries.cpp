#include "monitor/busseries.h"

#include <algorithm>
#include <queue>
#include <tuple>

namespace monitor {

void BusSeries::setPolled(const QList<int> &addresses)
{
    for (auto &[address, module] : m_modules) {
        if (!addresses.contains(address))
            module.colour = -1;
    }
    // Newcomers in the order of their addresses, so that a new set looks the same every time.
    QList<int> sorted = addresses;
    std::sort(sorted.begin(), sorted.end());
    for (int address : sorted)
        polled(quint8(address));
}

BusSeries::Module &BusSeries::polled(quint8 address)
{
    Module &module = m_modules[address];
    if (module.colour >= 0)
        return module;
    // The lowest colour no polled module holds: a module that goes frees its colour for the
    // next newcomer, and those that stay keep theirs.
    std::vector<bool> taken(m_modules.size(), false);
    for (const auto &entry : m_modules) {
        const int colour = entry.second.colour;
        if (colour >= 0 && std::size_t(colour) < taken.size())
            taken[std::size_t(colour)] = true;
    }
    module.colour = int(std::find(taken.begin(), taken.end(), false) - taken.begin());
    return module;
}

void BusSeries::append(const samples::Sample &sample, samples::PlausibilityFlags flags)
{
    Module &module = polled(sample.address);
    if (flags)
        module.flagged.emplace_back(module.series.size(), flags);
    module.series.append(sample);
    if (m_sampleCount++ == 0)
        m_firstMsecs = sample.msecsSinceEpoch;
    m_firstMsecs = std::min(m_firstMsecs, sample.msecsSinceEpoch);
    m_lastMsecs = std::max(m_lastMsecs, sample.msecsSinceEpoch);
}

void BusSeries::clear()
{
    for (auto &entry : m_modules) {
        entry.second.series.clear();
        entry.second.flagged.clear();
    }
    m_sampleCount = 0;
    m_firstMsecs = m_lastMsecs = 0;
}

void forEachByTime(const std::vector<const SampleSeries *> &series,
                   const std::function<void(const samples::Sample &)> &visit)
{
    // (time, series, index) of each series' next sample; the smallest comes out first.
    using Next = std::tuple<qint64, std::size_t, std::size_t>;
    std::priority_queue<Next, std::vector<Next>, std::greater<>> next;
    for (std::size_t s = 0; s < series.size(); ++s) {
        if (!series[s]->empty())
            next.emplace(series[s]->samples().front().msecsSinceEpoch, s, 0);
    }
    while (!next.empty()) {
        const auto [msecs, s, i] = next.top();
        next.pop();
        const auto &rows = series[s]->samples();
        visit(rows[i]);
        if (i + 1 < rows.size())
            next.emplace(rows[i + 1].msecsSinceEpoch, s, i + 1);
    }
}

} // namespace monitor

#pragma once

#include <QtGlobal>

namespace bus {

// When a module of the bus is asked. Counted in cycles, not in time, so that the rule is the
// same however long a cycle takes. A module that misses three polls in a row is offline: it is
// asked again after 2 cycles, and each time it stays silent the wait doubles (4, 8, ...) up to
// `longestWait` cycles. Its first reply makes it online again.
class Backoff
{
public:
    enum class State { Unknown, Online, NoReply, Offline };

    static constexpr int missesToOffline = 3;
    static constexpr int firstWait = 2;

    explicit Backoff(int longestWait = 60) : m_longestWait(qMax(1, longestWait)) {}

    State state() const { return m_state; }
    // Whether the module is asked in cycle `cycle`.
    bool isDue(qint64 cycle) const { return m_state != State::Offline || cycle >= m_retryCycle; }
    // The cycle an offline module is asked next.
    qint64 retryCycle() const { return m_retryCycle; }
    int missesInARow() const { return m_misses; }

    void answered();
    void missed(qint64 cycle);

private:
    int m_longestWait;
    State m_state = State::Unknown;
    int m_misses = 0;
    int m_wait = 0;
    qint64 m_retryCycle = 0;
};

} // namespace bus

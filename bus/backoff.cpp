#include "bus/backoff.h"

#include <algorithm>

namespace bus {

void Backoff::answered()
{
    m_state = State::Online;
    m_misses = 0;
    m_wait = 0;
    m_retryCycle = 0;
}

void Backoff::missed(qint64 cycle)
{
    ++m_misses;
    if (m_misses < missesToOffline) {
        m_state = State::NoReply;
        return;
    }
    // Every miss from here on doubles the wait, the retries of an offline module included.
    m_wait = m_state == State::Offline ? std::min(m_wait * 2, m_longestWait)
                                       : std::min(firstWait, m_longestWait);
    m_state = State::Offline;
    m_retryCycle = cycle + m_wait;
}

} // namespace bus

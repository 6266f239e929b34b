#include "bus/poller.h"

#include "protocol/frames.h"
#include "protocol/logging.h"
#include "samples/fromreply.h"

#include <QDateTime>

#include <algorithm>
#include <cmath>

namespace bus {

using namespace std::chrono;
using protocol::RequestKind;

double ModuleStatus::medianLatencyMs() const
{
    if (m_latencies.empty())
        return std::nan("");
    std::vector<float> sorted = m_latencies;
    const auto middle = sorted.begin() + std::ptrdiff_t(sorted.size() / 2);
    std::nth_element(sorted.begin(), middle, sorted.end());
    if (sorted.size() % 2 == 1)
        return double(*middle);
    const float below = *std::max_element(sorted.begin(), middle);
    return (double(below) + double(*middle)) / 2;
}

Poller::Poller(Link &link, QObject *parent) : QObject(parent), m_link(link)
{
    m_nextCycle.setSingleShot(true);
    m_nextCycle.setTimerType(Qt::PreciseTimer);
    connect(&m_nextCycle, &QTimer::timeout, this, &Poller::startCycle);
    connect(&m_link, &Link::exchanged, this, &Poller::onExchanged);
}

void Poller::setAddresses(const QList<int> &addresses)
{
    m_modules.clear();
    for (int address : addresses) {
        ModuleStatus module;
        module.address = quint8(address);
        m_modules.push_back(module);
    }
    m_identityDone = false;
}

void Poller::start()
{
    if (m_polling)
        return;
    const int longestWait =
        int(std::max<qint64>(1, duration_cast<milliseconds>(longestBackoff).count() /
                                    std::max<qint64>(1, m_period.count())));
    for (ModuleStatus &module : m_modules)
        module.backoff = Backoff(longestWait);
    m_polling = true;
    m_stopping = false;
    m_cycle = -1;
    startCycle();
}

void Poller::stop()
{
    if (!m_polling)
        return;
    m_stopping = true;
    // Between cycles nothing is on the line; otherwise the slot under way ends first.
    if (!m_link.isBusy())
        finishStop();
}

void Poller::finishStop()
{
    m_nextCycle.stop();
    m_polling = false;
    m_stopping = false;
    emit stopped();
}

void Poller::startCycle()
{
    ++m_cycle;
    m_cycleClock.start();
    m_cycleStartMsecs = QDateTime::currentMSecsSinceEpoch();
    m_slot = -1;
    m_step = Step::Measurement;
    // The modules that answer first, in their order; then the offline ones, whose retries wait
    // out a timeout each. Put last, those waits fall in the period's idle end: when every silent
    // module is due in the same cycle, they do not push the modules after them a timeout each
    // later, and every answering module keeps its place in the period.
    m_order.clear();
    for (int pass = 0; pass < 2; ++pass) {
        for (std::size_t i = 0; i < m_modules.size(); ++i) {
            if ((m_modules[i].state() == Backoff::State::Offline) == (pass == 1))
                m_order.push_back(int(i));
        }
    }
    nextSlot();
}

void Poller::nextSlot()
{
    if (m_stopping || m_link.isLost() || m_link.isInterrupted()) {
        finishStop();
        return;
    }
    while (++m_slot < int(m_order.size())) {
        ModuleStatus &module = m_modules[std::size_t(m_order[std::size_t(m_slot)])];
        if (module.backoff.isDue(m_cycle)) {
            ++module.sent;
            m_link.send(RequestKind::Measurement, frames::measurementRequest(module.address),
                        module.address);
            return;
        }
        emit skipped(m_order[std::size_t(m_slot)]);
    }
    if (!m_identityDone && startIdentity())
        return;
    endCycle();
}

void Poller::endCycle()
{
    emit cycleFinished(m_cycle, m_cycleClock.nsecsElapsed() / 1000);
    if (m_stopping) {
        finishStop();
        return;
    }
    // A cycle that overran its period is followed at once; the next does not try to make up.
    const qint64 left = m_period.count() - m_cycleClock.elapsed();
    m_nextCycle.start(int(std::max<qint64>(0, left)));
}

void Poller::onExchanged(const Exchange &exchange)
{
    if (!m_polling)
        return;
    noteStrays(exchange);
    const Step step = m_step;
    if (step == Step::Measurement)
        measured(m_modules[std::size_t(m_order[std::size_t(m_slot)])], exchange);
    if (exchange.outcome == Outcome::PortLost || exchange.outcome == Outcome::Interrupted) {
        finishStop();
        return;
    }
    if (step == Step::Measurement)
        nextSlot();
    else
        identified(exchange);
}

void Poller::measured(ModuleStatus &module, const Exchange &exchange)
{
    const int index = int(&module - m_modules.data());
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (exchange.outcome == Outcome::Answered) {
        ++module.answered;
        module.backoff.answered();
        module.offlineUntilMsecs = 0;
        module.lastReplyMsecs = now;
        module.latest = samples::sampleOfReply(exchange.reply, module.address, now);
        const float ms = float(exchange.took.count()) / 1000.0f;
        module.m_minLatency = module.answered == 1 ? ms : std::min(module.m_minLatency, ms);
        module.m_maxLatency = module.answered == 1 ? ms : std::max(module.m_maxLatency, ms);
        if (module.m_latencies.size() < latencyWindow)
            module.m_latencies.push_back(ms);
        else
            module.m_latencies[module.m_nextLatency] = ms;
        module.m_nextLatency = (module.m_nextLatency + 1) % latencyWindow;
        emit polled(index, module.latest);
    } else if (exchange.outcome != Outcome::Interrupted && exchange.outcome != Outcome::PortLost) {
        module.backoff.missed(m_cycle);
        if (module.state() == Backoff::State::Offline) {
            module.offlineUntilMsecs =
                m_cycleStartMsecs + (module.backoff.retryCycle() - m_cycle) * m_period.count();
        }
        qCDebug(lcModule) << "module" << module.address << "missed" << module.backoff.missesInARow()
                          << "polls in a row";
        emit polled(index,
                    samples::noReplySample(module.address, now - exchange.took.count() / 1000));
    } else {
        // The poll never had its chance: it counts as not sent.
        --module.sent;
    }
    emit moduleChanged(index);
}

void Poller::noteStrays(const Exchange &exchange)
{
    for (const Stray &stray : exchange.strays) {
        const protocol::ReplyKind kind = stray.reply.kind;
        if (kind != protocol::ReplyKind::Measurement &&
            kind != protocol::ReplyKind::MeasurementWithWetBulb)
            continue;
        const quint8 from = quint8(stray.reply.frame.at(0));
        for (ModuleStatus &module : m_modules) {
            if (module.address == from)
                ++module.lateReplies;
        }
    }
}

bool Poller::startIdentity()
{
    std::vector<int> online;
    for (std::size_t i = 0; i < m_modules.size(); ++i) {
        if (m_modules[i].state() == Backoff::State::Online)
            online.push_back(int(i));
    }
    if (online.empty())
        return false; // asked again once some module answers
    m_identityDone = true;
    if (online.size() > 1) {
        setIdentityNote(tr("several modules answer: type and serial number are read with a "
                           "module alone on the line"));
        return false;
    }
    // Logger frames reach every module on the line, the ones outside the set too: the address
    // read through address 0 tells whether this one is alone.
    m_identityIndex = online.front();
    m_step = Step::AddressCheck;
    m_link.send(RequestKind::ReadAddress, frames::readAddressRequest());
    return true;
}

void Poller::identified(const Exchange &exchange)
{
    ModuleStatus &module = m_modules[std::size_t(m_identityIndex)];
    const Step step = m_step;
    m_step = Step::Measurement;
    if (step == Step::AddressCheck) {
        const bool alone = exchange.answered() && exchange.reply.address == module.address;
        if (alone && !m_stopping) {
            m_step = Step::DeviceInfo;
            m_link.send(RequestKind::DeviceInfo, frames::readDeviceInfoRequest());
            return;
        }
        if (!alone && (exchange.answered() || exchange.outcome == Outcome::Damaged))
            setIdentityNote(tr("other modules share the line: type and serial number are read "
                               "with a module alone on it"));
        else
            m_identityDone = false; // not asked to the end: again next cycle
    } else if (exchange.answered()) {
        module.model = exchange.reply.loggerModel;
        module.serialNumber = exchange.reply.serialNumber;
        module.identityNote.clear();
        emit moduleChanged(m_identityIndex);
    } else {
        m_identityDone = false;
    }
    endCycle();
}

void Poller::setIdentityNote(const QString &note)
{
    for (std::size_t i = 0; i < m_modules.size(); ++i) {
        m_modules[i].identityNote = note;
        emit moduleChanged(int(i));
    }
}

} // namespace bus

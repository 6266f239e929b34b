#include "link/reconnector.h"

#include <QFileInfo>
#include <QTimer>

#include <chrono>

namespace {
using namespace std::chrono_literals;
// How soon a returned port is noticed, and how often one that will not open yet is tried again.
constexpr auto checkPeriod = 500ms;
// udev tells a USB adapter's serial number and by-id name a moment after its node appears;
// a port that shows none for this long is not taken for the lost adapter.
constexpr int identityPatience = 20; // checks

// What the system tells of the port behind `portName`; no more than the name when it has no
// entry (a pseudo-terminal, or a port already gone).
PortEntry entryOf(const QString &portName)
{
    const QString device = QFileInfo(PortWatcher::locationOf(portName)).canonicalFilePath();
    PortEntry entry;
    for (const PortEntry &port : PortWatcher::scan()) {
        if (port.location == device || port.name == portName) {
            entry = port;
            break;
        }
    }
    entry.name = portName;
    return entry;
}
} // namespace

Reconnector::Reconnector(Reopen reopen, QObject *parent)
    : QObject(parent), m_reopen(std::move(reopen)), m_timer(new QTimer(this)),
      m_watcher(new PortWatcher(this))
{
    connect(m_timer, &QTimer::timeout, this, &Reconnector::check);
}

void Reconnector::noteEstablished(const QString &portName, qint32 speed)
{
    stopWaiting();
    m_name = portName;
    m_speed = speed;
    // Learnt now, while the adapter is there: once pulled, the system no longer knows it.
    // A reconnect establishes the same port again; it is not looked up twice.
    const QByteArray node = PortWatcher::nodeKey(PortWatcher::locationOf(portName));
    if (portName == m_adapter.name && node == m_adapterNode)
        return;
    m_adapter = entryOf(portName);
    m_adapterNode = node;
}

void Reconnector::notePolling(bool polling)
{
    // The loss itself stops the poll; what counts is whether it ran before.
    if (!m_waiting)
        m_polling = polling;
}

void Reconnector::noteLost()
{
    // A loss before any link stood (during the probe, say) has nothing to bring back.
    if (m_name.isEmpty())
        return;
    m_waiting = true;
    m_pollingAtLoss = m_polling;
    m_nodeAtLoss = presence(m_name);
    m_sawAbsent = m_nodeAtLoss.isEmpty();
    m_rejectedNode.clear();
    m_lookedNode.clear();
    qCDebug(lcPorts) << "waiting for" << m_name << "to come back";
    m_watcher->start();
    m_timer->start(checkPeriod);
}

void Reconnector::cancel()
{
    stopWaiting();
    m_name.clear();
    m_speed = 0;
}

void Reconnector::stopWaiting()
{
    if (m_waiting)
        qCDebug(lcPorts) << "no longer waiting for" << m_name;
    m_waiting = false;
    m_timer->stop();
    m_watcher->stop();
}

void Reconnector::check()
{
    const QByteArray node = presence(m_name);
    if (node.isEmpty()) {
        m_sawAbsent = true;
        m_rejectedNode.clear();
    }
    // A node still there since the loss is the dead one: an adapter that failed without
    // going away is not back.
    const bool madeAnew = !node.isEmpty() && (m_sawAbsent || node != m_nodeAtLoss);
    QString port;
    if (madeAnew && node != m_rejectedNode && isLostAdapter(node))
        port = m_name;
    else
        port = sameAdapterElsewhere();
    if (port.isEmpty())
        return;
    qCDebug(lcPorts) << "reopening" << port << "at" << m_speed;
    if (m_reopen(port, m_speed, m_pollingAtLoss))
        stopWaiting();
}

bool Reconnector::isLostAdapter(const QByteArray &node)
{
    // Nothing to compare: the enumeration is not paid for.
    if (!m_adapter.hasIdentity())
        return true;
    if (node != m_lookedNode) {
        m_lookedNode = node;
        m_unknownLooks = 0;
    }
    switch (compareAdapters(m_adapter, entryOf(m_name))) {
    case AdapterMatch::Same:
        return true;
    case AdapterMatch::Unknown:
        if (++m_unknownLooks < identityPatience)
            return false;
        break;
    case AdapterMatch::Different:
        break;
    }
    // Opening it would toggle its modem lines and poll a device nobody linked.
    qCDebug(lcPorts) << "another device under" << m_name << "is left alone";
    m_rejectedNode = node;
    return false;
}

QByteArray Reconnector::presence(const QString &portName) const
{
    const QByteArray node = PortWatcher::nodeKey(PortWatcher::locationOf(portName));
    if (!node.isEmpty())
        return node;
    // Windows: a COM port has no node to look at, only its place in the system's list.
    const auto ports = m_watcher->ports();
    for (const PortEntry &port : ports) {
        if (port.name == portName)
            return QByteArrayLiteral("listed");
    }
    return {};
}

QString Reconnector::sameAdapterElsewhere() const
{
    // The by-id name tells the interface of a multi-port adapter too; a serial number alone
    // names the adapter only when exactly one port carries it.
    QString found;
    int matches = 0;
    const auto ports = m_watcher->ports();
    for (const PortEntry &port : ports) {
        if (port.name == m_name)
            continue;
        const bool same = !m_adapter.byIdPath.isEmpty()
                              ? port.byIdPath == m_adapter.byIdPath
                              : !m_adapter.serialNumber.isEmpty() && m_adapter.hasUsbIds &&
                                    port.serialNumber == m_adapter.serialNumber &&
                                    port.vendorId == m_adapter.vendorId &&
                                    port.productId == m_adapter.productId;
        if (same) {
            found = port.name;
            ++matches;
        }
    }
    return matches == 1 ? found : QString();
}

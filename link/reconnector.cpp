#include "link/reconnector.h"

#include <QFileInfo>
#include <QTimer>

#include <chrono>

namespace {
using namespace std::chrono_literals;
// How soon a returned port is noticed, and how often one that will not open yet is tried again.
constexpr auto checkPeriod = 500ms;
} // namespace

Reconnector::Reconnector(Reopen reopen, QObject *parent)
    : QObject(parent), m_reopen(std::move(reopen)), m_timer(new QTimer(this)),
      m_watcher(new PortWatcher(this))
{
    connect(m_timer, &QTimer::timeout, this, &Reconnector::check);
}

void Reconnector::noteOpened(const QString &portName, qint32 speed)
{
    cancel();
    m_name = portName;
    m_speed = speed;
    // Learnt now, while the adapter is there: once pulled, the system no longer knows it. The
    // probe opens the same port six times; it is looked up once.
    const QString location = PortWatcher::locationOf(portName);
    const QByteArray node = PortWatcher::nodeKey(location);
    if (portName == m_adapter.name && node == m_adapterNode)
        return;
    m_adapter = PortEntry{};
    m_adapter.name = portName;
    m_adapterNode = node;
    const QString device = QFileInfo(location).canonicalFilePath();
    for (const PortEntry &port : PortWatcher::scan()) {
        if (port.location == device || port.name == portName) {
            m_adapter = port;
            m_adapter.name = portName;
            break;
        }
    }
}

void Reconnector::notePolling(bool polling)
{
    // The loss itself stops the poll; what counts is whether it ran before.
    if (!m_waiting)
        m_polling = polling;
}

void Reconnector::noteLost()
{
    if (m_name.isEmpty())
        return;
    m_waiting = true;
    m_pollingAtLoss = m_polling;
    m_nodeAtLoss = presence(m_name);
    m_sawAbsent = m_nodeAtLoss.isEmpty();
    qCDebug(lcPorts) << "waiting for" << m_name << "to come back";
    m_watcher->start();
    m_timer->start(checkPeriod);
}

void Reconnector::cancel()
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
    if (node.isEmpty())
        m_sawAbsent = true;
    // A node still there since the loss is the dead one: an adapter that failed without
    // going away is not back.
    QString port;
    if (!node.isEmpty() && (m_sawAbsent || node != m_nodeAtLoss))
        port = m_name;
    else
        port = sameAdapterElsewhere();
    if (port.isEmpty())
        return;
    qCDebug(lcPorts) << "reopening" << port << "at" << m_speed;
    if (m_reopen(port, m_speed, m_pollingAtLoss))
        cancel();
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
